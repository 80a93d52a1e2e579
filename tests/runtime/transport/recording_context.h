// A transport context for tests: records trace lines and pauses, and takes
// configuration values from the test.

#ifndef TALVO_TESTS_RUNTIME_TRANSPORT_RECORDING_CONTEXT_H_
#define TALVO_TESTS_RUNTIME_TRANSPORT_RECORDING_CONTEXT_H_

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "runtime/transport/transport_context.h"

namespace talvo {

class RecordingContext : public TransportContext {
 public:
  int diagnosticsLevel() override { return level; }
  void trace(std::string_view text, bool prefixed) override {
    lines.push_back((prefixed ? "[test: " : "") + std::string(text));
  }
  std::optional<std::string> connectAttempts() override { return attempts; }
  std::optional<std::string> maxMessageSize() override { return max_size; }
  std::chrono::milliseconds retryPause() override { return pause; }

  int level = 1;
  std::optional<std::string> attempts;
  std::optional<std::string> max_size;
  std::vector<std::string> lines;
  std::chrono::milliseconds pause{0};
};

}  // namespace talvo

#endif  // TALVO_TESTS_RUNTIME_TRANSPORT_RECORDING_CONTEXT_H_
