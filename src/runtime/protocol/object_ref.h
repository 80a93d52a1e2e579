// Object references of the broker protocol, their string form, and the
// interoperable ("IOR:") text form for IIOP.
//
// String form: ":\" followed by six fields separated by ":" -- host, server,
// marker, interface-repository host, interface-repository server, interface.
// Fields 1 to 5 end at the next ":"; the interface runs to the end, so it
// may hold "::" ("CORBA::Object"). A reference object keeps its fields and
// its string; each setter marks its field in a six-bit change mask (1 host,
// 2 server, 4 marker, 8 repository host, 16 repository server, 32
// interface) and the string is rebuilt when it is next asked for.
//
// The "IOR:" text is the hexadecimal form (two lowercase digits per byte) of
// a CDR encapsulation: byte order, type id "IDL:<interface>:1.0", and one
// IIOP 1.0 profile with host, port and as object key the string reference
// with its terminating NUL.
//
// Thread safety: plain values.

#ifndef TALVO_RUNTIME_PROTOCOL_OBJECT_REF_H_
#define TALVO_RUNTIME_PROTOCOL_OBJECT_REF_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/except/exception.h"
#include "runtime/protocol/message.h"

namespace talvo::protocol {

// Minor codes of references that cannot be read.
inline constexpr std::uint32_t kMinorBadReference = 10027;  // BAD_PARAM
inline constexpr std::uint32_t kMinorBadIor = 10172;        // MARSHAL
// Minor code of a daemon that cannot be reached for want of a port.
inline constexpr std::uint32_t kMinorNoDaemonPort = 10621;  // NO_CONFIG_VALUE

class ObjectRef {
 public:
  enum Field : int {
    kHost = 1,
    kServer = 2,
    kMarker = 3,
    kRepositoryHost = 4,
    kRepositoryServer = 5,
    kInterface = 6,
  };

  // A reference with the run time's defaults: empty marker and repository
  // host, repository server "IR", interface "CORBA::Object".
  ObjectRef(std::string host, std::string server, std::string marker = "",
            std::string repository_host = "",
            std::string repository_server = "IR",
            std::string interface_name = "CORBA::Object");

  // Reads a string reference. Text not in the string form, or with fewer
  // than six fields, gives BAD_PARAM 10027 with the text as detail.
  static Status parse(std::string_view text, ObjectRef& out);
  // Field `n` (1 to 6) of a string reference; nullopt for another number,
  // a text not in the string form, or a field the text does not reach.
  static std::optional<std::string> field(std::string_view text, int n);
  // True when `text` begins with ":\".
  static bool isStringForm(std::string_view text);

  // Field `n` (1 to 6) of this reference, or nullopt.
  std::optional<std::string> field(int n) const;
  const std::string& host() const { return fields_[0]; }
  const std::string& server() const { return fields_[1]; }
  const std::string& marker() const { return fields_[2]; }
  const std::string& interfaceName() const { return fields_[5]; }

  // Changes field `n` (1 to 6; others are ignored) and marks it.
  void setField(int n, std::string value);
  // The fields changed since the string was last built.
  std::uint8_t changeMask() const { return mask_; }
  // The string form, rebuilt first when fields changed.
  const std::string& toString() const;

  // The request header addressed to this object (items 2 and 3 from the
  // string's first two characters, item 6 the server name).
  RequestHeader requestHeader(std::string operation, std::uint32_t request_id,
                              bool response_expected = true) const;

 private:
  std::string fields_[6];
  mutable std::string text_;
  mutable std::uint8_t mask_ = 0;
};

// The string reference of the daemon on `host`:
// ":\<host>:QV_daemon:::IR:QV_daemon".
std::string daemonReference(std::string_view host);

// The request body of the "_QV_PING" operation (no arguments, no result)
// sent to `target` to prove that its server has the object.
std::vector<std::uint8_t> pingRequest(const ObjectRef& target,
                                      std::uint32_t request_id);

// How the daemon on a host is reached: by IIOP when `daemon_protocol` is
// "IIOP", else by the broker protocol at the daemon's string reference; the
// port is `daemon_port`, and a null or empty port gives NO_CONFIG_VALUE
// 10621.
struct DaemonEndpoint {
  bool iiop = false;
  std::string host;
  std::string port;
  std::string reference;
};
Status daemonEndpoint(const char* daemon_protocol, const char* daemon_port,
                      std::string_view host, DaemonEndpoint& out);

// What an interoperable reference holds (one IIOP profile).
struct IorProfile {
  std::string type_id;
  std::uint8_t major = 1;
  std::uint8_t minor = 0;
  std::string host;
  std::uint16_t port = 0;
  std::vector<std::uint8_t> object_key;
};

// The "IOR:" text of an encapsulation's bytes.
std::string iorText(std::span<const std::uint8_t> encapsulation);
// The encapsulation of a reference with the given profile.
std::vector<std::uint8_t> iorEncapsulation(const IorProfile& profile);
// The "IOR:" text published for a string reference on `host` and `port`:
// type id from its interface field, object key its bytes and a NUL.
// A text not in the string form gives BAD_PARAM 10027.
Status iorForReference(std::string_view reference, std::string_view host,
                       std::uint16_t port, std::string& out);
// Reads an "IOR:" text back (its first IIOP profile). Text that is not hex,
// or bytes that do not decode, give MARSHAL 10172 with the text as detail.
Status parseIor(std::string_view text, IorProfile& out);

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_OBJECT_REF_H_
