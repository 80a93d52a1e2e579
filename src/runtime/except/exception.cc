#include "runtime/except/exception.h"

#include <array>
#include <utility>

namespace CORBA {

namespace {

constexpr std::string_view kShortScope = "CORBA::";
constexpr std::string_view kSystemScope = "CORBA::StExcep::";

std::string storedName(std::string_view name) {
  if (name.starts_with(kSystemScope)) return std::string(name);
  if (name.starts_with(kShortScope)) {
    return std::string(kSystemScope) +
           std::string(name.substr(kShortScope.size()));
  }
  return std::string(name);
}

}  // namespace

const char* completionStatusName(CompletionStatus status) {
  switch (status) {
    case COMPLETED_YES:
      return "COMPLETED_YES";
    case COMPLETED_NO:
      return "COMPLETED_NO";
    default:
      return "COMPLETED_MAYBE";
  }
}

Exception::Exception(std::string_view name, std::optional<std::string> id)
    : name_(storedName(name)), id_(std::move(id)) {}

Exception::~Exception() = default;

void Exception::record(Environment& env) const {
  env.set(clone(), Environment::kUser);
}

void Exception::print(std::ostream& out) const { out << name_; }

std::string Exception::bareName() const {
  std::string_view n = name_;
  if (n.starts_with(kSystemScope)) n.remove_prefix(kSystemScope.size());
  return std::string(n);
}

UserException::UserException(std::string_view name,
                             std::optional<std::string> id)
    : Exception(name, std::move(id)) {}

void UserException::raise() const { throw UserException(*this); }

std::unique_ptr<Exception> UserException::clone() const {
  return std::make_unique<UserException>(*this);
}

SystemException::SystemException(std::string_view name, std::uint32_t minor,
                                 CompletionStatus completed,
                                 std::optional<std::string> detail)
    : Exception(name, std::nullopt),
      minor_(minor),
      completed_(completed),
      detail_(std::move(detail)) {}

void SystemException::record(Environment& env) const {
  env.set(clone(), Environment::kSystem);
}

void SystemException::raise() const { throw SystemException(*this); }

std::unique_ptr<Exception> SystemException::clone() const {
  return std::make_unique<SystemException>(*this);
}

std::unique_ptr<SystemException> SystemException::cloneSystem() const {
  std::unique_ptr<Exception> copy = clone();
  return std::unique_ptr<SystemException>(
      static_cast<SystemException*>(copy.release()));
}

std::unique_ptr<SystemException> makeSystemException(
    std::string_view name, std::uint32_t minor, CompletionStatus completed,
    std::optional<std::string> detail) {
  constexpr std::string_view kRepoPrefix = "IDL:omg.org/CORBA/";
  if (name.starts_with(kSystemScope)) {
    name.remove_prefix(kSystemScope.size());
  } else if (name.starts_with(kShortScope)) {
    name.remove_prefix(kShortScope.size());
  } else if (name.starts_with(kRepoPrefix)) {
    name.remove_prefix(kRepoPrefix.size());
    if (auto colon = name.rfind(':'); colon != std::string_view::npos) {
      name = name.substr(0, colon);
    }
  }
#define TALVO_MAKE_IF(NAME)                                            \
  if (name == #NAME) {                                                 \
    return std::make_unique<NAME>(minor, completed, std::move(detail)); \
  }
  TALVO_FOR_EACH_SYSTEM_EXCEPTION(TALVO_MAKE_IF)
#undef TALVO_MAKE_IF
  return std::make_unique<UNKNOWN>(minor, completed, std::move(detail));
}

Environment::Environment(const Environment& other)
    : exception_(other.exception_ ? other.exception_->clone() : nullptr),
      kind_(other.kind_) {}

Environment& Environment::operator=(const Environment& other) {
  if (this != &other) {
    exception_ = other.exception_ ? other.exception_->clone() : nullptr;
    kind_ = other.kind_;
  }
  return *this;
}

Environment::~Environment() = default;

Environment& Environment::defaultEnvironment() {
  static Environment env;
  return env;
}

const SystemException* Environment::systemException() const {
  return kind_ == kSystem ? static_cast<const SystemException*>(exception_.get())
                          : nullptr;
}

void Environment::set(std::unique_ptr<Exception> e, Kind kind) {
  if (isDefault()) return;
  exception_ = std::move(e);
  kind_ = exception_ ? kind : kNone;
}

}  // namespace CORBA
