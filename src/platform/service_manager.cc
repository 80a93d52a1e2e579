#include "platform/service_manager.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/files.h"

namespace talvo::platform {
namespace {

// ExecStart= takes a command line: quote the path and escape what systemd
// would otherwise expand (specifiers "%", variables "$", escapes "\").
std::string quoteForExecStart(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    switch (c) {
      case '%':
        out += "%%";
        break;
      case '$':
        out += "$$";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

bool startedByServiceManager() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  return socket != nullptr && *socket != '\0';
}

bool notifyServiceManager(const std::string& state) {
  return ::sd_notify(0, state.c_str()) > 0;
}

std::string serviceDirectory() {
  const char* dir = std::getenv("QV_SERVICE_DIR");
  if (dir == nullptr || *dir == '\0') return "/etc/systemd/system";
  return dir;
}

std::string unitNameFor(const std::string& service_name) {
  std::string unit;
  for (char c : service_name) {
    unsigned char u = static_cast<unsigned char>(c);
    unit += std::isspace(u) ? '-' : static_cast<char>(std::tolower(u));
  }
  return unit + ".service";
}

std::string unitFilePath(const std::string& service_name) {
  std::string dir = serviceDirectory();
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + unitNameFor(service_name);
}

std::string unitFileText(const std::string& service_name,
                         const std::string& program_path) {
  return "[Unit]\n"
         "Description=" +
         service_name +
         "\n"
         "After=network.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" +
         quoteForExecStart(program_path) +
         "\n"
         "KillSignal=SIGUSR1\n"
         // A stop in order ends the program with status 3.
         "SuccessExitStatus=3\n"
         // Only the daemon is signalled: the servers it launched keep
         // running across a restart and are taken over again.
         "KillMode=process\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

bool unitFileExists(const std::string& service_name) {
  struct stat info {};
  return ::stat(unitFilePath(service_name).c_str(), &info) == 0;
}

int writeUnitFile(const std::string& service_name,
                  const std::string& program_path) {
  return writeFileAtomically(unitFilePath(service_name),
                             unitFileText(service_name, program_path))
      .value();
}

int removeUnitFile(const std::string& service_name) {
  if (::unlink(unitFilePath(service_name).c_str()) != 0) return errno;
  return 0;
}

}  // namespace talvo::platform
