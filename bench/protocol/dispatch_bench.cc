// Marshalling by signature and whole-request dispatch: the cost of a
// "getImplementationDetails"-shaped request from body to reply body, without
// sockets.

#include <benchmark/benchmark.h>

#include <memory>

#include "runtime/protocol/dispatcher.h"
#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

constexpr std::string_view kSig =
    "Ro~getImplementationDetails~+serverName{0},+markerName{0},+methodName{0},"
    "-codeProtocol{0},-commsProtocol{0},-commsPort{0},-activationPolicy{0},>{"
    "v},N{}";

std::vector<std::uint8_t> requestBody() {
  Signature sig;
  (void)parseSignature(kSig, sig);
  RequestHeader h;
  h.request_id = 1;
  h.marker = "";
  h.server = "QV_daemon";
  h.interface_name = "QV_daemon";
  h.operation = "getImplementationDetails";
  std::vector<Value> args(7);
  args[0] = Value::ofString("bank");
  args[1] = Value::ofString("acct*");
  args[2] = Value::ofString("");
  XdrEncoder e;
  (void)encodeRequest(e, h, sig, args);
  return e.take();
}

void BM_ParseSignature(benchmark::State& state) {
  for (auto _ : state) {
    Signature sig;
    benchmark::DoNotOptimize(parseSignature(kSig, sig));
  }
}

void BM_DispatchRequest(benchmark::State& state) {
  Dispatcher dispatcher;
  auto iface = std::make_shared<Interface>("QV_daemon");
  (void)iface->addOperation(kSig, [](Request& r) {
    r.args[3] = Value::ofString("cdr");
    r.args[4] = Value::ofString("TCP");
    r.args[5] = Value::ofString("1571");
    r.args[6] = Value::ofString("shared");
  });
  dispatcher.objects().add("", iface);
  const auto body = requestBody();
  PeerInfo peer;
  for (auto _ : state) {
    auto reply = dispatcher.handleRequest(peer, body);
    benchmark::DoNotOptimize(reply);
  }
}

BENCHMARK(BM_ParseSignature)->Name("Signature/parse");
BENCHMARK(BM_DispatchRequest)->Name("Dispatch/getImplementationDetails");

}  // namespace
}  // namespace talvo::protocol
