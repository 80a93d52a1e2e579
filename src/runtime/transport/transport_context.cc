// The process-wide transport context: kept in a file of its own so that
// code (and tests) that bring their own context do not pull in the run-time
// configuration and trace stream.

#include "runtime/transport/transport_context.h"

#include "platform/environment.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"

namespace talvo {
namespace {

class ProcessContext : public TransportContext {
 public:
  int diagnosticsLevel() override { return runtimeConfig().diagnosticsLevel(); }

  void trace(std::string_view text, bool prefixed) override {
    TalvoStream& stream = traceStream();
    if (prefixed) runtimeConfig().writePrefix(stream);
    stream << text << endl;
  }

  std::optional<std::string> connectAttempts() override {
    const char* value = runtimeConfig().connectAttempts();
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  std::optional<std::string> maxMessageSize() override {
    return platform::getEnv("QV_MAX_MESSAGE_SIZE");
  }
};

}  // namespace

TransportContext& TransportContext::process() {
  static ProcessContext context;
  return context;
}

}  // namespace talvo
