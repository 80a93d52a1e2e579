#include "client/daemon_client.h"

#include <utility>

namespace talvo::client {
namespace {

using protocol::Value;

bool forwarded(const Status& st) {
  return st != nullptr && st->bareName() == "IIOP" &&
         st->minor() == kMinorForwarded;
}

}  // namespace

DaemonClient::DaemonClient(Orb& orb, Target target)
    : transport_([&orb](const Target& t, std::string_view sig,
                        std::vector<Value> args, CallReply& reply) {
        return orb.call(t, sig, std::move(args), reply);
      }),
      target_(std::move(target)) {}

DaemonClient::DaemonClient(Transport transport, Target target)
    : transport_(std::move(transport)), target_(std::move(target)) {}

Status DaemonClient::invoke(DaemonOp op, std::vector<Value> ins,
                            CallReply& reply) {
  const DaemonOperation& entry = daemonOperation(op);
  const protocol::Signature& sig = daemonSignature(op);
  std::vector<Value> args(sig.parameters.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (sig.parameters[i].sent() && next < ins.size()) {
      args[i] = std::move(ins[next++]);
    }
  }
  if (next != ins.size()) {
    return fail<CORBA::MARSHAL>(10168,
                                "bad typecode " + std::string(entry.signature));
  }
  reply = CallReply{};
  Status st = transport_(target_, entry.signature, args, reply);
  if (forwarded(st) && (forwarder_ || reply.forward)) {
    Target moved;
    if (forwarder_) {
      if (Status where = forwarder_(target_, moved)) return where;
    } else {
      moved = iiopTarget(*reply.forward);
    }
    target_ = std::move(moved);
    reply = CallReply{};
    st = transport_(target_, entry.signature, std::move(args), reply);
  }
  if (st != nullptr) return st;
  if (reply.user_exception != nullptr) {
    return fail<CORBA::UNKNOWN>(0, reply.user_exception->name());
  }
  return nullptr;
}

}  // namespace talvo::client
