#include "support/test_account.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace talvo::testing {
namespace {

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

std::optional<TestAccount> TestAccount::make(const std::string& tag) {
  if (::geteuid() != 0 || ::access("/usr/sbin/useradd", X_OK) != 0) {
    return std::nullopt;
  }
  TestAccount a;
  const std::string id = tag + std::to_string(::getpid() % 100000);
  a.name_ = "tv" + id;
  a.extra_group_ = "tvg" + id;
  if (!run("/usr/sbin/groupadd --system " + a.extra_group_)) {
    return std::nullopt;
  }
  if (!run("/usr/sbin/useradd --system --user-group --no-create-home "
           "--shell /usr/sbin/nologin --groups " +
           a.extra_group_ + " " + a.name_)) {
    run("/usr/sbin/groupdel " + a.extra_group_);
    return std::nullopt;
  }
  const passwd* pw = ::getpwnam(a.name_.c_str());
  const group* gr = ::getgrnam(a.extra_group_.c_str());
  if (pw == nullptr || gr == nullptr) return std::nullopt;  // removed below
  a.uid_ = pw->pw_uid;
  a.gid_ = pw->pw_gid;
  a.extra_gid_ = gr->gr_gid;
  return a;
}

TestAccount::TestAccount(TestAccount&& other) noexcept
    : name_(std::move(other.name_)),
      extra_group_(std::move(other.extra_group_)),
      uid_(other.uid_),
      gid_(other.gid_),
      extra_gid_(other.extra_gid_) {
  other.name_.clear();
  other.extra_group_.clear();
}

TestAccount::~TestAccount() {
  // userdel removes the account's own group too.
  if (!name_.empty()) run("/usr/sbin/userdel " + name_);
  if (!extra_group_.empty()) run("/usr/sbin/groupdel " + extra_group_);
}

std::string asUser(const TestAccount& account,
                   const std::function<AsUserBody()>& prepare) {
  int ends[2];
  if (::pipe(ends) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ends[0]);
    AsUserBody body = prepare();
    const gid_t groups[] = {account.gid(), account.extraGroup()};
    std::string result;
    if (::setgroups(2, groups) != 0 || ::setgid(account.gid()) != 0 ||
        ::setuid(account.uid()) != 0) {
      result = "could not become " + account.name();
    } else {
      result = body();
    }
    ssize_t ignored = ::write(ends[1], result.data(), result.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(ends[1]);
  std::string result;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(ends[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.append(buf, static_cast<std::size_t>(n));
  }
  ::close(ends[0]);
  int status = 0;
  while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return result;
}

}  // namespace talvo::testing
