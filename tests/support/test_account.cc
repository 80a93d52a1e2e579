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

std::unique_ptr<TestAccount> TestAccount::make(const std::string& tag) {
  if (::geteuid() != 0 || ::access("/usr/sbin/useradd", X_OK) != 0) {
    return nullptr;
  }
  auto a = std::make_unique<TestAccount>();
  const std::string id = tag + std::to_string(::getpid() % 100000);
  if (!run("/usr/sbin/groupadd --system tvg" + id)) return nullptr;
  a->extra_group = "tvg" + id;
  if (!run("/usr/sbin/useradd --system --user-group --no-create-home "
           "--shell /usr/sbin/nologin --groups tvg" +
           id + " tv" + id)) {
    return nullptr;
  }
  a->name = "tv" + id;
  const passwd* pw = ::getpwnam(a->name.c_str());
  const group* gr = ::getgrnam(a->extra_group.c_str());
  if (pw == nullptr || gr == nullptr) return nullptr;
  a->uid = pw->pw_uid;
  a->gid = pw->pw_gid;
  a->extra_gid = gr->gr_gid;
  return a;
}

TestAccount::~TestAccount() {
  // userdel removes the account's own group too.
  if (!name.empty()) run("/usr/sbin/userdel " + name);
  if (!extra_group.empty()) run("/usr/sbin/groupdel " + extra_group);
}

std::string asUser(const TestAccount& account,
                   const std::function<AsUserBody()>& prepare) {
  int ends[2];
  if (::pipe(ends) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ends[0]);
    AsUserBody body = prepare();
    const gid_t groups[] = {account.gid, account.extra_gid};
    const std::string result = ::setgroups(2, groups) == 0 &&
                                       ::setgid(account.gid) == 0 &&
                                       ::setuid(account.uid) == 0
                                   ? body()
                                   : "could not become " + account.name;
    ssize_t ignored = ::write(ends[1], result.data(), result.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(ends[1]);
  std::string result;
  char buf[4096];
  for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) != 0;) {
    if (n > 0) result.append(buf, static_cast<std::size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  ::close(ends[0]);
  while (pid > 0 && ::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return result;
}

}  // namespace talvo::testing
