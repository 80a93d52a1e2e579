#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace talvo::platform {

std::FILE* openLogFile(const std::string& path) {
  int fd = ::open(path.c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC |
                      O_NOCTTY | O_NONBLOCK,
                  0600);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return nullptr;
  }
  // The mode the umask may have narrowed or an earlier run left wider.
  if (st.st_uid == ::geteuid()) ::fchmod(fd, 0600);
  std::FILE* file = ::fdopen(fd, "a");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace talvo::platform
