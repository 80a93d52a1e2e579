// Hands arbitrary bodies to the dispatcher as requests to an object whose
// operations take strings, sequences and structs. Whatever arrives, the
// dispatcher must answer with a well-formed reply or none, never crash.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "runtime/protocol/dispatcher.h"
#include "runtime/protocol/xdr_codec.h"

using namespace talvo::protocol;

namespace {

Dispatcher& dispatcher() {
  static Dispatcher* d = [] {
    auto* disp = new Dispatcher(nullptr, "h");
    auto iface = std::make_shared<Interface>("QV_daemon");
    (void)iface->addOperation(
        "Ro~lookUp~+service{0},-hostList{S{0},0},+hops{o},+tag{0},>{b},N{}",
        [](Request& r) {
          r.args[1] = Value::ofStrings({r.arg(0).text()});
          r.result = Value::ofBool(true);
        });
    (void)iface->addOperation(
        "Ro~put~+d{R~D~t{ul},d{S{o},0}},+s{S{S{l},0},0},>{v},N{}",
        [](Request&) {});
    disp->objects().add("", iface);
    return disp;
  }();
  return *d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  PeerInfo peer;
  peer.optimised = size > 0 && (data[0] & 1) != 0;
  auto reply = dispatcher().handleRequest(peer, std::span(data, size));
  if (reply) {
    auto d = makeDecoder(peer.optimised ? CodecKind::kNull : CodecKind::kXdr,
                         *reply);
    MessageKind kind;
    if (decodeMessageKind(*d, kind) != nullptr ||
        (kind != MessageKind::kReply && kind != MessageKind::kExceptionReply)) {
      __builtin_trap();
    }
  }
  return 0;
}
