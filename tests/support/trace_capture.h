// Collects the lines written to the process-wide trace stream while it
// lives and keeps standard output quiet meanwhile. Header only; a test
// using it links talvo_config.
//
// Threading: the trace dispatcher is process-wide; read lines() only while
// no other thread traces.

#ifndef TALVO_TESTS_SUPPORT_TRACE_CAPTURE_H_
#define TALVO_TESTS_SUPPORT_TRACE_CAPTURE_H_

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/config/trace_stream.h"

namespace talvo::testing {

class TraceCapture {
 public:
  TraceCapture() {
    auto handler = std::make_unique<Handler>();
    handler_ = handler.get();
    was_active_ = traceDispatcher().isActive("QV_StdOut");
    traceDispatcher().deactivate("QV_StdOut");
    traceDispatcher().add("TestCapture", std::move(handler));
  }
  ~TraceCapture() {
    traceDispatcher().remove("TestCapture");
    if (was_active_) traceDispatcher().activate("QV_StdOut");
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  const std::vector<std::string>& lines() const { return handler_->lines; }
  void clear() { handler_->lines.clear(); }
  bool hasLine(const std::string& line) const {
    return std::find(lines().begin(), lines().end(), line) != lines().end();
  }
  bool hasLineStarting(const std::string& start) const {
    return std::any_of(lines().begin(), lines().end(),
                       [&](const auto& l) { return l.rfind(start, 0) == 0; });
  }

 private:
  struct Handler : MessageHandler {
    std::vector<std::string> lines;
    void process(std::string_view message) override {
      lines.emplace_back(message);
    }
  };
  Handler* handler_;
  bool was_active_ = false;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TRACE_CAPTURE_H_
