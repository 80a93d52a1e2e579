// Orb: the broker run time of one process, joining the event loop (sockets,
// framing) to the request dispatcher (message bodies, operation tables).
//
// Serving: register interfaces with serve(), open a port with listen() (or
// initialiseServer()), then keep calling runOnce(). The Orb gathers each
// connection's bytes into messages (connection.h): an accepted connection
// that starts with "GIOP" goes to the registered IiopHandler (every Orb
// registers its own, iiop_protocol.h, which serves the same objects over
// GIOP 1.0; none: it is closed with BAD_PARAM 10034 "IIOP"); everything
// else is the broker
// protocol, whose frames over the size limit close the connection with
// COMM_FAILURE 10089 and three trace lines, and whose frames of an unknown
// message kind are dropped. Every accepted
// connection starts with the binding exchange: the connecting side's first
// frame is its binding message, which this side answers with its own; the
// peer's user name, host, server name, marker and process id are kept in
// the connection's Session and every request of the connection is dispatched
// with them (the user name is the request's principal). A connection whose
// first frame is a request is served as well, with an empty user name and pid
// 0.
//
// Calling: callAsync() sends a request to a Target (host, port and the
// object's reference) over a cached channel, opened (without blocking) and
// bound on first use, and completes when the reply with the request's id
// arrives, the channel closes, the reply time-out passes or the call's
// deadline does; the loop serves everything else meanwhile. call() is the
// same, running the loop until its call completes, so a process serves and
// calls on one thread. A served operation that must call another process
// before it can answer is deferred (protocol::Interface::
// addDeferredOperation): its reply goes out when its completion completes.
//
// Thread safety: none. One thread owns an Orb and everything it hands out;
// handlers run on that thread, inside runOnce() or inside a call()'s wait.

#ifndef TALVO_RUNTIME_ORB_ORB_H_
#define TALVO_RUNTIME_ORB_ORB_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/except/exception.h"
#include "runtime/orb/session.h"
#include "runtime/protocol/dispatcher.h"
#include "runtime/protocol/object_ref.h"
#include "runtime/protocol/request.h"
#include "runtime/protocol/signature.h"
#include "runtime/protocol/value.h"
#include "runtime/transport/event_loop.h"

namespace talvo {

class RuntimeConfig;
class IiopProtocol;

// The IIOP protocol object, registered when the process speaks IIOP.
class IiopHandler {
 public:
  virtual ~IiopHandler() = default;
  // A complete GIOP message, header included.
  virtual void onMessage(Channel& channel, ByteView message) = 0;
};

// Minor code of a server name that is not QV_SERVER_NAME (BAD_PARAM).
inline constexpr std::uint32_t kMinorServerNameMismatch = 10022;
// The operation every served object answers, proving that it exists.
inline constexpr std::string_view kPingOperation = "_QV_PING";
inline constexpr std::string_view kPingSignature = "Ro~_QV_PING~,>{v},N{}";

// Where a call goes: the endpoint of the target's server and the target's
// reference (its marker and interface name address the object there).
struct Target {
  std::string host;  // dotted address or host name to connect to
  std::string port;  // decimal
  protocol::ObjectRef ref{"", ""};
  bool iiop = false;  // reach it by IIOP (GIOP 1.0)
  // IIOP: the object key sent; empty: the reference's string and a NUL.
  std::vector<std::uint8_t> object_key;
};

// The IIOP target an interoperable reference names: its profile's host,
// port and object key (the reference read back from the key when it holds
// a string reference).
Target iiopTarget(const protocol::IorProfile& ior);

// What a two-way call brought back.
struct CallReply {
  // One value per parameter of the signature: the in values as sent, the
  // out and inout values as returned.
  std::vector<protocol::Value> args;
  protocol::Value result;  // void for ">{v}"
  // Set when the target raised a user exception (system exceptions are the
  // call's Status instead). Its members, if any, are in user_members.
  std::unique_ptr<CORBA::Exception> user_exception;
  std::vector<std::uint8_t> user_members;
  protocol::CodecKind user_codec = protocol::CodecKind::kXdr;  // of members
  // CDR members: their byte order and their offset in the message, which
  // alignment counts from (makeDecoder's `little_endian` and `origin`).
  bool user_little_endian = false;
  std::size_t user_origin = 0;
  // IIOP: the reference a LOCATION_FORWARD reply gave (the call then ended
  // with IIOP 10601 COMPLETED_NO); iiopTarget() makes the new target.
  std::optional<protocol::IorProfile> forward;
};

struct OrbOptions {
  // Not owned; must outlive the Orb. Null: the process-wide objects.
  TransportContext* context = nullptr;
  RuntimeConfig* config = nullptr;
  protocol::TraceSink* trace = nullptr;
  // The run time's optimisation option: offer the probe in binding messages
  // and use the "NULL" codec on channels whose peers share the
  // representation.
  bool optimise = false;
  // Bound of every reply wait and of the binding exchange.
  int reply_timeout_ms = 60000;
  // Connect with retries per QV_CONNECT_ATTEMPTS (else once).
  bool connect_retries = true;
  // This process's id in binding messages (0: the real one).
  std::uint32_t pid = 0;
};

// Asks the daemon for the server's port, transport and encoding when a
// server initialises with registration. Filled by the daemon's client code.
struct ServerRegistration {
  std::string port;
  std::string comms;
  std::string code;
};
using Registrar =
    std::function<Status(const std::string& server_name, ServerRegistration&)>;

class Orb {
 public:
  using Clock = std::chrono::steady_clock;
  // A call's end: null and the reply, or the failure (the reply then holds
  // the arguments as sent).
  using CallDone = std::function<void(Status, CallReply&)>;

  explicit Orb(OrbOptions options = {});
  ~Orb();
  Orb(const Orb&) = delete;
  Orb& operator=(const Orb&) = delete;

  // --- Serving -----------------------------------------------------------

  // Registers `object` under `marker` (replacing one of the same interface
  // and marker). Adds the "_QV_PING" operation when the interface has none,
  // and answers "_QV_PING" for the marker as "CORBA::Object" too.
  void serve(std::string marker, std::shared_ptr<protocol::Interface> object);
  // Withdraws an object; false when it was not served.
  bool withdraw(std::string_view interface_name, std::string_view marker);
  // The dispatcher: its filter chain and suspension flag are the process's.
  protocol::Dispatcher& dispatcher() { return dispatcher_; }

  // Listens on `port` (decimal; "0" lets the system choose). `bound` gets
  // the port. Failure: COMM_FAILURE 10088. Broker-protocol and IIOP
  // clients share every port.
  Status listen(const std::string& port, std::uint16_t* bound = nullptr);

  // Server initialisation: checks (without registration) that a non-empty
  // `server_name` is QV_SERVER_NAME (else BAD_PARAM 10022), or (with
  // registration) asks the registrar and stores the name, port, transport
  // and encoding; then listens on QV_SERVER_PORT ("0" when unset; the port
  // chosen is stored back), and on QV_IIOP_PORT too when that is set to
  // another port, and writes the availability trace lines. A failure to
  // listen writes "Initialisation of server ..." and returns it.
  Status initialiseServer(const std::string& server_name, bool registration);
  void setRegistrar(Registrar registrar) { registrar_ = std::move(registrar); }
  // Not owned; null unregisters (the Orb's own is registered at first).
  void setIiopHandler(IiopHandler* handler) { iiop_ = handler; }
  // Whether the protocol of that name is registered: "Talvo" always,
  // "IIOP" while an IIOP handler is.
  bool hasProtocol(std::string_view name) const;

  // An extra listening port for IIOP clients (the daemon's listeners for
  // its servers' fixed ports): like listen(), since every port of an Orb
  // tells the protocols apart by their first bytes, and gives the
  // listening socket's descriptor and local port. Failures: BAD_PARAM
  // 10034 "IIOP" when no IIOP handler is registered; COMM_FAILURE 10088
  // when the port cannot be opened.
  struct IiopListener {
    int descriptor = -1;
    std::uint16_t port = 0;
  };
  Status listenIiop(const std::string& port, IiopListener& out);
  // A check run over every broker frame body; a text result is a failure:
  // the channel is closed with COMM_FAILURE 10097 and the text as detail.
  void setIntegrityCheck(
      std::function<std::optional<std::string>(ByteView)> check) {
    integrity_ = std::move(check);
  }
  // The largest message body accepted (QV_MAX_MESSAGE_SIZE, read once).
  std::uint64_t maxMessageSize() const { return max_message_size_; }
  bool initialised() const { return initialised_; }

  // Serves what is ready, waiting up to `timeout_ms` (negative: no limit).
  // Nothing ready is not a failure here: it returns null.
  Status runOnce(int timeout_ms);

  // --- Calling -----------------------------------------------------------

  // Calls the operation of `signature` on `target` with one value per
  // parameter (out parameters' values are ignored). Over IIOP (target.iiop)
  // the call is a GIOP 1.0 Request on a channel of its own to host:port (no
  // binding exchange); replies give results, user exceptions, system
  // exceptions by their standard ids (others UNKNOWN), and a
  // LOCATION_FORWARD ends the call with IIOP 10601 and the reference in
  // reply.forward. A oneway operation
  // returns once the request is queued. System exceptions, transport
  // failures (COMM_FAILURE) and a reply not arriving within the reply
  // time-out (COMM_FAILURE 10087) are the Status; a malformed signature or
  // wrong argument list is MARSHAL and nothing is sent.
  Status call(const Target& target, std::string_view signature,
              std::vector<protocol::Value> args, CallReply& reply);
  // The same without waiting: `done` runs on the loop's thread (never
  // inside this call) when the call ends. Besides the connect and reply
  // time-outs, the call fails with COMM_FAILURE 10087 when `deadline`
  // passes first (Clock::time_point::max(): none). Returns an id for
  // cancelCall().
  std::uint64_t callAsync(const Target& target, std::string_view signature,
                          std::vector<protocol::Value> args,
                          Clock::time_point deadline, CallDone done);
  // Abandons a call; its `done` never runs (a late reply is dropped).
  void cancelCall(std::uint64_t id);

  // Sends "_QV_PING" to the target: null when its server has the object.
  Status ping(const Target& target);
  // Binds to the object `marker` of `server` reached at `host`:`port`:
  // builds its reference (qualified host, repository server "IR",
  // interface "CORBA::Object"), pings it and, on success, fills `out`.
  Status bind(const std::string& marker, const std::string& server,
              const std::string& host, const std::string& port, Target& out);
  // The daemon on `host`: its reference, QV_DAEMON_PORT (NO_CONFIG_VALUE
  // 10621 when unset or empty) and QV_DAEMON_PROTOCOL ("IIOP": by IIOP).
  Status daemonTarget(const std::string& host, Target& out);

  // The bound channel to host:port, opened and bound when there is none,
  // running the loop until it is. Failures: the connect's COMM_FAILURE
  // (10085 refused, ...), or the binding exchange's (10090 when the answer
  // is not a binding message, 10087 when none comes within the reply
  // time-out).
  Status channelTo(const std::string& host, const std::string& port,
                   Channel** out);

  // What is known of the peer of the open channel `channel` (its id), or
  // null.
  const Session* session(std::uint64_t channel) const;
  // The first open channel (in order of creation) for which `match` is
  // true of it and its session, or null.
  Channel* findChannel(
      const std::function<bool(const Channel&, const Session&)>& match);

  EventLoop& loop() { return loop_; }
  RuntimeConfig& config() { return config_; }
  const OrbOptions& options() const { return options_; }

 private:
  using ChannelDone = std::function<void(Status, Channel*)>;
  // A channel being opened and bound, and the calls waiting for it.
  struct Opening {
    std::vector<ChannelDone> waiters;
    std::uint64_t connect = 0;  // the loop's connect, while it runs
    std::uint64_t channel = 0;  // once connected
    EventLoop::TimerId timer = 0;
  };
  struct PendingCall {
    const protocol::Signature* sig = nullptr;
    protocol::ObjectRef ref{"", ""};
    bool iiop = false;
    std::vector<std::uint8_t> object_key;  // IIOP
    CallReply reply;
    CallDone done;
    protocol::CodecKind codec = protocol::CodecKind::kXdr;
    std::uint64_t channel = 0;  // once sent
    std::uint32_t request_id = 0;
    EventLoop::TimerId timer = 0;  // the deadline, then the reply time-out
  };

  friend class IiopProtocol;

  DataState onData(Channel& channel, ByteView bytes);
  // A GIOP Reply or LocateReply (the whole message, its header checked) on
  // `channel`: a Reply completes the IIOP call waiting for its request id.
  void iiopReplyArrived(Channel& channel, ByteView message);
  void receiveTalvo(Channel& channel, Session& session, ByteView frame);
  void refuseTooLarge(Channel& channel, const Session& session);
  // One whole broker-protocol frame from `channel`; the caller keeps
  // `peer` alive through it (a handler may run the loop, during which the
  // channel can close).
  void onFrame(Channel& channel, Session& peer, ByteView frame);
  // Queues one broker-protocol frame with `body`.
  Status sendFrame(Channel& channel, ByteView body);
  void onClosed(Channel& channel, const CORBA::SystemException* reason);
  // A channel to host:port: bound by the binding exchange, or for IIOP
  // (`iiop`) a plain connection of its own whose replies are GIOP.
  void channelAsync(const std::string& host, const std::string& port, bool iiop,
                    Clock::time_point deadline, ChannelDone done);
  void channelReady(const std::string& key, Channel& channel);
  Status sendIiopCall(PendingCall& call, Channel& channel,
                      std::uint32_t request_id);
  void bindingAnswered(Channel& channel, Session& peer, ByteView frame);
  void openFailed(const std::string& key, Status status);
  void sendCall(std::uint64_t id, Channel& channel);
  void replyArrived(Channel& channel, std::uint32_t request_id, ByteView frame);
  void finishCall(std::uint64_t id, Status status);
  void channelClosed(std::uint64_t channel,
                     const CORBA::SystemException* reason);
  void acceptBinding(Channel& channel, Session& peer, ByteView frame);
  void applyBinding(Session& peer, const protocol::BindingMessage& m);
  void serveRequest(Channel& channel, Session& peer, ByteView frame);
  std::shared_ptr<Session> sessionOf(const Channel& channel);
  void traceNewConnection(const Channel& channel, const Session& session);
  std::vector<std::uint8_t> localBindingBody();
  const protocol::Signature* signature(std::string_view text, Status& error);
  void trace(const std::string& text, bool prefixed);

  OrbOptions options_;
  TransportContext& context_;
  RuntimeConfig& config_;
  EventLoop loop_;
  std::unique_ptr<protocol::TraceSink> own_trace_;  // when none was given
  // Before the dispatcher: its reply writers outlive every completion.
  std::unique_ptr<IiopProtocol> own_iiop_;
  protocol::Dispatcher dispatcher_;
  protocol::RequestIds request_ids_;
  std::uint32_t binding_ids_ = 0;
  std::uint32_t pid_;
  std::map<std::uint64_t, std::shared_ptr<Session>> sessions_;  // by channel
  std::map<std::string, std::uint64_t, std::less<>> channels_;  // host:port
  std::map<std::string, Opening, std::less<>> opening_;         // host:port
  std::map<std::uint64_t, PendingCall> calls_;                  // by call id
  // Calls awaiting their reply, by channel id and request id.
  std::map<std::pair<std::uint64_t, std::uint32_t>, std::uint64_t> replies_;
  std::uint64_t next_call_ = 1;
  std::map<std::string, protocol::Signature, std::less<>> signatures_;
  std::map<std::string, int, std::less<>> markers_;  // served objects each
  std::shared_ptr<protocol::Interface> ping_object_;
  Registrar registrar_;
  bool initialised_ = false;
  IiopHandler* iiop_ = nullptr;
  std::function<std::optional<std::string>(ByteView)> integrity_;
  std::uint64_t max_message_size_;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_ORB_ORB_H_
