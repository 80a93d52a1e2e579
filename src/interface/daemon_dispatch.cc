#include "interface/daemon_dispatch.h"

#include <cstdlib>
#include <tuple>
#include <type_traits>

#include "client/daemon_operations.h"

namespace talvo::interface {
namespace {

using protocol::Request;

// The handler of operation Op: reads the in values the dispatcher decoded
// by the signature, calls the Daemon method with the request's Caller and
// a pointer per out slot, then stores the outs and the result, or records
// the method's exception for the reply.
template <class Op, class Method>
protocol::OperationHandler handler(Daemon* daemon, Method method) {
  return [daemon, method](Request& r) {
    typename Op::Ins ins = Op::readIns(r.args);
    typename Op::Outs outs;
    auto pointers = std::apply(
        [](auto&... out) { return typename Op::OutPointers(&out...); }, outs);
    Status st = std::apply(
        [&](auto&... in) {
          return std::apply(
              [&](auto*... out) {
                return (daemon->*method)(callerOf(r), in..., out...);
              },
              pointers);
        },
        ins);
    if (st != nullptr) {
      st->record(r.env);
      return;
    }
    Op::writeOuts(pointers, r.args, r.result);
  };
}

// lookUp answers when its question is settled, perhaps by another daemon,
// while the loop serves others.
void bindLookUp(protocol::Interface& table, Daemon* daemon) {
  using Op = client::op::LookUp;
  auto deferred = [daemon](std::shared_ptr<protocol::Completion> c) {
    auto [service, hops, tag] = Op::readIns(c->request().args);
    daemon->lookUp(callerOf(c->request()), service, hops, tag,
                   [c](Status st, std::vector<std::string> hosts, bool ok) {
                     Request& r = c->request();
                     if (st != nullptr) {
                       st->record(r.env);
                     } else {
                       Op::writeOuts(Op::OutPointers(&hosts, &ok), r.args,
                                     r.result);
                     }
                     c->complete();
                   });
  };
  if (table.addDeferredOperation(Op::signature(), deferred)) std::abort();
}

template <class Op, class Method>
void bindOperation(protocol::Interface& table, Daemon* daemon, Method method) {
  if constexpr (std::is_same_v<Op, client::op::LookUp>) {
    bindLookUp(table, daemon);
  } else if (table.addOperation(Op::signature(), handler<Op>(daemon, method))) {
    std::abort();
  }
}

}  // namespace

Caller callerOf(const Request& request) {
  return Caller{request.principal, request.peer.identity};
}

std::shared_ptr<protocol::Interface> makeDaemonInterface(Daemon& daemon) {
  auto table = std::make_shared<protocol::Interface>(
      std::string(client::kDaemonInterfaceName));
  // The table's signatures are built from its types with distinct names;
  // they always parse.
#define TALVO_DAEMON_BIND(Type, name, ...) \
  bindOperation<client::op::Type>(*table, &daemon, &Daemon::name);
  TALVO_DAEMON_OPERATIONS(TALVO_DAEMON_BIND)
#undef TALVO_DAEMON_BIND
  return table;
}

void registerDaemon(Daemon& daemon, protocol::Dispatcher& dispatcher) {
  dispatcher.objects().add("", makeDaemonInterface(daemon));
}

}  // namespace talvo::interface
