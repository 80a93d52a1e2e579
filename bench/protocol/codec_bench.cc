// Encoding and decoding speed of the XDR, NULL and CDR codecs over a
// request-like mix of items (a header of strings and integers, then a
// sequence of strings and an octet block).

#include <benchmark/benchmark.h>

#include "runtime/protocol/cdr_codec.h"
#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

const std::vector<std::uint8_t> kBlock(256, 0x5a);

void encodeMix(Encoder& e) {
  e.putLong(0);
  e.putULong(17);
  e.putChar(':');
  e.putChar('\\');
  e.putBoolean(true);
  e.putString("");
  e.putString("QV_daemon");
  e.putString("QV_daemon");
  e.putString("getImplementationDetails");
  e.putOctet(0);
  e.putCount(8);
  for (int i = 0; i < 8; ++i) e.putString("host.example.org");
  e.putDouble(1.5);
  e.putOctets(kBlock);
}

bool decodeMix(Decoder& d) {
  std::int32_t kind;
  std::uint32_t id, n;
  char c1, c2;
  bool resp;
  std::uint8_t flag;
  std::optional<std::string> s;
  double dd;
  std::vector<std::uint8_t> block;
  bool ok = d.getLong(kind) && d.getULong(id) && d.getChar(c1) &&
            d.getChar(c2) && d.getBoolean(resp);
  for (int i = 0; i < 4 && ok; ++i) ok = d.getString(s);
  ok = ok && d.getOctet(flag) && d.getCount(n, 4);
  for (std::uint32_t i = 0; i < n && ok; ++i) ok = d.getString(s);
  return ok && d.getDouble(dd) && d.getOctets(block);
}

template <class Enc>
void BM_Encode(benchmark::State& state) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    Enc e;
    encodeMix(e);
    bytes += e.bytes().size();
    benchmark::DoNotOptimize(e.bytes().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

template <class Enc, class Dec>
void BM_Decode(benchmark::State& state) {
  Enc e;
  encodeMix(e);
  const auto wire = e.take();
  for (auto _ : state) {
    Dec d = [&] {
      if constexpr (std::is_same_v<Dec, CdrDecoder>) {
        return Dec(wire, CdrEncoder::kLittleEndian);
      } else {
        return Dec(wire);
      }
    }();
    benchmark::DoNotOptimize(decodeMix(d));
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * wire.size()));
}

BENCHMARK(BM_Encode<XdrEncoder>)->Name("Encode/XDR");
BENCHMARK(BM_Encode<NullEncoder>)->Name("Encode/NULL");
BENCHMARK(BM_Encode<CdrEncoder>)->Name("Encode/UNO");
BENCHMARK(BM_Decode<XdrEncoder, XdrDecoder>)->Name("Decode/XDR");
BENCHMARK(BM_Decode<NullEncoder, NullDecoder>)->Name("Decode/NULL");
BENCHMARK(BM_Decode<CdrEncoder, CdrDecoder>)->Name("Decode/UNO");

}  // namespace
}  // namespace talvo::protocol

BENCHMARK_MAIN();
