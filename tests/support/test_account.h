// Local accounts made by a test and removed again, and running a piece of
// the test as one of them. Making accounts needs root (as CI has); tests
// skip when they cannot.
//
// Threading: none; an account belongs to the test's thread. asUser forks:
// call it while the test runs no other thread.

#ifndef TALVO_TESTS_SUPPORT_TEST_ACCOUNT_H_
#define TALVO_TESTS_SUPPORT_TEST_ACCOUNT_H_

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace talvo::testing {

// A system account of its own (no home, no login shell) with a group of
// its own as a supplementary group; removed with that group on
// destruction.
class TestAccount {
 public:
  // Null when the accounts cannot be made (not root, no useradd).
  static std::optional<TestAccount> make(const std::string& tag);
  TestAccount(TestAccount&& other) noexcept;
  TestAccount(const TestAccount&) = delete;
  TestAccount& operator=(const TestAccount&) = delete;
  ~TestAccount();

  const std::string& name() const { return name_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }
  // The supplementary group's id.
  gid_t extraGroup() const { return extra_gid_; }

 private:
  TestAccount() = default;
  std::string name_;
  std::string extra_group_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  gid_t extra_gid_ = 0;
};

// In a child process of the test: runs `prepare` with the test's own ids,
// takes the account's ids for good (groups, group, user), then runs the
// function `prepare` returned; its result comes back. What `prepare` set
// up (for example a user name read at construction) stays as it was.
using AsUserBody = std::function<std::string()>;
std::string asUser(const TestAccount& account,
                   const std::function<AsUserBody()>& prepare);

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TEST_ACCOUNT_H_
