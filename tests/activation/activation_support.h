// Test doubles for the activator's hooks and a capture of trace lines.

#ifndef TALVO_TESTS_ACTIVATION_ACTIVATION_SUPPORT_H_
#define TALVO_TESTS_ACTIVATION_ACTIVATION_SUPPORT_H_

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "activation/activator_hooks.h"
#include "support/trace_capture.h"

namespace talvo::testing {

// The run time as the tests want it: channels and ping results are set by
// the test.
class FakeRuntime : public ActivationRuntime {
 public:
  std::string host = "testhost.example.com";
  // (server, marker, host) -> process id reported by the channel.
  std::map<std::tuple<std::string, std::string, std::string>, std::int32_t>
      channels;
  std::optional<std::string> iiop;
  Status nextPingError;
  std::vector<std::tuple<std::string, std::string, std::string>> pings;

  std::string localHostName() override { return host; }
  std::optional<std::int32_t> channelProcessId(const std::string& server,
                                               const std::string& marker,
                                               const std::string& h) override {
    auto it = channels.find({server, marker, h});
    if (it == channels.end()) return std::nullopt;
    return it->second;
  }
  // (server, pid) pairs whose process holds the server's connection.
  std::set<std::pair<std::string, std::int32_t>> held;
  bool channelHeldBy(const std::string& server, const std::string&,
                     std::int32_t pid) override {
    return held.count({server, pid}) != 0;
  }
  Status pingObject(const std::string& h, const std::string& server,
                    const std::string& marker) override {
    pings.emplace_back(h, server, marker);
    return std::move(nextPingError);
  }
  std::optional<std::string> iiopPort() override { return iiop; }
};

// A checkpoint that is enabled and remembers every call as one text.
class RecordingCheckpoint : public ActivationCheckpoint {
 public:
  std::vector<std::string> calls;
  bool enabled() const override { return true; }
  void registered(const std::string& server, const std::string& marker,
                  std::int32_t pid, std::uint32_t size,
                  const std::string& comms, const std::string& code,
                  const std::string& port, LaunchStatus status,
                  const std::optional<std::string>& principal) override {
    calls.push_back("registered " + server + " " + marker + " " +
                    std::to_string(pid) + " " + std::to_string(size) + " " +
                    comms + " " + code + " " + port + " " +
                    std::to_string(static_cast<int>(status)) + " " +
                    principal.value_or("(none)"));
  }
  void updated(const std::string& server, const std::string& marker,
               const std::optional<std::string>& principal,
               LaunchStatus status) override {
    calls.push_back("updated " + server + " " + marker + " " +
                    principal.value_or("(none)") + " " +
                    std::to_string(static_cast<int>(status)));
  }
  void deleted(const std::string& server, const std::string& marker,
               const std::optional<std::string>& principal) override {
    calls.push_back("deleted " + server + " " + marker + " " +
                    principal.value_or("(none)"));
  }
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_ACTIVATION_ACTIVATION_SUPPORT_H_
