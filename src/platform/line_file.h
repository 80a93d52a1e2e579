// LineFile: a text file that is read whole and then edited in place, a few
// bytes at a time, or appended to; used for the checkpoint file.
//
// The file is opened for reading and writing without following a symbolic
// link and with close-on-exec; a file created here gets mode 0600 whatever
// the umask. A write of a few bytes is one pwrite(2), so a process killed at
// any moment leaves each such write done or not done. Replacing the whole
// contents goes through writeFileAtomically() (temporary file, fsync,
// rename), after which the object works on the new file.
//
// Thread safety: none; one thread uses an object.

#ifndef TALVO_PLATFORM_LINE_FILE_H_
#define TALVO_PLATFORM_LINE_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace talvo::platform {

class LineFile {
 public:
  // Opens `path`. Without `create` a missing file is an error (ENOENT);
  // with it a missing file is created empty and `*created` (if given) set.
  static std::error_code open(const std::string& path, bool create,
                              std::unique_ptr<LineFile>* out,
                              bool* created = nullptr);
  ~LineFile();
  LineFile(const LineFile&) = delete;
  LineFile& operator=(const LineFile&) = delete;

  const std::string& path() const { return path_; }
  // The size as this object last left or found the file.
  std::uint64_t size() const { return size_; }

  // The whole contents, read from the start.
  std::error_code readAll(std::string* out);
  // `length` bytes at `offset` (fewer at the end of the file).
  std::error_code readAt(std::uint64_t offset, std::size_t length,
                         std::string* out);
  // Writes `data` at `offset`, which lies within the file.
  std::error_code writeAt(std::uint64_t offset, std::string_view data);
  // Writes `data` at the end. A write that fails halfway is cut off again,
  // as far as the system lets it.
  std::error_code append(std::string_view data);
  // Replaces the whole contents atomically (mode kept) and reopens.
  std::error_code replace(std::string_view contents);
  // Closes the file; a failing close is reported.
  std::error_code close();

 private:
  LineFile(std::string path, int fd, std::uint64_t size)
      : path_(std::move(path)), fd_(fd), size_(size) {}
  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_LINE_FILE_H_
