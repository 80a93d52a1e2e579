// An incoming request as the dispatcher, the request filters and the
// operation handlers see it, and the operation tables of interfaces.
//
// A Request holds the header of the message, the caller's connection
// (PeerInfo), the principal, the arguments decoded by the operation's
// signature (one Value per parameter), the result, and the environment in
// which a handler or filter records an exception.
//
// An Interface is an operation table: operation name (compared exactly,
// case counts) to signature and handler. A handler reads the in and inout
// arguments of the request, stores the out and inout arguments and the
// result, and records any failure in the request's environment; a deferred
// handler does the same later, through its completion.
//
// Thread safety: none; requests are handled one at a time on the event-loop
// thread. Interfaces are read-only once built.

#ifndef TALVO_RUNTIME_PROTOCOL_REQUEST_H_
#define TALVO_RUNTIME_PROTOCOL_REQUEST_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"
#include "runtime/except/exception.h"
#include "runtime/protocol/message.h"
#include "runtime/protocol/signature.h"
#include "runtime/protocol/value.h"

namespace talvo::protocol {

// What the connection knows of its peer, from the peer's binding message
// (empty strings and pid 0 when the peer sent none).
struct PeerInfo {
  std::string user_name;
  std::string host_name;
  std::string server_name;
  std::string marker;
  std::uint32_t pid = 0;
  bool optimised = false;  // messages use the "NULL" codec
  ProtocolKind protocol = ProtocolKind::kTalvo;
  // Who is at the other end of the connection (addresses, the connection's
  // number, a local peer's credentials), as the transport took it.
  platform::PeerIdentity identity;
};

class Completion;

struct Request {
  Request(const PeerInfo& p, RequestHeader&& h)
      : peer(p), header(std::move(h)), principal(p.user_name) {}

  const PeerInfo& peer;
  RequestHeader header;
  // The principal: the user name of the connection until a filter sets it.
  std::string principal;
  // The operation's signature once it is found (owned by the interface).
  const Signature* signature = nullptr;
  std::vector<Value> args;
  Value result;
  CORBA::Environment env;
  // The members of a user exception, written after its name or id when
  // set (a struct type and its value).
  std::optional<TypeDesc> exception_members;
  Value exception_value;
  // Set by a failure hook on a request that came over IIOP: the answer is
  // a location forward to the same object at this port of this host
  // (LOCATION_FORWARD; OBJECT_FORWARD for a LocateRequest) instead of the
  // exception. The broker protocol ignores it.
  std::optional<std::uint16_t> forward_port;

  // Records `e` in the environment (a copy; user or system by its type).
  void raise(const CORBA::Exception& e) { e.record(env); }
  // The same for a user exception with members.
  void raiseUser(const CORBA::UserException& e, TypeDesc members, Value value) {
    raise(e);
    exception_members = std::move(members);
    exception_value = std::move(value);
  }

  // For a failure hook that must ask elsewhere before it can answer (the
  // daemon launching a server to forward to): moves this request into a
  // completion and returns it; the hook keeps it, sets forward_port or the
  // exception on its request() and completes it later, while the loop
  // serves others. From here on only the completion's request() may be
  // used. Null (and nothing moved) where the request cannot be answered
  // later. Later filters' failure hooks do not run.
  std::shared_ptr<Completion> defer();
  bool deferred() const { return deferred_; }

  // Set by the dispatcher while the failure hooks run.
  std::function<std::shared_ptr<Completion>()> defer_hook;
  // The decoded argument i (no bounds check beyond std::vector::at).
  const Value& arg(std::size_t i) const { return args.at(i); }

 private:
  bool deferred_ = false;
};

using OperationHandler = std::function<void(Request&)>;

// A request that is answered later (dispatcher.h): the handler keeps the
// handle, fills in its request and completes it when the answer is known,
// while the loop serves others.
class Completion;
using DeferredHandler = std::function<void(std::shared_ptr<Completion>)>;

struct Operation {
  Signature signature;
  OperationHandler handler;  // answered when it returns
  DeferredHandler deferred;  // or answered when its completion completes
};

class Interface {
 public:
  explicit Interface(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }

  // Adds an operation from its signature text. A malformed signature gives
  // its MARSHAL; a name already in the table BAD_PARAM 10020.
  Status addOperation(std::string_view signature, OperationHandler handler);
  // The same for an operation whose reply is sent when the handler's
  // completion completes.
  Status addDeferredOperation(std::string_view signature,
                              DeferredHandler handler);
  // The operation of exactly that name, or null.
  const Operation* find(std::string_view operation) const;
  std::size_t size() const { return operations_.size(); }

 private:
  Status add(std::string_view signature, Operation op);

  std::string name_;
  std::map<std::string, Operation, std::less<>> operations_;
};

// The objects of this process: each is an interface's operation table
// registered under its marker. A target is found by interface name and
// marker (the daemon's own object has the empty marker).
class ObjectTable {
 public:
  // Registers (replacing an object of the same interface and marker).
  void add(std::string marker, std::shared_ptr<const Interface> object);
  // False when no such object was registered.
  bool remove(std::string_view interface_name, std::string_view marker);
  // The object, or null.
  const Interface* find(std::string_view interface_name,
                        std::string_view marker) const;

 private:
  std::map<std::pair<std::string, std::string>,
           std::shared_ptr<const Interface>, std::less<>>
      objects_;
};

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_REQUEST_H_
