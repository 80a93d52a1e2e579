// talvod: the daemon program. Installs and removes itself as a service
// ("-i", "-u", "-?"), runs under the service manager, or runs in the
// foreground with "-f".

#include <strings.h>

#include "daemon/daemon_core.h"
#include "daemon/daemon_service.h"
#include "daemon/runtime_link.h"
#include "platform/signals.h"
#include "runtime/except/new_handler.h"

int main(int argc, char** argv) {
  using namespace talvo::daemon;
  // Controls wait for the dispatcher's thread; none may end the process.
  talvo::platform::blockControlSignals();
  RuntimeStartupGuard guard;
  // Running out of memory anywhere ends the process with its fixed message.
  talvo::installNewHandler();
  // The port allocator is made with the daemon object by the core factory.
  prepareRuntime();
  talvo::platform::installClosedownHandler();
  refreshClosedownText();
  // The system is never the one the daemon cannot run on: no check here.
  {
    std::unique_ptr<DaemonCoreFactory> factory = makeDaemonCoreFactory();
    DaemonService service(kServiceName, *factory);
    if (argc > 1 && strcasecmp(argv[1], "-f") == 0) {
      service.RunForeground();
    } else if (!service.HandleCommandLine(argc, argv)) {
      service.RunDispatcher();
    }
  }
  return 3;
}
