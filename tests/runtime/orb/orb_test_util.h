// Shared pieces of the Orb tests: a server Orb running its loop on its own
// thread with a test object "Account" served under the marker "acct1".

#ifndef TALVO_TESTS_RUNTIME_ORB_ORB_TEST_UTIL_H_
#define TALVO_TESTS_RUNTIME_ORB_ORB_TEST_UTIL_H_

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/orb/orb.h"
#include "support/config_support.h"
#include "support/transport_context.h"

namespace talvo::testing {

using TestContext = RecordingContext;
using Values = std::map<std::string, std::string>;

// What the test object saw, written on the server thread.
struct Seen {
  std::mutex mu;
  std::vector<std::string> notes;
  std::string principal = "<none>";
  std::uint32_t pid = 99;
};

inline constexpr const char* kDeposit =
    "Ro~deposit~+amount{l},-balance{l},*note{0},>{b},N{}";
inline constexpr const char* kFail = "Ro~fail~+minor{ul},>{v},N{}";
inline constexpr const char* kFailUser = "Ro~failUser~,>{v},N{}";
inline constexpr const char* kNotify = "Ro~notify~+text{0},>{v},O{}";
inline constexpr const char* kWhoAmI = "Ro~whoAmI~-user{0},-pid{ul},>{v},N{}";
inline constexpr const char* kGetName = "Ro~getName~,>{0},N{}";

// The "Account" interface of the tests.
std::shared_ptr<protocol::Interface> makeAccount(Seen& seen);

// A server Orb whose loop runs on its own thread between start() and
// stop(). Configure it (serve, listen) before start().
class ServerThread {
 public:
  explicit ServerThread(OrbOptions options) : orb(options) {}
  ~ServerThread() { stop(); }
  void start() {
    thread_ = std::thread([this] {
      while (!stop_) orb.runOnce(20);
    });
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Runs the loop again after stop() (to change what it serves meanwhile).
  static void restart(ServerThread& s) {
    s.stop_ = false;
    s.start();
  }
  Orb orb;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The account object served on a port chosen by the system.
class AccountServer {
 public:
  explicit AccountServer(bool optimise = false,
                         std::optional<std::string> max_size = std::nullopt);
  Target target(const std::string& marker = "acct1",
                const std::string& interface_name = "Account") const;

  TestContext context;
  TestConfig config;
  Seen seen;
  std::unique_ptr<ServerThread> server;
  std::uint16_t port = 0;
};

// Options of a client Orb with its own context and configuration.
OrbOptions clientOptions(TestContext& context, TestConfig& config,
                         std::uint32_t pid = 4242, bool optimise = false);

}  // namespace talvo::testing

#endif  // TALVO_TESTS_RUNTIME_ORB_ORB_TEST_UTIL_H_
