#include "interface/daemon_filter.h"

#include <algorithm>
#include <chrono>

#include "platform/log_text.h"
#include "runtime/orb/orb.h"
#include "runtime/protocol/dispatcher.h"

namespace talvo::interface {
namespace {

// Minor codes of "the object is not in this process": a request failing
// with one of them over IIOP is forwarded to the object's server.
constexpr std::uint32_t kFirstRedirected = 10100;
constexpr std::uint32_t kLastRedirected = 10119;

// How often, and how long at most, a forward waits for the port of a
// server that is still starting to accept connections.
constexpr auto kPortPoll = std::chrono::milliseconds(20);
constexpr auto kPortPatience = std::chrono::seconds(10);

bool redirectable(const protocol::Request& request,
                  const CORBA::Environment& env) {
  const auto* e = dynamic_cast<const CORBA::SystemException*>(env.exception());
  return e != nullptr && e->minor() >= kFirstRedirected &&
         e->minor() <= kLastRedirected &&
         request.peer.protocol == protocol::ProtocolKind::kIiop;
}

// Completes `done` with a forward to `port` once 127.0.0.1:`port` accepts a
// connection (or the patience ran out: the client then learns of the
// server's absence from its own connect), while the loop serves others.
void forwardWhenListening(Orb& orb, std::shared_ptr<protocol::Completion> done,
                          std::uint16_t port, Orb::Clock::time_point give_up) {
  EventLoop& loop = orb.loop();
  loop.connectAsync(
      "127.0.0.1", std::to_string(port), false, give_up,
      [&orb, done, port, give_up](Status st, Channel* ch) {
        if (st == nullptr || Orb::Clock::now() + kPortPoll >= give_up) {
          if (ch != nullptr) orb.loop().close(*ch);
          done->request().forward_port = port;
          done->complete();
          return;
        }
        orb.loop().addTimer(kPortPoll, [&orb, done, port, give_up] {
          forwardWhenListening(orb, done, port, give_up);
        });
      });
}

}  // namespace

std::string settledPrincipal(const platform::PeerIdentity& peer,
                             std::string claimed) {
  // On this host the kernel says who is calling. Root may become any user
  // anyway and keeps the name it claims; anyone else is who they are.
  if (peer.local_uid && *peer.local_uid != 0) return peer.local_user;
  // A peer of this host whose socket no process holds any more is nobody
  // in particular, whatever it claimed.
  if (peer.on_this_host && !peer.local_uid) return std::string(kNoPrincipal);
  if (claimed.empty()) return std::string(kNoPrincipal);
  // A claimed name never carries a line break or other control character
  // into a log line or a file.
  const bool clean = std::none_of(claimed.begin(), claimed.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 32 || u == 127;
  });
  if (clean) return claimed;
  return platform::escapeControlCharacters(claimed);
}

bool DaemonFilter::inRequestPreMarshal(protocol::Request& request,
                                       CORBA::Environment&) {
  request.principal =
      settledPrincipal(request.peer.identity, std::move(request.principal));
  return true;
}

bool DaemonFilter::failure(protocol::Request& request,
                           CORBA::Environment& env) {
  // Settling is idempotent: a request that failed before the principal
  // hook, or after it, ends with the same principal.
  inRequestPreMarshal(request, env);
  if (daemon_ == nullptr) return true;
  Orb* orb = daemon_->options().orb;
  if (orb != nullptr && !orb->hasProtocol("IIOP")) return true;
  if (!redirectable(request, env)) return true;

  // The target's server and marker, from its object key.
  const std::string server = request.header.server.value_or("");
  const std::string marker = request.header.marker.value_or("");
  std::uint16_t port = 0;
  Status st =
      daemon_->redirectIiop(Caller{request.principal, request.peer.identity},
                            server, marker, request.header.operation, &port);
  if (st) {
    // The client learns why it cannot be forwarded.
    st->record(env);
    return true;
  }
  // A server just launched may not listen yet: the forward waits for its
  // port, without holding up the loop.
  std::shared_ptr<protocol::Completion> done;
  if (orb != nullptr) done = request.defer();
  if (done == nullptr) {
    request.forward_port = port;
    return true;
  }
  forwardWhenListening(*orb, std::move(done), port,
                       Orb::Clock::now() + kPortPatience);
  return true;
}

}  // namespace talvo::interface
