// talvod: the daemon program. Installs and removes itself as a service
// ("-i", "-u", "-?"), runs under the service manager, or runs in the
// foreground with "-f". "--help" and "--version" answer without starting
// anything; any other first argument is refused.

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "daemon/daemon_core.h"
#include "daemon/daemon_service.h"
#include "daemon/runtime_link.h"
#include "platform/signals.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "runtime/except/new_handler.h"

namespace {

constexpr char kUsage[] =
    "Usage: talvod [OPTION]\n"
    "The Talvo activation daemon.\n"
    "\n"
    "  -f         run in the foreground without the service manager\n"
    "             (SIGUSR1 stops it in order, Ctrl-C ends it at once)\n"
    "  -i         install the service: write the unit talvo-daemon.service\n"
    "             to $QV_SERVICE_DIR (default /etc/systemd/system)\n"
    "  -u         remove the unit again\n"
    "  -?         say whether the service is installed\n"
    "  --help     print this text\n"
    "  --version  print the version\n"
    "\n"
    "Without an option talvod expects to be started by systemd\n"
    "(systemctl start talvo-daemon). The settings are read from\n"
    "$QV_REGISTRY (default /etc/talvo/registry), the configuration from\n"
    "$QV_CONFIG_PATH (default /etc/talvo/Talvo.cfg).\n"
    "\n"
    "Exit status: 3 after a stop in order or a handled option, 0 after\n"
    "SIGINT or SIGTERM, 1 when start-up fails, 2 for a bad option.\n"
    "See talvod(8).\n";

constexpr char kVersion[] = "talvod (Talvo) 2.3c\n";

bool isServiceOption(const char* arg) {
  for (const char* known : {"-f", "-i", "-u", "-?"}) {
    if (strcasecmp(arg, known) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace talvo::daemon;
  if (argc > 1) {
    if (std::strcmp(argv[1], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
      std::fputs(kVersion, stdout);
      return 0;
    }
    if (!isServiceOption(argv[1])) {
      std::fprintf(stderr,
                   "talvod: unknown option '%s' (talvod --help lists the "
                   "options)\n",
                   argv[1]);
      return 2;
    }
  }
  // Controls wait for the dispatcher's thread and children's ends for the
  // loop; none may end the process or be lost to another thread.
  talvo::platform::blockControlSignals();
  RuntimeStartupGuard guard;
  // Running out of memory anywhere ends the process with its fixed message.
  talvo::installNewHandler();
  // The process-wide configuration and trace stream, handed down from here.
  DaemonContext context{talvo::runtimeConfig(), talvo::traceStream()};
  prepareRuntime(context.config);
  talvo::platform::installClosedownHandler();
  refreshClosedownText(context.config);
  // The system is never the one the daemon cannot run on: no check here.
  {
    // Makes the port allocator now, as the entry does.
    std::unique_ptr<DaemonCoreFactory> factory = makeDaemonCoreFactory(context);
    DaemonService service(kServiceName, context, *factory);
    if (argc > 1 && strcasecmp(argv[1], "-f") == 0) {
      service.RunForeground();
    } else if (!service.HandleCommandLine(argc, argv) &&
               !service.RunDispatcher()) {
      std::fputs(
          "talvod: not started by the service manager; 'talvod -f' runs the "
          "daemon in the foreground, 'talvod --help' lists the options\n",
          stderr);
    }
  }
  return 3;
}
