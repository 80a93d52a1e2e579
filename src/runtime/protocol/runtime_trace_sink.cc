// The dispatcher's trace sink over the run time's configuration and trace
// stream. In a file of its own so that users of the dispatcher that pass
// their own sink do not need the configuration layer's code.

#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "runtime/protocol/dispatcher.h"

namespace talvo::protocol {
namespace {

class RuntimeTraceSink : public TraceSink {
 public:
  int level() const override { return runtimeConfig().diagnosticsLevel(); }
  void line(std::string_view text) override {
    TalvoStream& out = traceStream();
    runtimeConfig().writePrefix(out);
    out << text << talvo::endl;
  }
};

}  // namespace

TraceSink& runtimeTraceSink() {
  static RuntimeTraceSink sink;
  return sink;
}

}  // namespace talvo::protocol
