// talvod: the daemon program. Installs and removes itself as a service
// ("-i", "-u", "-?"), runs under the service manager, or runs in the
// foreground with "-f".

#include <strings.h>

#include "daemon/daemon_core.h"
#include "daemon/daemon_service.h"
#include "daemon/runtime_link.h"
#include "platform/signals.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "runtime/except/new_handler.h"

int main(int argc, char** argv) {
  using namespace talvo::daemon;
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
    } else if (!service.HandleCommandLine(argc, argv)) {
      service.RunDispatcher();
    }
  }
  return 3;
}
