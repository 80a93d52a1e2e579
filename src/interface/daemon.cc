// Construction of the daemon object, the protected-mode check and the
// legacy flag.

#include "interface/daemon.h"

#include <iostream>

#include "activation/launch_table.h"
#include "binding/binding_service.h"
#include "checkpoint/daemon_checkpoint.h"
#include "locator/locator_service.h"
#include "platform/system_info.h"
#include "runtime/config/runtime_config.h"

namespace talvo::interface {

Daemon::Daemon(DaemonOptions options,
               std::unique_ptr<imprep::ImpRepository> rep, AccessCheck access)
    : options_(std::move(options)),
      repository_(std::move(rep)),
      access_(std::move(access)) {}

Daemon::~Daemon() = default;

RuntimeConfig& Daemon::runtime() {
  return options_.config != nullptr ? *options_.config : runtimeConfig();
}

Status Daemon::create(const char* imp_rep_path, DaemonOptions options,
                      std::unique_ptr<Daemon>* out) {
  out->reset();
  RuntimeConfig& config =
      options.config != nullptr ? *options.config : runtimeConfig();
  if (options.out == nullptr) options.out = &std::cout;
  if (options.err == nullptr) options.err = &std::cerr;
  if (!options.lookups) options.lookups = platformHostLookups();

  // The interface object under which requests reach this daemon is set up
  // by registerDaemon() (daemon_dispatch.h) once the object exists.

  std::unique_ptr<imprep::ImpRepository> rep;
  if (Status st =
          imprep::ImpRepository::create(imp_rep_path, &rep, options.trace)) {
    return st;
  }

  // Seam: the listener set (extra IIOP ports from the repository's
  // "portsList" file) is built here; its failures end construction.

  // The daemon's identity as a server of the run time.
  config.setServerName("QV_daemon");
  config.setServerPort(config.daemonPort());
  config.setServerComms("TCP");
  config.setServerCode("Talvo-XDR");

  std::string user;
  if (options.protected_mode) {
    user = options.daemon_user.empty() ? platform::userName()
                                       : options.daemon_user;
  }
  AccessCheck access(options.protected_mode, user, config.hostName(),
                     options.lookups, options.err, options.trace);

  // The binding service (which remembers the latest server-details
  // requester and persistent-server registrant, none yet) over the
  // activator given. Seam: keep the extra launch setting
  // (options.extra_launch).
  std::unique_ptr<BindingService> binding;
  if (options.activator != nullptr && options.ports != nullptr) {
    BindingOptions b;
    b.ups = options.unregistered_persistent_servers;
    b.launchAsOwner = options.launch_as_owner;
    b.daemonPort =
        static_cast<std::uint16_t>(leadingInteger(config.daemonPort()));
    b.daemonUser = config.userName();
    b.defaultCode = config.defaultCode() ? config.defaultCode() : "";
    b.defaultComms = config.defaultComms() ? config.defaultComms() : "";
    b.tracePrefix = [&config]() -> std::optional<std::string> {
      if (config.diagnosticsLevel() == 0) return std::nullopt;
      return config.tracePrefix("talvod");
    };
    binding = std::make_unique<BindingService>(*rep, *options.activator,
                                               *options.ports, std::move(b));
  }

  if (options.protected_mode && config.diagnosticsLevel() != 0) {
    *options.out << config.tracePrefix()
                 << "Running in protected mode as user `" << user << "'"
                 << " ]" << std::endl;
  }

  // Seams: register the run time's connection-close handler (given 1) and
  // open handler, install the closedown handler for SIGINT and SIGTERM
  // again, and trace " l table " with the activator's table (its
  // description is not public yet).

  out->reset(new Daemon(std::move(options), std::move(rep), std::move(access)));
  (*out)->binding_ = std::move(binding);

  // The previous daemon's servers, when checkpointing is on.
  checkpoint::DaemonCheckPoint* cp = (*out)->options_.checkpoint;
  if (cp != nullptr && cp->readingFile() != nullptr &&
      (*out)->options_.activator != nullptr) {
    CORBA::Environment env;
    (*out)->transferState(cp->readingFile()->path(), env);
  }
  return nullptr;
}

void Daemon::transferState(const std::string& path, CORBA::Environment& env) {
  checkpoint::transferState(*options_.checkpoint, *options_.activator, path,
                            env);
}

Status Daemon::checkAccess(const Caller& caller) const {
  return access_.check(caller);
}

Status Daemon::registerServerAsLegacy(const Caller&, bool onoff) {
  legacy_ = onoff;
  return nullptr;
}

}  // namespace talvo::interface
