#include "runtime/except/print.h"

#include <ostream>

namespace talvo {

namespace {

constexpr std::uint32_t kBlockSize = 20;

}  // namespace

std::string printedForm(const CORBA::SystemException& e,
                        ErrorCatalogue& catalogue) {
  const std::uint32_t minor = e.minor();
  const std::uint32_t base = minor - minor % kBlockSize;
  std::string out = std::to_string(minor) + "-- " + catalogue.text(base, 0);
  if (minor != base) {
    out += "\n  - ";
    out += catalogue.text(base, minor - base, e.detailOrNull());
  }
  out += "\n  [Completion status : ";
  out += CORBA::completionStatusName(e.completed());
  out += "]\n";
  return out;
}

std::string printedForm(const CORBA::Environment& env,
                        ErrorCatalogue& catalogue) {
  if (const CORBA::SystemException* e = env.systemException()) {
    return "SYSTEM_EXCEPTION  : " + printedForm(*e, catalogue);
  }
  if (env.kind() == CORBA::Environment::kUser && env.exception() != nullptr) {
    return "USER_EXCEPTION    : " + env.exception()->name();
  }
  return "NO_EXCEPTION      : \n";
}

}  // namespace talvo

namespace CORBA {

void SystemException::print(std::ostream& out) const {
  out << talvo::printedForm(*this, talvo::processCatalogue());
}

void Environment::print(std::ostream& out) const {
  out << talvo::printedForm(*this, talvo::processCatalogue());
}

}  // namespace CORBA
