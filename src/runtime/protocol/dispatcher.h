// Dispatch of incoming requests, as pure logic over bytes and independent
// of the protocol that carried them: a protocol's connection handler reads
// the request header (target, operation, request id, whether a reply is
// expected), hands it over with what it knows of the connection (the
// principal among it), a decoder positioned at the arguments and the
// encoder of its replies, and gets back the reply to send (none for a
// oneway request, or for one that completes later).
//
// For each request the dispatcher writes the incoming-request trace line
// (diagnostics level 2), refuses it while the process is suspended
// (QV_SUSPEND 10641, except for the interfaces "TalvoServer" and "Facade"),
// finds the target object by interface name and marker (INV_OBJREF 10101),
// runs the request filters, finds the operation (BAD_OPERATION 10242 with
// the operation name when the target has none of that exact name), reads
// the arguments by the operation's signature (MARSHAL when they do not
// decode), calls the handler and writes the reply or the exception reply.
// A deferred operation's handler gets a Completion instead; the reply goes
// to the connection's reply sink when it completes.
//
// Thread safety: none; one dispatcher serves the event-loop thread, and
// completions are completed on that thread.

#ifndef TALVO_RUNTIME_PROTOCOL_DISPATCHER_H_
#define TALVO_RUNTIME_PROTOCOL_DISPATCHER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/protocol/request.h"
#include "runtime/protocol/request_filter.h"

namespace talvo::protocol {

inline constexpr std::uint32_t kMinorNoObject = 10101;
inline constexpr std::uint32_t kMinorUnknownOperation = 10242;
inline constexpr std::uint32_t kMinorSuspended = 10641;
inline constexpr std::uint32_t kMinorHandlerFailed = 10140;

// Where the dispatcher's trace lines go.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // The diagnostics level (0 silent, 1 normal, 2 a line per request).
  virtual int level() const = 0;
  // Writes one line: the trace-line prefix, then `text`, then a line end.
  virtual void line(std::string_view text) = 0;
};

// The run time's own sink: runtimeConfig()'s level and prefix, written to
// traceStream(). Lives for the process.
TraceSink& runtimeTraceSink();

// How one protocol writes replies. Encoders keep no state of a request, so
// that a completion may use one after the dispatch returned; they must
// outlive every completion (the broker protocol's are static).
class ReplyEncoder {
 public:
  virtual ~ReplyEncoder() = default;
  // The reply carrying the request's out and inout arguments and result.
  virtual Status reply(const Request& request,
                       std::vector<std::uint8_t>& out) const = 0;
  // The reply carrying an exception.
  virtual std::vector<std::uint8_t> exceptionReply(
      const Request& request, const CORBA::Exception& e) const = 0;
};

// The broker protocol's replies in the "XDR" or "NULL" codec.
const ReplyEncoder& brokerReplyEncoder(CodecKind codec);

// Where a reply that is ready later goes (the connection it came in on).
using ReplySink = std::function<void(std::vector<std::uint8_t> reply)>;

class Dispatcher;

// The handle of a request that is answered later. The handler fills in
// request() (results, or raise()) and calls complete(), on the loop's
// thread; the reply then goes out unless the dispatcher has gone. A
// completion dropped without completing answers INTERNAL 10140
// COMPLETED_MAYBE, so that no caller waits in vain.
class Completion {
 public:
  // `failed`: the request failed and its failure hooks have run; its
  // completion writes the exception reply (or forward) alone.
  Completion(const PeerInfo& peer, Request&& request,
             const ReplyEncoder& encoder, ReplySink sink,
             std::weak_ptr<Dispatcher*> dispatcher, bool failed = false);
  ~Completion();
  Completion(const Completion&) = delete;
  Completion& operator=(const Completion&) = delete;

  Request& request() { return request_; }
  void complete();
  bool completed() const { return completed_; }

 private:
  PeerInfo peer_;  // the request refers to this copy
  Request request_;
  const ReplyEncoder& encoder_;
  ReplySink sink_;
  std::weak_ptr<Dispatcher*> dispatcher_;
  bool failed_;
  bool completed_ = false;
};

class Dispatcher {
 public:
  // `trace` may be null (no trace lines); not owned, must outlive this.
  // `host_name` fills the host field of references in INV_OBJREF details.
  explicit Dispatcher(TraceSink* trace = nullptr, std::string host_name = "");
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  ObjectTable& objects() { return objects_; }
  FilterChain& filters() { return filters_; }

  void setSuspended(bool suspended) { suspended_ = suspended; }
  bool suspended() const { return suspended_; }

  // Dispatches one request whose header has been read; `args` is
  // positioned at its arguments. Returns the reply, or nullopt when none is
  // to be sent now: a oneway request, or a deferred operation (its reply
  // goes to `later`; without a sink such an operation is refused with
  // NO_IMPLEMENT).
  std::optional<std::vector<std::uint8_t>> dispatch(
      const PeerInfo& peer, RequestHeader&& header, Decoder& args,
      const ReplyEncoder& encoder, const ReplySink* later = nullptr);

  // The broker protocol: handles one request body (the bytes after the
  // frame length). Returns the reply body, or nullopt when none is to be
  // sent: as dispatch(), or a body whose header cannot be read (there is
  // no request id to answer; the transport may drop the connection).
  std::optional<std::vector<std::uint8_t>> handleRequest(
      const PeerInfo& peer, std::span<const std::uint8_t> body,
      const ReplySink* later = nullptr);

  // Where the target of `header` is (an IIOP LocateRequest): the
  // encoder's reply() when this process serves it; otherwise its
  // exceptionReply() for INV_OBJREF 10101 after the failure hooks ran
  // (which may set a forward port, or defer: then nullopt, and the reply
  // goes to `later`).
  std::optional<std::vector<std::uint8_t>> locate(
      const PeerInfo& peer, RequestHeader header, const ReplyEncoder& encoder,
      const ReplySink* later = nullptr);

 private:
  friend class Completion;

  // handleRequest() once the body's codec is known.
  std::optional<std::vector<std::uint8_t>> handleDecoded(
      const PeerInfo& peer, Decoder& in, const ReplyEncoder& encoder,
      const ReplySink* later);
  // Runs the steps up to the operation; null when the request failed (the
  // exception is in its environment).
  const Operation* prepare(Request& request, Decoder& in);
  // Runs the handler and the filters after it; false when it failed.
  bool run(const Operation& op, Request& request);
  // The reply (or exception reply) of a request whose handler has run;
  // nullopt when a failure hook deferred it (its reply goes to `later`).
  std::optional<std::vector<std::uint8_t>> finish(Request& request, bool served,
                                                  const ReplyEncoder& encoder,
                                                  const ReplySink* later);
  std::optional<std::vector<std::uint8_t>> exceptionReply(
      Request& request, const ReplyEncoder& encoder, const ReplySink* later);
  // The exception reply once the failure hooks have run.
  static std::vector<std::uint8_t> failureReply(const Request& request,
                                                const ReplyEncoder& encoder);
  // INV_OBJREF 10101 for a target this process does not serve.
  CORBA::INV_OBJREF notFound(const RequestHeader& h) const;

  TraceSink* trace_;
  std::string host_name_;
  ObjectTable objects_;
  FilterChain filters_;
  bool suspended_ = false;
  std::shared_ptr<Dispatcher*> self_;  // completions check it is still here
};

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_DISPATCHER_H_
