// Request filters: objects that see every request at eight points of its
// life, and the chain that runs them in order.
//
// The points, one virtual operation each, are the outgoing request before
// and after its arguments are written, the incoming request before and after
// its arguments are read (before-read is where a filter settles the
// principal), the outgoing reply before and after it is written, and the
// incoming reply before and after it is read. A filter returns true to let
// the request go on; false, or a CORBA exception thrown from the operation,
// stops it. A further operation, failure(), is called with the exception of
// a request that could not be served, before the exception reply is written;
// it may replace the exception in the environment.
//
// Thread safety: none; the chain runs on the event-loop thread.

#ifndef TALVO_RUNTIME_PROTOCOL_REQUEST_FILTER_H_
#define TALVO_RUNTIME_PROTOCOL_REQUEST_FILTER_H_

#include <memory>
#include <vector>

#include "runtime/protocol/request.h"

namespace talvo::protocol {

// Minor code recorded when a filter refuses a request.
inline constexpr std::uint32_t kMinorFilterSuppress = 10502;

enum class FilterPoint {
  kOutRequestPreMarshal,
  kOutRequestPostMarshal,
  kInRequestPreMarshal,
  kInRequestPostMarshal,
  kOutReplyPreMarshal,
  kOutReplyPostMarshal,
  kInReplyPreMarshal,
  kInReplyPostMarshal,
};

class RequestFilter {
 public:
  virtual ~RequestFilter() = default;

  virtual bool failure(Request&, CORBA::Environment&) { return true; }
  virtual bool inRequestPreMarshal(Request&, CORBA::Environment&) {
    return true;
  }
  virtual bool inRequestPostMarshal(Request&, CORBA::Environment&) {
    return true;
  }
  virtual bool outReplyPreMarshal(Request&, CORBA::Environment&) {
    return true;
  }
  virtual bool outReplyPostMarshal(Request&, CORBA::Environment&) {
    return true;
  }
  virtual bool outRequestPreMarshal(Request&, CORBA::Environment&) {
    return true;
  }
  virtual bool outRequestPostMarshal(Request&, CORBA::Environment&) {
    return true;
  }
  virtual bool inReplyPreMarshal(Request&, CORBA::Environment&) { return true; }
  virtual bool inReplyPostMarshal(Request&, CORBA::Environment&) {
    return true;
  }
};

class FilterChain {
 public:
  // Appends a filter (shared: its creator may keep it).
  void add(std::shared_ptr<RequestFilter> filter);
  bool empty() const { return filters_.empty(); }

  // Runs every filter's operation for `point` in order, with the request's
  // environment. Stops (returning false) when the environment already holds
  // an exception, when a filter throws a CORBA exception (recorded), or when
  // one returns false (FILTER_SUPPRESS 10502 recorded). True when all passed.
  bool run(FilterPoint point, Request& request);
  // Calls every filter's failure() in order; their results are ignored.
  void runFailure(Request& request);

 private:
  std::vector<std::shared_ptr<RequestFilter>> filters_;
};

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_REQUEST_FILTER_H_
