// Local accounts a test makes and removes again, and running part of a
// test as one. Making accounts needs root (as CI has); make() gives null
// otherwise, and the test skips.
//
// Threading: none. asUser forks: call it while the test runs one thread.

#ifndef TALVO_TESTS_SUPPORT_TEST_ACCOUNT_H_
#define TALVO_TESTS_SUPPORT_TEST_ACCOUNT_H_

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

namespace talvo::testing {

// A system account (no home, no login shell) with its own group and a
// second group as a supplementary one; both gone on destruction.
struct TestAccount {
  static std::unique_ptr<TestAccount> make(const std::string& tag);
  ~TestAccount();
  std::string name, extra_group;
  uid_t uid = 0;
  gid_t gid = 0, extra_gid = 0;
};

// In a child process: runs `prepare` with the test's ids, takes the
// account's ids for good (groups, group, user), then runs what `prepare`
// returned and hands back its result. What `prepare` set up (a user name
// read at construction, say) stays as it was.
using AsUserBody = std::function<std::string()>;
std::string asUser(const TestAccount& account,
                   const std::function<AsUserBody()>& prepare);

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TEST_ACCOUNT_H_
