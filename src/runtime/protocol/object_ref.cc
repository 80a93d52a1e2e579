#include "runtime/protocol/object_ref.h"

#include "runtime/protocol/cdr_codec.h"
#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

constexpr std::uint32_t kTagInternetIop = 0;

Status badReference(std::string_view text) {
  return fail<CORBA::BAD_PARAM>(kMinorBadReference, std::string(text));
}

Status badIor(std::string_view text) {
  return fail<CORBA::MARSHAL>(kMinorBadIor, std::string(text));
}

// Splits a string reference into up to six fields.
std::vector<std::string_view> splitFields(std::string_view text) {
  std::vector<std::string_view> out;
  std::string_view rest = text.substr(2);
  while (out.size() < 5) {
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) break;
    out.push_back(rest.substr(0, colon));
    rest.remove_prefix(colon + 1);
  }
  out.push_back(rest);
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

ObjectRef::ObjectRef(std::string host, std::string server, std::string marker,
                     std::string repository_host, std::string repository_server,
                     std::string interface_name)
    : fields_{std::move(host),
              std::move(server),
              std::move(marker),
              std::move(repository_host),
              std::move(repository_server),
              std::move(interface_name)},
      mask_(0x3f) {}

bool ObjectRef::isStringForm(std::string_view text) {
  return text.size() >= 2 && text[0] == ':' && text[1] == '\\';
}

Status ObjectRef::parse(std::string_view text, ObjectRef& out) {
  if (!isStringForm(text)) return badReference(text);
  const auto parts = splitFields(text);
  if (parts.size() != 6) return badReference(text);
  ObjectRef ref{std::string(parts[0]), std::string(parts[1]),
                std::string(parts[2]), std::string(parts[3]),
                std::string(parts[4]), std::string(parts[5])};
  ref.text_ = std::string(text);
  ref.mask_ = 0;
  out = std::move(ref);
  return nullptr;
}

std::optional<std::string> ObjectRef::field(std::string_view text, int n) {
  if (n < 1 || n > 6 || !isStringForm(text)) return std::nullopt;
  const auto parts = splitFields(text);
  if (static_cast<std::size_t>(n) > parts.size()) return std::nullopt;
  return std::string(parts[static_cast<std::size_t>(n - 1)]);
}

std::optional<std::string> ObjectRef::field(int n) const {
  if (n < 1 || n > 6) return std::nullopt;
  return fields_[n - 1];
}

void ObjectRef::setField(int n, std::string value) {
  if (n < 1 || n > 6) return;
  fields_[n - 1] = std::move(value);
  mask_ |= static_cast<std::uint8_t>(1u << (n - 1));
}

const std::string& ObjectRef::toString() const {
  if (mask_ != 0) {
    // Every field is kept, so the unchanged parts of the old string are
    // the fields themselves.
    text_ = ":\\" + fields_[0];
    for (int i = 1; i < 6; ++i) text_ += ":" + fields_[i];
    mask_ = 0;
  }
  return text_;
}

RequestHeader ObjectRef::requestHeader(std::string operation,
                                       std::uint32_t request_id,
                                       bool response_expected) const {
  const std::string& text = toString();
  RequestHeader h;
  h.request_id = request_id;
  h.code1 = text[0];
  h.code2 = text[1];
  h.response_expected = response_expected;
  h.marker = marker();
  h.server = server();
  h.interface_name = interfaceName();
  h.operation = std::move(operation);
  h.flags = 0;
  return h;
}

std::string daemonReference(std::string_view host) {
  return ":\\" + std::string(host) + ":QV_daemon:::IR:QV_daemon";
}

std::vector<std::uint8_t> pingRequest(const ObjectRef& target,
                                      std::uint32_t request_id) {
  XdrEncoder out;
  encodeRequestHeader(out, target.requestHeader("_QV_PING", request_id));
  return out.take();
}

Status daemonEndpoint(const char* daemon_protocol, const char* daemon_port,
                      std::string_view host, DaemonEndpoint& out) {
  if (daemon_port == nullptr || *daemon_port == '\0') {
    return fail<CORBA::NO_CONFIG_VALUE>(kMinorNoDaemonPort, "QV_DAEMON_PORT");
  }
  DaemonEndpoint e;
  e.iiop =
      daemon_protocol != nullptr && std::string_view(daemon_protocol) == "IIOP";
  e.host = std::string(host);
  e.port = daemon_port;
  e.reference = daemonReference(host);
  out = std::move(e);
  return nullptr;
}

std::string iorText(std::span<const std::uint8_t> encapsulation) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s = "IOR:";
  s.reserve(4 + 2 * encapsulation.size());
  for (std::uint8_t b : encapsulation) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

std::vector<std::uint8_t> iorEncapsulation(const IorProfile& p) {
  CdrEncoder profile;
  profile.beginEncapsulation();
  profile.putOctet(p.major);
  profile.putOctet(p.minor);
  profile.putString(p.host);
  profile.putUShort(p.port);
  profile.putOctets(p.object_key);

  CdrEncoder ior(0, 8192);
  ior.beginEncapsulation();
  ior.putString(p.type_id);
  ior.putULong(1);  // one tagged profile
  ior.putULong(kTagInternetIop);
  ior.putEncapsulation(profile);
  return ior.take();
}

Status iorForReference(std::string_view reference, std::string_view host,
                       std::uint16_t port, std::string& out) {
  ObjectRef ref("", "");
  if (Status st = ObjectRef::parse(reference, ref)) return st;
  IorProfile p;
  p.type_id = "IDL:" + ref.interfaceName() + ":1.0";
  p.host = std::string(host);
  p.port = port;
  p.object_key.assign(reference.begin(), reference.end());
  p.object_key.push_back(0);
  out = iorText(iorEncapsulation(p));
  return nullptr;
}

Status parseIor(std::string_view text, IorProfile& out) {
  if (text.size() < 4 ||
      (text.substr(0, 4) != "IOR:" && text.substr(0, 4) != "ior:") ||
      text.size() % 2 != 0) {
    return badIor(text);
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve((text.size() - 4) / 2);
  for (std::size_t i = 4; i < text.size(); i += 2) {
    const int hi = hexDigit(text[i]);
    const int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return badIor(text);
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  auto in = openEncapsulation(bytes);
  if (in == nullptr) return badIor(text);
  IorProfile p;
  std::optional<std::string> type_id;
  std::uint32_t count;
  if (!in->getString(type_id) || !in->getCount(count, 8)) return badIor(text);
  p.type_id = type_id.value_or("");
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t tag;
    if (!in->getULong(tag)) return badIor(text);
    if (tag != kTagInternetIop) {
      std::vector<std::uint8_t> skipped;
      if (!in->getOctets(skipped)) return badIor(text);
      continue;
    }
    auto body = in->getEncapsulation();
    std::optional<std::string> host;
    if (body == nullptr || !body->getOctet(p.major) ||
        !body->getOctet(p.minor) || !body->getString(host) ||
        !body->getUShort(p.port) || !body->getOctets(p.object_key)) {
      return badIor(text);
    }
    p.host = host.value_or("");
    out = std::move(p);
    return nullptr;
  }
  return badIor(text);
}

}  // namespace talvo::protocol
