// A stand-in server for the tests: writes what it was started with to a file
// and then stays up or ends as told.
//
//   talvo_launch_probe <report file> <seconds to stay up> [exit code]
//
// The report holds one line per environment entry ("env NAME=value"), one
// per open descriptor ("fd N") and the process id ("pid N"). It is written
// to "<report file>.tmp" and renamed into place, so a reader that sees the
// file sees all of it.

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string report = argv[1];
  std::string temp = report + ".tmp";
  FILE* out = std::fopen(temp.c_str(), "we");
  if (out == nullptr) return 3;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::fprintf(out, "env %s\n", *entry);
  }
  if (DIR* dir = opendir("/proc/self/fd")) {
    int own = dirfd(dir);
    while (dirent* item = readdir(dir)) {
      if (item->d_name[0] == '.') continue;
      int fd = std::atoi(item->d_name);
      if (fd != own && fd != fileno(out)) std::fprintf(out, "fd %d\n", fd);
    }
    closedir(dir);
  }
  std::fprintf(out, "pid %d\n", static_cast<int>(getpid()));
  std::fclose(out);
  std::rename(temp.c_str(), report.c_str());
  int seconds = std::atoi(argv[2]);
  if (seconds > 0) sleep(static_cast<unsigned>(seconds));
  return argc > 3 ? std::atoi(argv[3]) : 0;
}
