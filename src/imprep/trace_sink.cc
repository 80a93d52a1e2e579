// Kept in a file of its own: only programs that route the repository's trace
// to the run time's trace stream link the stream through it.
#include "imprep/trace.h"
#include "runtime/config/trace_stream.h"

namespace talvo::imprep {

TraceSink traceStreamSink() {
  return [](std::string_view line) { traceStream() << line << endl; };
}

}  // namespace talvo::imprep
