#include "runtime/iiop/exception_ids.h"

#include "runtime/except/names.h"

namespace talvo::iiop {
namespace {

constexpr std::string_view kSystemIdPrefix = "IDL:omg.org/CORBA/";

}  // namespace

std::string systemExceptionId(const CORBA::SystemException& e) {
  return std::string(kSystemIdPrefix) + e.bareName() + ":1.0";
}

SystemExceptionBody systemExceptionBody(const CORBA::SystemException& e) {
  SystemExceptionBody b;
  b.id = systemExceptionId(e);
  b.minor = e.minor();
  b.completed = e.completed();
  return b;
}

Status systemExceptionFrom(const SystemExceptionBody& body) {
  // Only the standard form names a system exception; anything else (a bare
  // name among it) is unknown here.
  if (!std::string_view(body.id).starts_with(kSystemIdPrefix)) {
    return std::make_unique<CORBA::UNKNOWN>(body.minor, body.completed);
  }
  return CORBA::makeSystemException(body.id, body.minor, body.completed);
}

std::string userExceptionId(const CORBA::Exception& e) {
  if (e.id() && !e.id()->empty()) return *e.id();
  return convertName(e.name(), NameForm::kGeneralRepoId, false);
}

std::unique_ptr<CORBA::UserException> userExceptionFrom(std::string_view id) {
  return std::make_unique<CORBA::UserException>(
      convertName(id, NameForm::kShortScoped, false), std::string(id));
}

}  // namespace talvo::iiop
