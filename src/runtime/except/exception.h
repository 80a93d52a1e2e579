// CORBA exceptions of the broker run time.
//
// Every failure that crosses a subsystem boundary is a CORBA exception.
// System exceptions carry a minor code, a completion status and an optional
// detail string (the argument that the catalogue text of the minor code is
// formatted with). Exceptions are values: each copy owns its strings.
//
// Inside the daemon, operations return a `talvo::Status` (a heap system
// exception, or null for success) instead of throwing; only code that talks
// to a C++ caller directly uses raise().
//
// Thread safety: exception objects are plain values; distinct objects may be
// used from distinct threads without locking.

#ifndef TALVO_RUNTIME_EXCEPT_EXCEPTION_H_
#define TALVO_RUNTIME_EXCEPT_EXCEPTION_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace CORBA {

class Environment;

enum CompletionStatus : std::uint32_t {
  COMPLETED_YES = 0,
  COMPLETED_NO = 1,
  COMPLETED_MAYBE = 2,
};

// "COMPLETED_YES", "COMPLETED_NO" or "COMPLETED_MAYBE"; "COMPLETED_MAYBE"
// for any value out of range.
const char* completionStatusName(CompletionStatus status);

// Base of all exceptions. The name is stored in system scoped form
// ("CORBA::StExcep::BAD_PARAM") when the name given begins with "CORBA::",
// unchanged otherwise.
class Exception {
 public:
  Exception(std::string_view name, std::optional<std::string> id);
  virtual ~Exception();

  // Stores a private copy of this exception in `env`, freeing what it held,
  // and marks it a user exception (1). The process-wide default environment
  // never records anything.
  virtual void record(Environment& env) const;
  // Throws a copy of this exception as its most-derived type.
  [[noreturn]] virtual void raise() const = 0;
  // Writes the printed form (the name for a user exception).
  virtual void print(std::ostream& out) const;
  // A new heap copy of the same most-derived type.
  virtual std::unique_ptr<Exception> clone() const = 0;

  // The stored name; the id, which may be absent.
  const std::string& name() const { return name_; }
  const std::optional<std::string>& id() const { return id_; }

  // The bare name: "BAD_PARAM" for "CORBA::StExcep::BAD_PARAM", the stored
  // name itself for anything else.
  std::string bareName() const;

 protected:
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

 private:
  std::string name_;
  std::optional<std::string> id_;
};

// Base of the exceptions an interface declares. Subclasses override raise()
// and clone(); a plain UserException can be used for a name that arrived in a
// reply.
class UserException : public Exception {
 public:
  explicit UserException(std::string_view name,
                         std::optional<std::string> id = std::nullopt);
  [[noreturn]] void raise() const override;
  std::unique_ptr<Exception> clone() const override;
};

class SystemException : public Exception {
 public:
  // `name` in either scoped form ("CORBA::BAD_PARAM" or
  // "CORBA::StExcep::BAD_PARAM"); `detail` may be absent.
  SystemException(std::string_view name, std::uint32_t minor,
                  CompletionStatus completed,
                  std::optional<std::string> detail = std::nullopt);

  // Marks the copy stored in `env` as a system exception (2).
  void record(Environment& env) const override;
  [[noreturn]] void raise() const override;
  // The multi-line printed form: minor code, "-- ", group text; the detail
  // line when the minor code is not a multiple of 20; the completion line.
  void print(std::ostream& out) const override;
  std::unique_ptr<Exception> clone() const override;

  std::uint32_t minor() const { return minor_; }
  CompletionStatus completed() const { return completed_; }
  const std::optional<std::string>& detail() const { return detail_; }
  // The detail as a C string, or null when absent.
  const char* detailOrNull() const {
    return detail_ ? detail_->c_str() : nullptr;
  }

  // A copy typed as SystemException (clone() narrowed).
  std::unique_ptr<SystemException> cloneSystem() const;

 private:
  std::uint32_t minor_;
  CompletionStatus completed_;
  std::optional<std::string> detail_;
};

// One class per system exception; each adds only its type.
#define TALVO_SYSTEM_EXCEPTION(NAME)                                         \
  class NAME : public SystemException {                                      \
   public:                                                                   \
    explicit NAME(std::uint32_t minor = 0,                                   \
                  CompletionStatus completed = COMPLETED_NO,                 \
                  std::optional<std::string> detail = std::nullopt)          \
        : SystemException("CORBA::" #NAME, minor, completed,                 \
                          std::move(detail)) {}                              \
    [[noreturn]] void raise() const override { throw NAME(*this); }          \
    std::unique_ptr<Exception> clone() const override {                      \
      return std::make_unique<NAME>(*this);                                  \
    }                                                                        \
  };

#define TALVO_FOR_EACH_SYSTEM_EXCEPTION(X)                                   \
  X(UNKNOWN)                                                                 \
  X(BAD_PARAM) X(NO_MEMORY) X(IMP_LIMIT) X(COMM_FAILURE) X(INV_OBJREF)       \
  X(NO_PERMISSION) X(INTERNAL) X(MARSHAL) X(INITIALIZE) X(NO_IMPLEMENT)      \
  X(BAD_TYPECODE) X(BAD_OPERATION) X(NO_RESOURCES) X(NO_RESPONSE)            \
  X(PERSIST_STORE) X(BAD_INV_ORDER) X(TRANSIENT) X(FREE_MEM) X(INV_IDENT)    \
  X(INV_FLAG) X(INTF_REPOS) X(BAD_CONTEXT) X(OBJ_ADAPTER)                    \
  X(DATA_CONVERSION) X(TRANSACTION_REQUIRED) X(TRANSACTION_ROLLEDBACK)       \
  X(INVALID_TRANSACTION) X(WRONG_TRANSACTION) X(FILTER_SUPPRESS) X(LOCATOR)  \
  X(ASCII_FILE) X(IIOP) X(NO_CONFIG_VALUE) X(QV_SUSPEND) X(SSL_FAILURE)      \
  X(VXWORKS_EX) X(ADA) X(COM_ERROR)

TALVO_FOR_EACH_SYSTEM_EXCEPTION(TALVO_SYSTEM_EXCEPTION)

// Makes the system exception of the given name (bare, scoped in either form,
// or a system repository id "IDL:omg.org/CORBA/X:1.0"); a name that is not a
// system exception of the list gives UNKNOWN with the same minor code,
// completion status and detail. Never null.
std::unique_ptr<SystemException> makeSystemException(
    std::string_view name, std::uint32_t minor, CompletionStatus completed,
    std::optional<std::string> detail = std::nullopt);

// Holds at most one exception from callee to caller.
class Environment {
 public:
  enum Kind : int { kNone = 0, kUser = 1, kSystem = 2 };

  Environment() = default;
  Environment(const Environment& other);
  Environment& operator=(const Environment& other);
  Environment(Environment&&) noexcept = default;
  Environment& operator=(Environment&&) noexcept = default;
  ~Environment();

  // The process-wide default environment; recording into it does nothing.
  static Environment& defaultEnvironment();
  bool isDefault() const { return this == &defaultEnvironment(); }

  Kind kind() const { return kind_; }
  const Exception* exception() const { return exception_.get(); }
  // The held exception as a system exception, or null.
  const SystemException* systemException() const;
  // Takes ownership of `e` (null clears), with the given kind. Ignored on
  // the default environment.
  void set(std::unique_ptr<Exception> e, Kind kind);
  void clear() { set(nullptr, kNone); }

  // "NO_EXCEPTION      : ", "USER_EXCEPTION    : " and the name, or
  // "SYSTEM_EXCEPTION  : " and the printed form.
  void print(std::ostream& out) const;

 private:
  std::unique_ptr<Exception> exception_;
  Kind kind_ = kNone;
};

}  // namespace CORBA

namespace talvo {

// The result of an operation that fails with a system exception: null on
// success, otherwise the exception (owned by the receiver).
using Status = std::unique_ptr<CORBA::SystemException>;

// Makes a Status of exception type E.
template <class E>
Status fail(std::uint32_t minor, std::optional<std::string> detail = {},
            CORBA::CompletionStatus completed = CORBA::COMPLETED_NO) {
  return std::make_unique<E>(minor, completed, std::move(detail));
}

}  // namespace talvo

#endif  // TALVO_RUNTIME_EXCEPT_EXCEPTION_H_
