#include "platform/line_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/files.h"

namespace talvo::platform {
namespace {

constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;

// Opens `path` (created with mode 0600 when asked and missing); -1 with
// errno set on failure.
int openFile(const std::string& path, bool create, bool* created) {
  int fd = ::open(path.c_str(), kFlags);
  if (fd >= 0 || errno != ENOENT || !create) return fd;
  fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
  if (fd < 0 && errno == EEXIST) return ::open(path.c_str(), kFlags);
  if (fd >= 0) {
    ::fchmod(fd, 0600);  // whatever the umask left
    if (created) *created = true;
  }
  return fd;
}

}  // namespace

std::error_code LineFile::open(const std::string& path, bool create,
                               std::unique_ptr<LineFile>* out, bool* created) {
  out->reset();
  if (created) *created = false;
  if (path.empty())
    return std::make_error_code(std::errc::no_such_file_or_directory);
  // A rewrite that a killed daemon left half done leaves its temporary
  // file; the file itself is whole either way.
  removeStaleTemporaries(path);
  int fd = openFile(path, create, created);
  if (fd < 0) return lastError();
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    std::error_code ec =
        S_ISDIR(st.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                            : std::make_error_code(std::errc::invalid_argument);
    ::close(fd);
    return ec;
  }
  out->reset(new LineFile(path, fd, static_cast<std::uint64_t>(st.st_size)));
  return {};
}

LineFile::~LineFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::error_code LineFile::readAll(std::string* out) {
  out->clear();
  struct stat st;
  if (::fstat(fd_, &st) != 0) return lastError();
  size_ = static_cast<std::uint64_t>(st.st_size);
  return readAt(0, static_cast<std::size_t>(st.st_size), out);
}

std::error_code LineFile::readAt(std::uint64_t offset, std::size_t length,
                                 std::string* out) {
  out->assign(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out->data() + done, length - done,
                        static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return lastError();
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  out->resize(done);
  return {};
}

std::error_code LineFile::writeAt(std::uint64_t offset, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                         static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return lastError();
    done += static_cast<std::size_t>(n);
  }
  if (offset + data.size() > size_) size_ = offset + data.size();
  return {};
}

std::error_code LineFile::append(std::string_view data) {
  const std::uint64_t end = size_;
  std::error_code ec = writeAt(end, data);
  if (ec) {
    // No half line may stay behind for the next append to run into.
    if (::ftruncate(fd_, static_cast<off_t>(end)) == 0) size_ = end;
  }
  return ec;
}

std::error_code LineFile::replace(std::string_view contents) {
  if (std::error_code ec = writeFileAtomically(path_, contents, 0600)) {
    return ec;
  }
  int fd = ::open(path_.c_str(), kFlags);
  if (fd < 0) return lastError();
  ::close(fd_);
  fd_ = fd;
  size_ = contents.size();
  return {};
}

std::error_code LineFile::close() {
  int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0) return lastError();
  return {};
}

}  // namespace talvo::platform
