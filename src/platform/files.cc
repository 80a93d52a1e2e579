// POSIX implementation of the file helpers.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "platform/errors.h"
#include "platform/owned_fd.h"

namespace talvo::platform {

namespace {

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Written in pieces of at most this many bytes: one large write makes the
// page cache hold the file in large folios, and every later small write in
// place (the checkpoint file's edits) then dirties and writes back a whole
// large folio, several times the cost of a page's.
constexpr std::size_t kWritePiece = 64 * 1024;

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), std::min(data.size(), kWritePiece));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool pathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isReadableFile(const std::string& path) {
  if (path.empty() || isDirectory(path)) return false;
  OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  return fd.get() >= 0;
}

std::optional<std::string> readFile(const std::string& path,
                                    std::error_code* error) {
  auto fail = [&](std::error_code ec) -> std::optional<std::string> {
    if (error) *error = ec;
    return std::nullopt;
  };
  OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return fail(lastError());
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return fail(lastError());
  if (S_ISDIR(st.st_mode)) {
    return fail(std::make_error_code(std::errc::is_a_directory));
  }
  std::string out;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(lastError());
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  if (error) error->clear();
  return out;
}

bool isTemporaryName(std::string_view name, long* pid) {
  auto digits = [](std::string_view text) {
    return !text.empty() && text.size() <= 19 &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  std::size_t last = name.rfind('.');
  if (last == std::string_view::npos || !digits(name.substr(last + 1))) {
    return false;
  }
  std::size_t middle = name.rfind('.', last - 1);
  if (middle == std::string_view::npos || middle < 4 ||
      !digits(name.substr(middle + 1, last - middle - 1)) ||
      name.substr(middle - 4, 4) != ".tmp") {
    return false;
  }
  if (pid != nullptr) {
    *pid = std::stol(std::string(name.substr(middle + 1, last - middle - 1)));
  }
  return true;
}

bool processMayRun(long pid) {
  if (pid <= 0) return false;
  if (pid == static_cast<long>(::getpid())) return true;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void removeStaleTemporaries(const std::string& path) {
  const std::string dir = directoryOf(path);
  const std::string base = path.substr(
      path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    long pid = 0;
    if (name.size() > base.size() && name.starts_with(base) &&
        name.substr(base.size()).starts_with(".tmp.") &&
        isTemporaryName(name, &pid) && !processMayRun(pid)) {
      ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
  }
  ::closedir(listing);
}

std::error_code writeFileAtomically(const std::string& path,
                                    std::string_view contents,
                                    std::optional<unsigned> mode) {
  static std::atomic<unsigned> counter{0};
  const std::string dir = directoryOf(path);

  // A unique name next to the target; O_EXCL refuses a name in use.
  std::string temp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    temp = path + ".tmp." + std::to_string(::getpid()) + "." +
           std::to_string(counter.fetch_add(1));
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) return lastError();
  }
  if (raw < 0) return std::make_error_code(std::errc::file_exists);
  OwnedFd fd(raw);

  auto abandon = [&](std::error_code ec) {
    ::unlink(temp.c_str());
    return ec;
  };
  struct stat st;
  if (mode) {
    if (::fchmod(fd.get(), *mode & 07777) != 0) return abandon(lastError());
  } else if (::stat(path.c_str(), &st) == 0 &&
             ::fchmod(fd.get(), st.st_mode & 07777) != 0) {
    return abandon(lastError());
  }
  if (!writeAll(fd.get(), contents)) return abandon(lastError());
  if (::fsync(fd.get()) != 0) return abandon(lastError());
  if (!fd.close()) return abandon(lastError());
  if (::rename(temp.c_str(), path.c_str()) != 0) return abandon(lastError());

  // Make the rename itself durable; a failure here leaves the new file in
  // place, so it is not reported.
  OwnedFd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dfd.get() >= 0) ::fsync(dfd.get());
  return {};
}

}  // namespace talvo::platform
