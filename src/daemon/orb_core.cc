// The daemon core of talvod: the run time (an Orb on the process's
// configuration) serving the daemon object under "QV_daemon" on
// QV_DAEMON_PORT, with the daemon's request filter, and the activation
// objects the daemon's binding operations use: the port allocator (made
// with the factory, that is by the program's entry), the activator, whose
// view of the run time is the Orb's channels and pings; the daemon runs its
// binding service on the two.
//
// The configuration and the trace stream are the ones the host is given;
// the event loop is the Orb's.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "activation/activator_hooks.h"
#include "activation/port_allocator.h"
#include "activation/posix_activator.h"
#include "checkpoint/daemon_checkpoint.h"
#include "daemon/daemon_core.h"
#include "interface/daemon.h"
#include "interface/daemon_dispatch.h"
#include "interface/daemon_filter.h"
#include "platform/peer_process.h"
#include "platform/socket.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "runtime/orb/orb.h"
#include "runtime/protocol/object_ref.h"

namespace talvo::daemon {
namespace {

inline constexpr char kDaemonInterface[] = "QV_daemon";

// The run time's trace lines: the configuration's level and prefix, written
// to the host's trace stream.
class ContextTraceSink : public protocol::TraceSink {
 public:
  explicit ContextTraceSink(DaemonContext context) : context_(context) {}
  int level() const override { return context_.config.diagnosticsLevel(); }
  void line(std::string_view text) override {
    context_.config.writePrefix(context_.trace);
    context_.trace << text << talvo::endl;
  }

 private:
  DaemonContext context_;
};

std::string qualified(const std::string& host, RuntimeConfig& config) {
  return qualifyHostName(host.c_str(), config.localDomain());
}

// The activator's view of the run time: the Orb's bound channels and its
// pings.
class OrbActivationRuntime : public ActivationRuntime {
 public:
  explicit OrbActivationRuntime(Orb& orb) : orb_(orb) {}

  std::string localHostName() override { return orb_.config().hostName(); }

  std::optional<std::int32_t> channelProcessId(
      const std::string& server, const std::string& marker,
      const std::string& host) override {
    const Session* session = find(server, marker, host);
    if (session == nullptr) return std::nullopt;
    return static_cast<std::int32_t>(session->processId());
  }

  bool channelHeldBy(const std::string& server, const std::string& host,
                     std::int32_t pid) override {
    const Session* session = find(server, "*", host);
    return session != nullptr &&
           platform::connectionPeerHeldBy(session->info.identity.local,
                                          session->info.identity.peer, pid);
  }

  // The server's own channel to the daemon proves it alive when it is
  // still open; a server the daemon has no channel with cannot be reached
  // by name alone.
  Status pingObject(const std::string& host, const std::string& server,
                    const std::string& marker) override {
    if (find(server, marker, host) != nullptr) return nullptr;
    return fail<CORBA::COMM_FAILURE>(10085, server);
  }

  std::optional<std::string> iiopPort() override {
    const char* port = orb_.config().iiopPort();
    if (port == nullptr) return std::nullopt;
    return std::string(port);
  }

 private:
  // An open channel bound by the server `server` from `host`, whose
  // marker is `marker` ("*" takes any).
  const Session* find(const std::string& server, const std::string& marker,
                      const std::string& host) {
    RuntimeConfig& config = orb_.config();
    const std::string wanted = qualified(host, config);
    Channel* channel = orb_.findChannel([&](const Channel&, const Session& s) {
      if (s.serverName() != server) return false;
      if (marker != "*" && s.marker() != marker) return false;
      return s.hostName() == host || qualified(s.hostName(), config) == wanted;
    });
    return channel == nullptr ? nullptr : orb_.session(channel->id());
  }

  Orb& orb_;
};

class OrbCore : public DaemonCore {
 public:
  OrbCore(DaemonContext context, PortAllocator& ports,
          checkpoint::DaemonCheckPoint* checkpoint)
      : context_(context),
        trace_(context),
        ports_(ports),
        checkpoint_(checkpoint) {}

  ~OrbCore() override {
    // No request reaches the daemon once it is being taken down.
    if (orb_ && daemon_) orb_->withdraw(kDaemonInterface, "");
  }

  Status start(const DaemonOptions& options) {
    RuntimeConfig& config = context_.config;
    OrbOptions orb_options;
    orb_options.config = &config;
    orb_options.trace = &trace_;
    orb_ = std::make_unique<Orb>(orb_options);
    runtime_ = std::make_unique<OrbActivationRuntime>(*orb_);
    activator_ = std::make_unique<PosixActivator>(*runtime_, checkpoint_);
    applyLimits(options.limits);

    interface::DaemonOptions o;
    o.unregistered_persistent_servers = options.unregistered_persistent_servers;
    o.reap_time = options.reap_time;
    o.protected_mode = options.protected_mode;
    o.launch_as_owner = options.launch_as_owner;
    if (options.interop) o.interop_file = options.interop_file;
    o.extra_launch = options.other_name;
    o.config = &config;
    o.trace = [&stream = context_.trace](std::string_view line) {
      stream << line << talvo::endl;
    };
    o.activator = activator_.get();
    o.ports = &ports_;
    o.checkpoint = checkpoint_;
    o.orb = orb_.get();
    o.locator_wait_ms = options.locator_wait_ms;
    if (Status st = interface::Daemon::create(config.impRepPath(), std::move(o),
                                              &daemon_)) {
      return st;
    }

    orb_->serve("", interface::makeDaemonInterface(*daemon_));
    orb_->dispatcher().filters().add(
        std::make_shared<interface::DaemonFilter>(daemon_.get()));

    const char* port = config.daemonPort();
    if (port == nullptr || *port == '\0') {
      return fail<CORBA::NO_CONFIG_VALUE>(10621, "QV_DAEMON_PORT");
    }
    return orb_->listen(port, &port_);
  }

  Status implIsReady() override { return nullptr; }

  void applyLimits(const DaemonLimits& limits) {
    LoopLimits loop;
    // Room for two messages of the largest size at least, or one such
    // message could never be taken in whole.
    loop.buffer_budget = std::max<std::size_t>(limits.max_buffered_bytes,
                                               2 * orb_->maxMessageSize());
    loop.stall_timeout = std::chrono::milliseconds(limits.stall_timeout_ms);
    loop.max_connections = connectionCap(limits, platform::descriptorLimit());
    loop.requests_per_pass = limits.requests_per_pass;
    orb_->loop().setLimits(loop);
    // A registered server's own channel is how the daemon knows it alive.
    orb_->loop().setKeepGuard([this](const Channel& channel) {
      const Session* s = orb_->session(channel.id());
      return s != nullptr && !s->serverName().empty() &&
             activator_->isRegisteredProcess(
                 s->serverName(), static_cast<std::int32_t>(s->processId()));
    });
    activator_->setChildLimit(limits.max_children);
  }

  Status runOnce(std::optional<std::chrono::milliseconds> max_wait) override {
    return orb_->runOnce(max_wait ? static_cast<int>(max_wait->count()) : -1);
  }

  std::shared_ptr<Waker> makeWaker(std::function<void()> on_wake) override {
    return orb_->loop().makeWaker(std::move(on_wake));
  }

  bool watchReadable(int descriptor, std::function<void()> on_ready) override {
    orb_->loop().watch(descriptor, EventLoop::kReadable,
                       [on_ready = std::move(on_ready)](short) { on_ready(); });
    return true;
  }

  Status iorText(std::string& text) override {
    const std::string host = orb_->config().hostName();
    return protocol::iorForReference(protocol::daemonReference(host), host,
                                     port_, text);
  }

  EventLoop* loop() override { return &orb_->loop(); }

 private:
  DaemonContext context_;
  ContextTraceSink trace_;
  PortAllocator& ports_;
  checkpoint::DaemonCheckPoint* checkpoint_;  // the factory's
  // Declared in the order they are made, so that they go in reverse: the
  // daemon (and its binding service) before the activator it uses.
  std::unique_ptr<Orb> orb_;
  std::unique_ptr<OrbActivationRuntime> runtime_;
  std::unique_ptr<PosixActivator> activator_;
  std::unique_ptr<interface::Daemon> daemon_;
  std::uint16_t port_ = 0;
};

class OrbCoreFactory : public DaemonCoreFactory {
 public:
  explicit OrbCoreFactory(DaemonContext context)
      : context_(context),
        ports_(std::make_unique<PortAllocator>(
            context.config.daemonServerBase(),
            context.config.daemonServerRange(),
            [&config = context.config]() -> std::optional<std::string> {
              if (config.diagnosticsLevel() == 0) return std::nullopt;
              return config.tracePrefix("talvod");
            })) {}

  void createCheckpoint() override {
    checkpoint_ = std::make_unique<checkpoint::DaemonCheckPoint>();
  }
  // The file is read for the state transfer and then kept up to date.
  Status useCheckpointFile(const std::string& path) override {
    checkpoint_->openForReading(path, CORBA::Environment::defaultEnvironment());
    CORBA::Environment env;
    checkpoint_->openForWriting(path, env);
    if (const CORBA::SystemException* e = env.systemException()) {
      return e->cloneSystem();
    }
    return nullptr;
  }

  Status createDaemon(const DaemonOptions& options,
                      std::unique_ptr<DaemonCore>& core) override {
    auto made = std::make_unique<OrbCore>(context_, *ports_, checkpoint_.get());
    if (Status st = made->start(options)) return st;
    core = std::move(made);
    return nullptr;
  }

 private:
  DaemonContext context_;
  std::unique_ptr<PortAllocator> ports_;
  std::unique_ptr<checkpoint::DaemonCheckPoint> checkpoint_;
};

}  // namespace

std::unique_ptr<DaemonCoreFactory> makeDaemonCoreFactory(
    DaemonContext context) {
  return std::make_unique<OrbCoreFactory>(context);
}

}  // namespace talvo::daemon
