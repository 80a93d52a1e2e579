// End-to-end helpers: the built talvod started in the foreground on a port
// of its own choosing, with a throw-away configuration file, settings store,
// error catalogue and repository in a temporary folder, and a client Orb that
// calls it with the daemon table's signatures.
//
// Every process started here is killed and reaped by its destructor.

#ifndef TALVO_TESTS_DAEMON_E2E_E2E_SUPPORT_H_
#define TALVO_TESTS_DAEMON_E2E_E2E_SUPPORT_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../talvod_process.h"
#include "client/daemon_operations.h"
#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"
#include "support/transport_context.h"

namespace talvo::testing {

using client::DaemonOp;
using protocol::Value;

inline Value S(std::string s) { return Value::ofString(std::move(s)); }
inline Value L(const std::vector<std::string>& v) {
  return Value::ofStrings(v);
}
inline Value U(std::uint32_t v) { return Value::ofULong(v); }
inline Value B(bool v) { return Value::ofBool(v); }

// The project's error catalogue (read only).
inline const std::string kErrorsFile = TALVO_ERRORS_FILE;

// The settings of one daemon run.
struct DaemonSetup {
  bool protected_mode = false;
  std::string priority;  // unset: no setting
  // The checkpoint file; empty: checkpointing off.
  std::string checkpoint_file;
};

// talvod -f in its own folder (or `program`), listening once ready().
class DaemonUnderTest {
 public:
  explicit DaemonUnderTest(const DaemonSetup& setup = {},
                           const std::string& program = talvodPath()) {
    // Servers get ports from a range of this test process's own; the
    // daemon skips any port of it that is taken.
    const int base = 20000 + ::getpid() % 20000;
    const std::string rep = dir_.file("imprep");
    std::filesystem::create_directories(rep);
    writeFile(
        dir_.file("Talvo.cfg"),
        "QV_DAEMON_PORT=0\nQV_DAEMON_SERVER_BASE=" + std::to_string(base) +
            "\nQV_DAEMON_SERVER_RANGE=20\nQV_ERRORS=" + kErrorsFile +
            "\nQV_IMP_REP_PATH=" + rep + "\n");
    writeFile(
        dir_.file("registry"),
        daemonRegistry(
            (setup.priority.empty() ? "" : "Priority=" + setup.priority) +
            "\nProtected=" + (setup.protected_mode ? "yes" : "no") + "\n" +
            (setup.checkpoint_file.empty()
                 ? ""
                 : "Checkpoint=yes\nCheckPointFile=" + setup.checkpoint_file +
                       "\n")));
    std::map<std::string, std::string> env = {
        {"QV_CONFIG_PATH", dir_.file("Talvo.cfg")},
        {"QV_DAEMON_PORT", "0"},
        {"QV_IMP_REP_PATH", rep},
        {"QV_ERRORS", kErrorsFile},
        {"QV_DAEMON_SERVER_BASE", ""},
        {"QV_DAEMON_SERVER_RANGE", ""},
        {"QV_SERVER_PORT", ""},
        {"QV_SERVER_NAME", ""}};
    talvod_ = std::make_unique<Talvod>(dir_, std::vector<std::string>{"-f"},
                                       env, false, program);

    chain_ = std::make_unique<ConfigChain>();
    config_ = std::make_unique<RuntimeConfig>(*chain_);
    OrbOptions o;
    o.context = &context_;
    o.config = config_.get();
    o.reply_timeout_ms = 15000;
    client_ = std::make_unique<Orb>(o);
  }

  ~DaemonUnderTest() {
    client_.reset();
    talvod_.reset();  // SIGKILL and reap
  }

  // Waits until the daemon listens.
  bool ready() {
    port_ = talvod_->port();
    return port_ != 0;
  }

  Target target() const {
    Target t;
    t.host = "127.0.0.1";
    t.port = std::to_string(port_);
    t.ref = protocol::ObjectRef("localhost", "QV_daemon", "", "", "IR",
                                std::string(client::kDaemonInterfaceName));
    return t;
  }

  // Calls `op` with one value per parameter (outs left void).
  Status call(DaemonOp op, std::vector<Value> args, CallReply& reply) {
    return client_->call(target(), client::daemonOperation(op).signature,
                         std::move(args), reply);
  }

  const TempDir& dir() const { return dir_; }
  Talvod& process() { return *talvod_; }
  std::uint16_t port() const { return port_; }
  Orb& client() { return *client_; }

 private:
  TempDir dir_;
  std::uint16_t port_ = 0;
  std::unique_ptr<Talvod> talvod_;
  QuietContext context_;
  std::unique_ptr<ConfigChain> chain_;
  std::unique_ptr<RuntimeConfig> config_;
  std::unique_ptr<Orb> client_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_DAEMON_E2E_E2E_SUPPORT_H_
