// ListenerSet: the extra IIOP ports the daemon listens on for registered
// servers, so that clients holding references with such a fixed port reach
// the daemon (which then forwards them to the server, daemon_filter.h).
//
// The ports list is the file "portsList" in the repository's root: white-
// space-separated pairs of a server name (one word) and an unsigned decimal
// port, any number of them; the daemon only reads it. At construction each
// pair whose server has a record gets an entry, whose port is opened at
// once (openListener); pairs of unknown servers are skipped. A port that
// does not open keeps its entry with port 0, and the construction reports
// COMM_FAILURE 10088 "Cant listen on port specified" once every pair has
// been read. A ports list the daemon may not open is NO_PERMISSION 10120;
// no ports list (or one that cannot be read for another reason) is an
// empty set.
//
// The run time is reached through IiopListening (orbIiopListening() over
// the daemon's Orb), so that the set can be built over a fake one.
//
// Thread safety: none; built and used on the daemon's event-loop thread.

#ifndef TALVO_INTERFACE_LISTENER_SET_H_
#define TALVO_INTERFACE_LISTENER_SET_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imprep/repository.h"
#include "imprep/trace.h"
#include "runtime/except/exception.h"

namespace talvo {
class Orb;
}  // namespace talvo

namespace talvo::interface {

// Minor codes of the listener set.
inline constexpr std::uint32_t kMinorPortsListDenied = 10120;  // NO_PERMISSION
inline constexpr std::uint32_t kMinorCannotListen = 10088;     // COMM_FAILURE
inline constexpr char kPortsListFile[] = "portsList";

// What the listener set asks of the run time.
class IiopListening {
 public:
  virtual ~IiopListening() = default;
  // Whether the process speaks IIOP.
  virtual bool available() = 0;
  // Opens a listening endpoint of this host on `port` (decimal) and gives
  // its descriptor.
  virtual Status createEndpoint(const std::string& port, int* descriptor) = 0;
  // Whether the endpoint has a local address.
  virtual bool localAddress(int descriptor) = 0;
  // Hands the endpoint to the run time's event handling as an IIOP
  // listener: connections accepted there are served.
  virtual Status registerListener(int descriptor) = 0;
};

// The run time's IIOP listening through `orb` (not owned; must outlive
// the result).
std::unique_ptr<IiopListening> orbIiopListening(Orb& orb);

struct Listener {
  std::string serverName;
  std::uint32_t port = 0;  // 0 when the port could not be opened
  int descriptor = -1;
};

class ListenerSet {
 public:
  // An empty set.
  ListenerSet() = default;
  // Reads root/portsList and opens the port of each pair whose server has
  // a record in `repository`. `runtime` may be null (no IIOP: every port
  // fails to open). Returns the construction's failure, if any; the set
  // holds the entries accepted either way.
  static Status build(const std::string& root,
                      const imprep::ImpRepository& repository,
                      IiopListening* runtime, imprep::TraceSink trace,
                      ListenerSet& out);

  // Opens the port of one entry (port 0 and the failure when it does not
  // open).
  Status openListener(Listener& entry);

  const std::vector<Listener>& entries() const { return entries_; }

 private:
  void trace(const std::string& line) const {
    if (trace_) trace_(line);
  }

  std::vector<Listener> entries_;
  IiopListening* runtime_ = nullptr;
  imprep::TraceSink trace_;
};

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_LISTENER_SET_H_
