#include "interface/daemon_dispatch.h"

#include <cstdlib>
#include <tuple>

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

}  // namespace

Caller callerOf(const Request& request) {
  return Caller{request.principal, request.peer.identity};
}

std::shared_ptr<protocol::Interface> makeDaemonInterface(Daemon& daemon) {
  auto table = std::make_shared<protocol::Interface>(
      std::string(client::kDaemonInterfaceName));
  // The table's signatures are built from its types with distinct names;
  // they always parse.
#define TALVO_DAEMON_BIND(Type, name, ...)                      \
  if (table->addOperation(                                      \
          client::op::Type::signature(),                        \
          handler<client::op::Type>(&daemon, &Daemon::name))) { \
    std::abort();                                               \
  }
  TALVO_DAEMON_OPERATIONS(TALVO_DAEMON_BIND)
#undef TALVO_DAEMON_BIND
  return table;
}

void registerDaemon(Daemon& daemon, protocol::Dispatcher& dispatcher) {
  dispatcher.objects().add("", makeDaemonInterface(daemon));
}

}  // namespace talvo::interface
