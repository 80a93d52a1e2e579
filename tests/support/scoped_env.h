// Sets (or, with nullopt, unsets) one environment variable for the
// object's lifetime and puts the old value back afterwards.
//
// Threading: the environment is process-wide; use only while no other
// thread reads it.

#ifndef TALVO_TESTS_SUPPORT_SCOPED_ENV_H_
#define TALVO_TESTS_SUPPORT_SCOPED_ENV_H_

#include <stdlib.h>

#include <optional>
#include <string>

namespace talvo::testing {

class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value)
      : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str())) old_ = old;
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_SCOPED_ENV_H_
