// The IIOP side of request dispatch, on byte buffers: a GIOP request header
// turned into the dispatcher's header (the target from the object key),
// and the protocol::ReplyEncoder objects that write Reply and LocateReply
// messages for the dispatcher and for completions.
//
// The object key of a reference this run time publishes is the object's
// broker string reference with its terminating NUL; the key read back as a
// string reference gives the target's marker, server and interface. A
// failure hook that sets Request::forward_port turns the answer into a
// location forward: the same object key, this host, that port, type id
// "IDL:<interface>:1.0" (Reply: LOCATION_FORWARD; LocateReply:
// OBJECT_FORWARD).
//
// Thread safety: the writers keep no state of a request and may be shared
// by every connection of one thread.

#ifndef TALVO_RUNTIME_IIOP_REPLIES_H_
#define TALVO_RUNTIME_IIOP_REPLIES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/iiop/giop.h"
#include "runtime/protocol/dispatcher.h"

namespace talvo::iiop {

// The operations every served object answers over IIOP.
inline constexpr std::string_view kIsA = "_is_a";
inline constexpr std::string_view kNonExistent = "_non_existent";
// The standard id of the base of every interface.
inline constexpr std::string_view kObjectTypeId =
    "IDL:omg.org/CORBA/Object:1.0";

// The text of an object key or principal: its bytes up to the first NUL.
std::string keyText(const std::vector<std::uint8_t>& bytes);

// The dispatcher's header of a GIOP request. A key that is not a string
// reference gives INV_OBJREF 10101 with the key's text as detail.
Status dispatchHeader(const RequestHeader& giop, protocol::RequestHeader& out);

// The type id of an object of `interface_name`: "IDL:<interface>:1.0".
std::string typeId(std::string_view interface_name);

// The reference a forwarded request goes to (see above).
protocol::IorProfile forwardReference(const protocol::Request& request,
                                      std::string_view host,
                                      std::uint16_t port);

// Reply messages. `host`: the host that forwarded references name (the
// local qualified host name).
class ReplyWriter : public protocol::ReplyEncoder {
 public:
  explicit ReplyWriter(std::string host) : host_(std::move(host)) {}
  // NO_EXCEPTION: the result, then the out and inout arguments.
  Status reply(const protocol::Request& request,
               std::vector<std::uint8_t>& out) const override;
  // LOCATION_FORWARD when the request has a forward port; otherwise
  // SYSTEM_EXCEPTION (standard id, minor, completion) or USER_EXCEPTION
  // (repository id, then the members the request carries, if any).
  std::vector<std::uint8_t> exceptionReply(
      const protocol::Request& request,
      const CORBA::Exception& e) const override;

 private:
  std::string host_;
};

// LocateReply messages: OBJECT_HERE for a served target (reply()); for a
// target that is not (exceptionReply()), OBJECT_FORWARD when a failure hook
// set a forward port, else UNKNOWN_OBJECT.
class LocateReplyWriter : public protocol::ReplyEncoder {
 public:
  explicit LocateReplyWriter(std::string host) : host_(std::move(host)) {}
  Status reply(const protocol::Request& request,
               std::vector<std::uint8_t>& out) const override;
  std::vector<std::uint8_t> exceptionReply(
      const protocol::Request& request,
      const CORBA::Exception& e) const override;

 private:
  std::string host_;
};

// A Reply answering `request_id` with a system exception, or with one
// boolean result (_is_a, _non_existent).
Bytes systemExceptionReply(std::uint32_t request_id,
                           const CORBA::SystemException& e);
Bytes booleanReply(std::uint32_t request_id, bool value);

}  // namespace talvo::iiop

#endif  // TALVO_RUNTIME_IIOP_REPLIES_H_
