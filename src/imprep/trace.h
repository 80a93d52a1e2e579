// Where the repository's trace lines go.
//
// The repository writes its trace lines (one per call, without a line end)
// to a TraceSink given at creation. An empty sink drops them; the daemon
// passes traceStreamSink(), which writes each line to the run time's trace
// stream.

#ifndef TALVO_IMPREP_TRACE_H_
#define TALVO_IMPREP_TRACE_H_

#include <functional>
#include <string_view>

namespace talvo::imprep {

using TraceSink = std::function<void(std::string_view line)>;

// A sink writing each line to talvo::traceStream(), ended by talvo::endl.
TraceSink traceStreamSink();

}  // namespace talvo::imprep

#endif  // TALVO_IMPREP_TRACE_H_
