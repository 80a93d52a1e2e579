// Printed forms written to the run time's trace stream.
#include <sstream>
#include <string_view>

#include "runtime/config/trace_stream.h"
#include "runtime/except/print.h"

namespace talvo {

namespace {

// Writes `text` with each line end as talvo::endl.
void writeLines(TalvoStream& stream, std::string_view text) {
  for (auto end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n')) {
    stream << text.substr(0, end) << talvo::endl;
    text.remove_prefix(end + 1);
  }
  if (!text.empty()) stream << text;
}

}  // namespace

void print(TalvoStream& stream, const CORBA::Exception& e) {
  std::ostringstream out;
  e.print(out);
  writeLines(stream, out.str());
}

void print(TalvoStream& stream, const CORBA::Environment& env) {
  writeLines(stream, printedForm(env, processCatalogue()));
}

}  // namespace talvo
