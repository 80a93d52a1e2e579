#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/files.h"
#include "platform/owned_fd.h"

namespace talvo::platform {

FileKind fileKind(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return FileKind::kNone;
  if (S_ISREG(st.st_mode)) return FileKind::kFile;
  if (S_ISDIR(st.st_mode)) return FileKind::kDirectory;
  return FileKind::kOther;
}

int readRegularFile(const std::string& path, std::size_t limit,
                    std::string* out) {
  out->clear();
  // Non-blocking, so that a FIFO placed in the repository cannot stall the
  // daemon; only regular files are read.
  OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return errno;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  // Files are replaced by rename, never rewritten in place, so the size
  // tells when the end has been read.
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  if (size > limit) return EFBIG;
  out->resize(size);
  std::size_t used = 0;
  while (used < size) {
    ssize_t n = ::read(fd.get(), out->data() + used, size - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      out->clear();
      return error;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  out->resize(used);
  return 0;
}

int rewriteFile(const std::string& path, const std::string& content) {
  return platform::writeFileAtomically(path, content, 0644).value();
}

int removeFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int makeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0) return errno;
  // 0755 whatever the umask took away.
  return ::chmod(path.c_str(), 0755) == 0 ? 0 : errno;
}

int removeDirectory(const std::string& path) {
  return ::rmdir(path.c_str()) == 0 ? 0 : errno;
}

int listDirectory(const std::string& path, std::vector<DirEntry>* out) {
  out->clear();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return errno;
  int error = 0;
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirEntry item{name, entry->d_type == DT_DIR, entry->d_type == DT_REG};
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat st;
      std::string full = path + "/" + name;
      if (::lstat(full.c_str(), &st) == 0)
        item.isDirectory = S_ISDIR(st.st_mode);
      if (::stat(full.c_str(), &st) == 0) item.isFile = S_ISREG(st.st_mode);
    }
    out->push_back(std::move(item));
  }
  ::closedir(dir);
  if (error != 0) {
    out->clear();
    return error;
  }
  std::sort(out->begin(), out->end(), [](const DirEntry& a, const DirEntry& b) {
    return a.name < b.name;
  });
  return 0;
}

int renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                  RENAME_NOREPLACE) != 0) {
    return errno;
  }
  std::size_t slash = to.rfind('/');
  std::string dir = slash == std::string::npos ? "." : to.substr(0, slash);
  OwnedFd dfd(::open(dir.empty() ? "/" : dir.c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dfd.get() >= 0) ::fsync(dfd.get());
  return 0;
}

int removeTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return removeFile(path);
  std::vector<DirEntry> entries;
  if (int error = listDirectory(path, &entries)) return error;
  int first = 0;
  for (const DirEntry& e : entries) {
    int error = removeTree(path + "/" + e.name);
    if (first == 0) first = error;
  }
  int error = removeDirectory(path);
  return first != 0 ? first : error;
}

std::string stagingName(std::string_view purpose) {
  static std::atomic<unsigned> counter{0};
  std::string name = ":";
  name += purpose;
  name += "." + std::to_string(::getpid()) + "." +
          std::to_string(counter.fetch_add(1));
  return name;
}

bool isStagingName(std::string_view name, long* pid) {
  if (name.empty() || name.front() != ':') return false;
  std::size_t first = name.find('.');
  std::size_t second =
      first == std::string_view::npos ? first : name.find('.', first + 1);
  if (second == std::string_view::npos) return false;
  std::string_view digits = name.substr(first + 1, second - first - 1);
  if (digits.empty() || digits.size() > 18 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  if (pid != nullptr) *pid = std::stol(std::string(digits));
  return true;
}

int removeLeftovers(const std::string& root) {
  std::vector<DirEntry> entries;
  if (listDirectory(root, &entries) != 0) return 0;
  int removed = 0;
  for (const DirEntry& e : entries) {
    const std::string path = root + "/" + e.name;
    long pid = 0;
    if (e.isDirectory && isStagingName(e.name, &pid)) {
      if (!processMayRun(pid) && removeTree(path) == 0) ++removed;
    } else if (e.isDirectory) {
      removed += removeLeftovers(path);
    } else if (isTemporaryName(e.name, &pid) && !processMayRun(pid)) {
      if (removeFile(path) == 0) ++removed;
    }
  }
  return removed;
}

std::string errorText(int error) {
  char buffer[256];
  return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace talvo::platform
