// The built talvod as a child process of a test: started in a temporary
// folder of its own (settings file, repository, service folder), on a port
// the system picks and found there, with a range of server ports of this
// test process's own. The servers it launched end with it.
//
// Threading: none; a daemon belongs to the test's thread.

#ifndef TALVO_TESTS_SUPPORT_TALVOD_H_
#define TALVO_TESTS_SUPPORT_TALVOD_H_

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace talvo::testing {

std::string talvodPath();
// A file of the source tree (e.g. "etc/Talvo.err").
std::string sourceFile(const std::string& relative);

// The TCP port process `pid` listens on (IPv4), or 0 while it listens on
// none: its sockets matched against the kernel's table of listening ones.
std::uint16_t listeningPort(pid_t pid);

// The context switches of all threads of `pid` (how often it woke).
long contextSwitches(pid_t pid);

// A settings file holding the daemon's key with `body` as its lines.
std::string daemonRegistry(const std::string& body);

// talvod (or `program`) with `args`, its output in files of `dir`, and
// only PATH of the test's environment plus: QV_REGISTRY, QV_SERVICE_DIR,
// QV_IMP_REP_PATH and QV_LOCATOR_PATH pointing into `dir`, no configuration
// file, the project's error catalogue, QV_DAEMON_PORT "0" (see port()), and
// `extra` over these (an empty value removes a variable). With
// `usr1_pending_at_start`, SIGUSR1 is blocked when the program starts, so
// that one sent at once waits for the program to take it.
class Talvod : public ChildProcess {
 public:
  Talvod(const TempDir& dir, std::vector<std::string> args,
         std::map<std::string, std::string> extra = {},
         bool usr1_pending_at_start = false,
         const std::string& program = talvodPath());
  // Ends the servers it launched before it goes.
  ~Talvod();

  // The port the daemon listens on, once it does (0 when it ended or did
  // not listen in time).
  std::uint16_t port();
};

// What a DaemonUnderTest starts with.
struct DaemonSetup {
  std::string settings = {};                    // lines of the daemon's key
  std::map<std::string, std::string> env = {};  // as Talvod's `extra`
  std::vector<std::string> args = {"-f"};
  std::string program = talvodPath();
};

// talvod in the foreground in a folder of its own, with servers' ports
// from a range of this test process's own (the daemon skips any port of it
// that is taken). ready() waits until it listens.
class DaemonUnderTest {
 public:
  explicit DaemonUnderTest(const DaemonSetup& setup = {});

  bool ready() { return (port_ = talvod_.port()) != 0; }
  std::uint16_t port() const { return port_; }
  const TempDir& dir() const { return dir_; }
  Talvod& process() { return talvod_; }
  // The daemon's output and errors, for failure messages.
  std::string log() const { return talvod_.output() + talvod_.errors(); }

 private:
  static TempDir& prepared(TempDir& dir, const DaemonSetup& setup);

  TempDir dir_;
  Talvod talvod_;
  std::uint16_t port_ = 0;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TALVOD_H_
