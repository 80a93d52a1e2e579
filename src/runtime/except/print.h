// Printed forms of system exceptions and environments.
//
// A system exception with minor code m prints as
//   "<m>-- <group text of m's block>"
//   "  - <text of m with the detail>"          (only when m % 20 != 0)
//   "  [Completion status : COMPLETED_NO]"
// each line ended by a line end. An environment prints as
// "NO_EXCEPTION      : " and a line end, "USER_EXCEPTION    : " and the
// exception's name, or "SYSTEM_EXCEPTION  : " and the printed form above.
//
// The member functions print() of CORBA::SystemException and
// CORBA::Environment write these forms with the process-wide catalogue; the
// functions here take the catalogue explicitly or write to the trace stream.
//
// Thread safety: as safe as the catalogue and the stream used.

#ifndef TALVO_RUNTIME_EXCEPT_PRINT_H_
#define TALVO_RUNTIME_EXCEPT_PRINT_H_

#include <string>

#include "runtime/except/catalogue.h"
#include "runtime/except/exception.h"

namespace talvo {

class TalvoStream;

// The printed form of `e` with the texts of `catalogue`.
std::string printedForm(const CORBA::SystemException& e,
                        ErrorCatalogue& catalogue);
// The printed form of `env` with the texts of `catalogue`.
std::string printedForm(const CORBA::Environment& env,
                        ErrorCatalogue& catalogue);

// Write the printed form (process-wide catalogue) to `stream`; every line
// end of the form is written as talvo::endl, text after the last line end
// stays pending on the stream as it would on a std::ostream.
void print(TalvoStream& stream, const CORBA::Exception& e);
void print(TalvoStream& stream, const CORBA::Environment& env);

}  // namespace talvo

#endif  // TALVO_RUNTIME_EXCEPT_PRINT_H_
