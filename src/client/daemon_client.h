// DaemonClient: the client stubs of the daemon's interface "QV_daemon".
//
// One method per operation of the table (daemon_operations.h), named after
// it, generated from the table: it takes the in arguments in signature
// order (strings as std::string_view, lists as const Strings&), then a
// pointer per out slot: the reply struct (getServer, getImplementationDetails,
// ...) or each out argument, then the result. For example
//   getServer2(serverName, ServerDescription*)
//   lookUp(service, hops, tag, Strings* hostList, bool* ok)
//   serverExists(serverName, bool* exists)
// call<op::Name>(...) is the same call by the operation's type, and
// stub<op::Name> the same as a plain function pointer. A method
// returns null on success, or the system exception of the reply (or of the
// transport: COMM_FAILURE, ...); out values are only written on success.
//
// Forwarding: a request is sent at most twice. When the first attempt ends
// in IIOP 10601 (the peer forwarded the request), the forwarder is asked
// for the new location (without one: the reference the reply brought,
// CallReply::forward), the client re-targets to it and sends the request
// once more; any other outcome, and the second attempt's, ends the call.
// The re-target sticks: later calls go to the forwarded location.
//
// Thread safety: none; a DaemonClient is used on the thread of its Orb.

#ifndef TALVO_CLIENT_DAEMON_CLIENT_H_
#define TALVO_CLIENT_DAEMON_CLIENT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "client/daemon_operations.h"
#include "client/daemon_types.h"
#include "runtime/except/exception.h"
#include "runtime/orb/orb.h"
#include "runtime/protocol/value.h"

namespace talvo::client {

// Minor code of IIOP that says the reply forwarded the request.
inline constexpr std::uint32_t kMinorForwarded = 10601;

class DaemonClient;

namespace detail {

// How a client passes an in argument of type T.
template <class T>
using ArgOf =
    std::conditional_t<std::is_same_v<T, std::string>, std::string_view,
                       std::conditional_t<std::is_class_v<T>, const T&, T>>;

template <class Op, class Ins = typename Op::Ins,
          class Outs = typename Op::Outs>
struct Stub;
template <class Op, class... I, class... O>
struct Stub<Op, std::tuple<I...>, std::tuple<O...>> {
  static Status call(DaemonClient& client, ArgOf<I>... in, O*... out);
};

}  // namespace detail

class DaemonClient {
 public:
  // Sends one request (the shape of Orb::call).
  using Transport =
      std::function<Status(const Target&, std::string_view signature,
                           std::vector<protocol::Value> args, CallReply&)>;
  // Gives the location a forwarded request is to be sent to: fills `next`
  // from the current target, or returns why it cannot (the call then ends
  // with that exception).
  using Forwarder = std::function<Status(const Target& current, Target& next)>;

  // Calls through `orb` (not owned; must outlive the client).
  DaemonClient(Orb& orb, Target target);
  // Calls through `transport` (tests, other run times).
  DaemonClient(Transport transport, Target target);

  // The location requests go to (the forwarded one after a forward).
  const Target& target() const { return target_; }
  // Without a forwarder, a forwarded call goes to the reference its reply
  // brought, and IIOP 10601 without one ends the call as it came.
  void setForwarder(Forwarder forwarder) { forwarder_ = std::move(forwarder); }

  // The stub of Op as a function of the client and the arguments, for a
  // caller that picks one of several operations of the same shape.
  template <class Op>
  static constexpr auto* stub = &detail::Stub<Op>::call;

  // The operation Op with its arguments (see above).
  template <class Op, class... A>
  Status call(A&&... args) {
    return detail::Stub<Op>::call(*this, std::forward<A>(args)...);
  }

  // One method per operation: getImplementationDetails(...), ...
#define TALVO_DAEMON_STUB(Type, name, ...)           \
  template <class... A>                              \
  Status name(A&&... args) {                         \
    return call<op::Type>(std::forward<A>(args)...); \
  }
  TALVO_DAEMON_OPERATIONS(TALVO_DAEMON_STUB)
#undef TALVO_DAEMON_STUB

  // Sends `op` with its in values in signature order (out parameters are
  // filled in as void); `reply` gets the answer. The forward rule applies.
  // A user exception in the reply (the interface declares none) comes back
  // as UNKNOWN with the exception's name as detail.
  Status invoke(DaemonOp op, std::vector<protocol::Value> ins,
                CallReply& reply);

 private:
  Transport transport_;
  Target target_;
  Forwarder forwarder_;
};

template <class Op, class... I, class... O>
Status detail::Stub<Op, std::tuple<I...>, std::tuple<O...>>::call(
    DaemonClient& client, ArgOf<I>... in, O*... out) {
  CallReply reply;
  if (Status st = client.invoke(Op::id, {toValue(in)...}, reply)) return st;
  Op::readOuts(reply.args, reply.result, typename Op::OutPointers(out...));
  return nullptr;
}

}  // namespace talvo::client

#endif  // TALVO_CLIENT_DAEMON_CLIENT_H_
