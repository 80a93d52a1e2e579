// POSIX implementation of stamped reads and rewrites with a backup.
#include "platform/stamped_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <utility>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/owned_fd.h"

namespace talvo::platform {
namespace {

FileStamp stampOf(const struct stat& st) {
  FileStamp s;
  s.exists = true;
  s.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
               st.st_mtim.tv_nsec;
  s.ctime_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 +
               st.st_ctim.tv_nsec;
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.device = static_cast<std::uint64_t>(st.st_dev);
  s.inode = static_cast<std::uint64_t>(st.st_ino);
  return s;
}

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A name next to `path` that no other writer uses.
std::string temporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp." + std::to_string(::getpid()) + "." +
         std::to_string(counter.fetch_add(1));
}

std::error_code writeTemporary(const std::string& temp, const std::string& path,
                               std::string_view contents) {
  OwnedFd fd(::open(temp.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    0666));
  if (fd.get() < 0) return lastError();
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 &&
      ::fchmod(fd.get(), st.st_mode & 07777) != 0) {
    return lastError();
  }
  while (!contents.empty()) {
    ssize_t n = ::write(fd.get(), contents.data(),
                        std::min<std::size_t>(contents.size(), 1 << 16));
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    contents.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::fsync(fd.get()) != 0) return lastError();
  if (!fd.close()) return lastError();
  return {};
}

// The previous file under the backup name: a second link to it, renamed
// over an earlier backup; a copy where the file system refuses links.
std::error_code keepBackup(const std::string& path, const std::string& backup) {
  if (!pathExists(path)) return {};
  const std::string link = temporaryName(backup);
  if (::link(path.c_str(), link.c_str()) == 0) {
    if (::rename(link.c_str(), backup.c_str()) == 0) return {};
    std::error_code ec = lastError();
    ::unlink(link.c_str());
    return ec;
  }
  std::error_code ec;
  std::optional<std::string> old = readFile(path, &ec);
  if (!old) return ec;
  return writeFileAtomically(backup, *old);
}

}  // namespace

std::int64_t wallClockNs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

FileStamp fileStamp(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  return stampOf(st);
}

std::error_code readStampedFile(const std::string& path, std::size_t limit,
                                std::string* out, FileStamp* stamp) {
  out->clear();
  *stamp = {};
  OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return lastError();
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return lastError();
  if (S_ISDIR(st.st_mode))
    return std::make_error_code(std::errc::is_a_directory);
  if (!S_ISREG(st.st_mode))
    return std::make_error_code(std::errc::invalid_argument);
  if (static_cast<std::uint64_t>(st.st_size) > limit) {
    return std::make_error_code(std::errc::file_too_large);
  }
  out->reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      out->clear();
      return lastError();
    }
    if (n == 0) break;
    if (out->size() + static_cast<std::size_t>(n) > limit) {
      out->clear();
      return std::make_error_code(std::errc::file_too_large);
    }
    out->append(buf, static_cast<std::size_t>(n));
  }
  *stamp = stampOf(st);
  return {};
}

std::error_code writeFileWithBackup(const std::string& path,
                                    std::string_view contents,
                                    const std::string& backup,
                                    const BackupHook& hook) {
  const std::string temp = temporaryName(path);
  auto abandon = [&](std::error_code ec) {
    ::unlink(temp.c_str());
    return ec;
  };
  if (std::error_code ec = writeTemporary(temp, path, contents)) {
    return abandon(ec);
  }
  if (hook) {
    if (std::error_code ec = hook(BackupStep::kTemporaryWritten)) {
      return abandon(ec);
    }
  }
  if (std::error_code ec = keepBackup(path, backup)) return abandon(ec);
  if (hook) {
    if (std::error_code ec = hook(BackupStep::kBackupKept)) return abandon(ec);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) return abandon(lastError());
  OwnedFd dir(
      ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return {};
}

}  // namespace talvo::platform
