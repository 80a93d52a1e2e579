// Placeholder printed forms until the catalogue lands.
#include "runtime/except/exception.h"

namespace CORBA {

void SystemException::print(std::ostream& out) const {
  out << minor() << "-- " << bareName() << "\n  [Completion status : "
      << completionStatusName(completed()) << "]\n";
}

void Environment::print(std::ostream& out) const {
  if (kind_ == kNone || !exception_) {
    out << "NO_EXCEPTION      : \n";
  } else if (kind_ == kUser) {
    out << "USER_EXCEPTION    : " << exception_->name();
  } else {
    out << "SYSTEM_EXCEPTION  : ";
    exception_->print(out);
  }
}

}  // namespace CORBA
