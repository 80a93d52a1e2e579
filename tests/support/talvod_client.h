// A client of the daemon's interface for tests: the stubs over an Orb of
// their own that reaches the daemon at 127.0.0.1:`port`. Header only; a test
// using it links talvo_client and the run time's layers.
//
// Threading: none; a client belongs to the test's thread.

#ifndef TALVO_TESTS_SUPPORT_TALVOD_CLIENT_H_
#define TALVO_TESTS_SUPPORT_TALVOD_CLIENT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "client/daemon_client.h"
#include "runtime/orb/orb.h"
#include "support/config_support.h"
#include "support/transport_context.h"

namespace talvo::testing {

namespace detail {
// The Orb a TalvodClient calls through, made before the stubs.
struct ClientOrb {
  explicit ClientOrb(std::uint16_t port)
      : config({{"QV_DAEMON_PORT", std::to_string(port)}}),
        orb_(OrbOptions{.context = &context,
                        .config = &config.get(),
                        .reply_timeout_ms = 15000}) {}
  QuietContext context;
  TestConfig config;
  Orb orb_;
};
}  // namespace detail

class TalvodClient : private detail::ClientOrb, public client::DaemonClient {
 public:
  explicit TalvodClient(std::uint16_t port)
      : ClientOrb(port), DaemonClient(orb_, daemonAt(orb_)) {}
  Orb& orb() { return orb_; }

 private:
  static Target daemonAt(Orb& orb) {
    Target t;
    EXPECT_EQ(orb.daemonTarget("127.0.0.1", t), nullptr);
    return t;
  }
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TALVOD_CLIENT_H_
