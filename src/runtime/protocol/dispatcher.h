// Dispatch of incoming broker-protocol requests, as pure logic over frame
// bodies: the transport hands over each request body with what it knows of
// the connection, and gets back the reply body to send (none for a oneway
// request).
//
// For each request the dispatcher writes the incoming-request trace line
// (diagnostics level 2), refuses it while the process is suspended
// (QV_SUSPEND 10641, except for the interfaces "TalvoServer" and "Facade"),
// finds the target object by interface name and marker (INV_OBJREF 10101),
// runs the request filters, finds the operation (BAD_OPERATION 10242 with
// the operation name when the target has none of that exact name), reads
// the arguments by the operation's signature (MARSHAL when they do not
// decode), calls the handler and writes the reply or the exception reply.
//
// Thread safety: none; one dispatcher serves the event-loop thread.

#ifndef TALVO_RUNTIME_PROTOCOL_DISPATCHER_H_
#define TALVO_RUNTIME_PROTOCOL_DISPATCHER_H_

#include <cstdint>
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

class Dispatcher {
 public:
  // `trace` may be null (no trace lines); not owned, must outlive this.
  // `host_name` fills the host field of references in INV_OBJREF details.
  explicit Dispatcher(TraceSink* trace = nullptr, std::string host_name = "");

  ObjectTable& objects() { return objects_; }
  FilterChain& filters() { return filters_; }

  void setSuspended(bool suspended) { suspended_ = suspended; }
  bool suspended() const { return suspended_; }

  // Handles one request body (the bytes after the frame length). Returns the
  // reply body, or nullopt when none is to be sent: a oneway request, or a
  // body whose header cannot be read (there is no request id to answer;
  // the transport may drop the connection).
  std::optional<std::vector<std::uint8_t>> handleRequest(
      const PeerInfo& peer, std::span<const std::uint8_t> body);

 private:
  // Runs the steps up to the handler; false when the request failed (the
  // exception is in its environment).
  bool deliver(Request& request, Decoder& in);
  std::vector<std::uint8_t> exceptionReply(Request& request, CodecKind codec);

  TraceSink* trace_;
  std::string host_name_;
  ObjectTable objects_;
  FilterChain filters_;
  bool suspended_ = false;
};

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_DISPATCHER_H_
