// Transport contexts for tests: QuietContext writes no trace, connects once
// and never pauses; RecordingContext keeps trace lines for the test to
// inspect and takes its configuration values (and the pause between
// connect attempts) from the test.
// Header only; a test using them links talvo_transport.
//
// Threading: RecordingContext locks, so a loop on another thread may use
// it while the test reads it.

#ifndef TALVO_TESTS_SUPPORT_TRANSPORT_CONTEXT_H_
#define TALVO_TESTS_SUPPORT_TRANSPORT_CONTEXT_H_

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/transport/transport_context.h"

namespace talvo::testing {

class QuietContext : public TransportContext {
 public:
  int diagnosticsLevel() override { return 0; }
  void trace(std::string_view, bool) override {}
  std::optional<std::string> connectAttempts() override { return "1"; }
  std::optional<std::string> maxMessageSize() override { return std::nullopt; }
  std::chrono::milliseconds retryPause() override {
    return std::chrono::milliseconds(0);
  }
};

class RecordingContext : public TransportContext {
 public:
  int diagnosticsLevel() override { return level; }
  void trace(std::string_view text, bool prefixed) override {
    std::lock_guard lock(mu_);
    lines_.push_back((prefixed ? "[test: " : "") + std::string(text));
  }
  std::optional<std::string> connectAttempts() override { return attempts; }
  std::optional<std::string> maxMessageSize() override { return max_size; }
  std::chrono::milliseconds retryPause() override { return retry_pause; }
  std::vector<std::string> lines() {
    std::lock_guard lock(mu_);
    return lines_;
  }
  // The number of recorded lines that contain `part`.
  int count(std::string_view part) {
    int n = 0;
    for (const std::string& l : lines()) n += l.find(part) != l.npos;
    return n;
  }

  std::atomic<int> level{1};
  std::optional<std::string> attempts;
  std::optional<std::string> max_size;
  std::chrono::milliseconds retry_pause{0};

 private:
  std::mutex mu_;
  std::vector<std::string> lines_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TRANSPORT_CONTEXT_H_
