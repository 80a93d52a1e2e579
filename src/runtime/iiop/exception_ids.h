// Exceptions in GIOP replies: the repository ids they travel under and the
// exceptions made from the ids that arrive.
//
// A system exception travels as its standard id "IDL:omg.org/CORBA/<NAME>:
// 1.0" with its minor code and completion status (the detail text has no
// place in GIOP and stays behind). An id read back that names no system
// exception of this run time becomes CORBA::UNKNOWN with the minor code and
// completion status received. A user exception travels as its repository id
// (the id it carries, else "IDL:" and its name with "::" as "/", ":1.0"),
// followed by its members.
//
// Thread safety: pure functions.

#ifndef TALVO_RUNTIME_IIOP_EXCEPTION_IDS_H_
#define TALVO_RUNTIME_IIOP_EXCEPTION_IDS_H_

#include <memory>
#include <string>
#include <string_view>

#include "runtime/except/exception.h"
#include "runtime/iiop/giop.h"

namespace talvo::iiop {

// "IDL:omg.org/CORBA/BAD_PARAM:1.0" for a BAD_PARAM.
std::string systemExceptionId(const CORBA::SystemException& e);
// The body of a SYSTEM_EXCEPTION reply for `e`.
SystemExceptionBody systemExceptionBody(const CORBA::SystemException& e);
// The exception a SYSTEM_EXCEPTION reply body stands for (UNKNOWN for an
// id no class has).
Status systemExceptionFrom(const SystemExceptionBody& body);

// The repository id a user exception travels under.
std::string userExceptionId(const CORBA::Exception& e);
// A user exception read back from its id: named by the id's scoped name
// ("IDL:Bank/Overdrawn:1.0" gives "Bank::Overdrawn"), with the id kept.
std::unique_ptr<CORBA::UserException> userExceptionFrom(std::string_view id);

}  // namespace talvo::iiop

#endif  // TALVO_RUNTIME_IIOP_EXCEPTION_IDS_H_
