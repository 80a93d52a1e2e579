// Feeds arbitrary bytes to the checkpoint file's readers: every line must
// be read without reading past it, and a file opened for update must come
// out of lookups, edits and compaction as whole lines.
//
// The file lives on a memory file system when there is one, so that the
// fsyncs and renames of every rewrite cost next to nothing.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "checkpoint/checkpoint_file.h"
#include "runtime/config/trace_stream.h"

namespace {

// /dev/shm when it is a writable folder, else $TMPDIR, else /tmp.
std::string scratchFolder() {
  struct stat st {};
  if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) &&
      ::access("/dev/shm", W_OK | X_OK) == 0) {
    return "/dev/shm";
  }
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace talvo::checkpoint;
  talvo::traceDispatcher().deactivate("QV_StdOut");
  static const std::string path =
      scratchFolder() + "/talvo-checkpoint-fuzz-" + std::to_string(::getpid());
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data),
             static_cast<std::streamsize>(size));

  DaemonCPFile reader(path, DaemonCPFile::Mode::kRead);
  DaemonCPFile writer(path, DaemonCPFile::Mode::kUpdate);
  if (reader.open() != nullptr || writer.open() != nullptr) __builtin_trap();
  CheckpointEntry e;
  for (int n = 0; reader.readEntry(&e) && n < 64; ++n) {
    writer.find(e.server, e.marker, e.principal);
    if (n % 2) writer.set_del(e.server, e.marker, e.principal);
    writer.write_data(e.server, e.marker, e.pid, e.size, e.comms, e.code,
                      e.port, e.status, e.principal);
  }
  writer.compact();
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if (!text.empty() && text.back() != '\n') __builtin_trap();
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find('\n', pos);
    if (entryKey(std::string_view(text).substr(pos, end - pos)).empty()) {
      __builtin_trap();
    }
    pos = end + 1;
  }
  ::unlink(path.c_str());
  return 0;
}
