// Loopback ports for tests, without the race of binding a port, closing it
// and hoping nobody takes it before the test does.
//
// LoopbackListener binds 127.0.0.1 port 0, listens, and keeps the socket
// open: the port is the test's for the listener's lifetime, or for whoever
// takes the descriptor with release(). Programs that pick their own port
// (port 0) report it instead; see ChildProcess::waitForOutput.
//
// Threading: none.

#ifndef TALVO_TESTS_SUPPORT_PORTS_H_
#define TALVO_TESTS_SUPPORT_PORTS_H_

#include <cstdint>

namespace talvo::testing {

class LoopbackListener {
 public:
  // With `listen` false the socket is bound only: the port is held, but a
  // connect to it is refused.
  explicit LoopbackListener(bool listen = true);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::uint16_t port() const { return port_; }
  int fd() const { return fd_; }
  // Hands the open socket over; the listener no longer closes it.
  int release();

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// True when a TCP connect to 127.0.0.1:`port` succeeds right now.
bool acceptsConnections(std::uint16_t port);

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_PORTS_H_
