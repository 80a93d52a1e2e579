// Orb benchmarks, each measured in the same run as its reference:
//  - median round trip of a trivial two-way request between two Orbs over
//    loopback, against a plain TCP echo of a frame of the same size;
//  - requests per second with 8 concurrent client Orbs against one server
//    Orb whose loop runs on one thread;
//  - CPU time of an idle server Orb over 10 seconds (it must block).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/socket.h"
#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"

namespace talvo {
namespace {

using Clock = std::chrono::steady_clock;
using protocol::Value;

constexpr const char* kAdd = "Ro~add~+a{l},+b{l},>{l},N{}";

class QuietContext : public TransportContext {
 public:
  int diagnosticsLevel() override { return 0; }
  void trace(std::string_view, bool) override {}
  std::optional<std::string> connectAttempts() override { return "1"; }
  std::optional<std::string> maxMessageSize() override { return {}; }
};

// A configuration with no values beyond the defaults.
struct EmptyConfig {
  ConfigChain chain;
  RuntimeConfig config{chain};
};

OrbOptions quietOptions(QuietContext& context, EmptyConfig& config) {
  OrbOptions options;
  options.context = &context;
  options.config = &config.config;
  return options;
}

Target calcTarget(std::uint16_t port) {
  Target t;
  t.host = "127.0.0.1";
  t.port = std::to_string(port);
  t.ref = protocol::ObjectRef("localhost", "calc", "c", "", "IR", "Calc");
  return t;
}

// A server Orb serving "Calc" (marker "c") on its own thread.
class OrbServer {
 public:
  OrbServer() : orb_(quietOptions(context_, config_)) {
    auto calc = std::make_shared<protocol::Interface>("Calc");
    calc->addOperation(kAdd, [](protocol::Request& r) {
      r.result = Value::ofLong(r.arg(0).as<std::int32_t>() +
                               r.arg(1).as<std::int32_t>());
    });
    orb_.serve("c", calc);
    orb_.listen("0", &port_);
    thread_ = std::thread([this] {
      while (!stop_) orb_.runOnce(50);
    });
  }
  ~OrbServer() {
    stop_ = true;
    thread_.join();
  }
  Target target() const { return calcTarget(port_); }

 private:
  QuietContext context_;
  EmptyConfig config_;
  Orb orb_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A client Orb of its own.
struct OrbClient {
  QuietContext context;
  EmptyConfig config;
  Orb orb{quietOptions(context, config)};
};

void waitFor(int fd, short events) {
  std::vector<platform::WaitEntry> w{{fd, events, 0}};
  int ready = 0;
  platform::waitForEvents(w, 1000, ready);
}

// A plain TCP echo of whatever arrives, for one client.
class PlainEchoServer {
 public:
  PlainEchoServer() {
    platform::openStreamSocket(listener_);
    platform::bindAny(listener_.get(), 0);
    platform::listenOn(listener_.get(), 5);
    platform::SocketAddress local;
    platform::localAddress(listener_.get(), local);
    port_ = local.port;
    thread_ = std::thread([this] { serve(); });
  }
  ~PlainEchoServer() {
    stop_ = true;
    thread_.join();
  }
  std::uint16_t port() const { return port_; }

 private:
  void serve() {
    platform::SocketHandle conn;
    std::vector<std::uint8_t> buf(65536);
    while (!stop_) {
      int fd = conn.valid() ? conn.get() : listener_.get();
      std::vector<platform::WaitEntry> wait{{fd, platform::kWaitRead, 0}};
      int ready = 0;
      platform::waitForEvents(wait, 50, ready);
      if (ready == 0) continue;
      if (!conn.valid()) {
        platform::SocketAddress peer;
        platform::acceptConnection(listener_.get(), conn, peer);
        if (conn.valid()) platform::setNoDelay(conn.get());
        continue;
      }
      std::size_t got = 0;
      if (platform::receiveSome(conn.get(), buf, got) != 0) continue;
      if (got == 0) {
        conn.reset();
        continue;
      }
      std::span<const std::uint8_t> piece(buf.data(), got);
      while (!piece.empty()) {
        std::size_t sent = 0;
        platform::sendPieces(conn.get(), std::span(&piece, 1), sent);
        piece = piece.subspan(sent);
      }
    }
  }

  platform::SocketHandle listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A raw client that sends `size` bytes and reads as many back.
class EchoClient {
 public:
  EchoClient(std::uint16_t port, std::size_t size) : out_(size, 1), in_(size) {
    platform::openStreamSocket(socket_);
    platform::setNoDelay(socket_.get());
    if (platform::startConnect(socket_.get(), {0x7f000001, port}) ==
        platform::kWsaEinprogress) {
      platform::finishConnect(socket_.get(), 5000);
    }
  }
  bool roundTrip() {
    std::span<const std::uint8_t> piece(out_);
    while (!piece.empty()) {
      std::size_t sent = 0;
      if (platform::sendPieces(socket_.get(), std::span(&piece, 1), sent) !=
              0 &&
          sent == 0) {
        waitFor(socket_.get(), platform::kWaitWrite);
      }
      piece = piece.subspan(sent);
    }
    std::size_t have = 0;
    while (have < in_.size()) {
      std::size_t got = 0;
      int code = platform::receiveSome(socket_.get(),
                                       std::span(in_).subspan(have), got);
      if (code == platform::kWsaEwouldblock) {
        waitFor(socket_.get(), platform::kWaitRead);
        continue;
      }
      if (code != 0 || got == 0) return false;
      have += got;
    }
    return true;
  }

 private:
  platform::SocketHandle socket_;
  std::vector<std::uint8_t> out_, in_;
};

// The frame size of one "add" request to `target`.
std::size_t requestFrameSize(const Target& target) {
  protocol::Signature sig;
  protocol::parseSignature(kAdd, sig);
  auto enc = protocol::makeEncoder(protocol::CodecKind::kXdr);
  std::vector<Value> args{Value::ofLong(1), Value::ofLong(2)};
  protocol::encodeRequest(*enc, target.ref.requestHeader("add", 1), sig, args);
  return enc->bytes().size() + 4;
}

double medianMicros(std::vector<double>& samples) {
  if (samples.empty()) return 0;
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2,
                   samples.end());
  return samples[samples.size() / 2];
}

void BM_OrbRoundTrip(benchmark::State& state) {
  OrbServer server;
  OrbClient client;
  const Target target = server.target();
  CallReply reply;
  std::vector<double> samples;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (client.orb.call(target, kAdd, {Value::ofLong(1), Value::ofLong(2)},
                        reply) != nullptr) {
      state.SkipWithError("call failed");
      break;
    }
    samples.push_back(
        std::chrono::duration<double, std::micro>(Clock::now() - start)
            .count());
  }
  state.counters["median_us"] = medianMicros(samples);
  state.counters["frame_bytes"] = static_cast<double>(requestFrameSize(target));
}
BENCHMARK(BM_OrbRoundTrip)->MinTime(2.0);

void BM_PlainEchoSameSize(benchmark::State& state) {
  const std::size_t size = requestFrameSize(calcTarget(0));
  PlainEchoServer server;
  EchoClient client(server.port(), size);
  std::vector<double> samples;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!client.roundTrip()) {
      state.SkipWithError("round trip failed");
      break;
    }
    samples.push_back(
        std::chrono::duration<double, std::micro>(Clock::now() - start)
            .count());
  }
  state.counters["median_us"] = medianMicros(samples);
  state.counters["frame_bytes"] = static_cast<double>(size);
}

BENCHMARK(BM_PlainEchoSameSize)->MinTime(2.0);

// Eight client threads, each with its own Orb, against one server loop
// thread. The server lives until the process ends.
OrbServer& sharedServer() {
  static OrbServer* server = new OrbServer();
  return *server;
}

void BM_OrbEightClients(benchmark::State& state) {
  OrbClient client;
  const Target target = sharedServer().target();
  CallReply reply;
  for (auto _ : state) {
    if (client.orb.call(target, kAdd, {Value::ofLong(1), Value::ofLong(2)},
                        reply) != nullptr) {
      state.SkipWithError("call failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OrbEightClients)->Threads(8)->UseRealTime()->MinTime(3.0);

double threadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Ten seconds of an idle server Orb with a listener and two bound client
// connections, run on this thread.
void BM_OrbIdleCpuTenSeconds(benchmark::State& state) {
  QuietContext context;
  EmptyConfig config;
  Orb orb(quietOptions(context, config));
  std::uint16_t port = 0;
  orb.listen("0", &port);
  std::atomic<bool> bound{false};
  std::thread clients([&] {
    OrbClient a, b;
    Channel* ca = nullptr;
    Channel* cb = nullptr;
    a.orb.channelTo("127.0.0.1", std::to_string(port), &ca);
    b.orb.channelTo("127.0.0.1", std::to_string(port), &cb);
    bound = true;
    while (bound) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
  while (!bound) orb.runOnce(10);
  double cpu_ms = 0;
  for (auto _ : state) {
    const double before = threadCpuMs();
    const auto end = Clock::now() + std::chrono::seconds(10);
    long waits = 0;
    while (Clock::now() < end) {
      orb.runOnce(1000);
      ++waits;
    }
    cpu_ms = threadCpuMs() - before;
    state.counters["waits"] = static_cast<double>(waits);
  }
  state.counters["cpu_ms"] = cpu_ms;
  state.counters["channels"] = static_cast<double>(orb.loop().channelCount());
  bound = false;
  clients.join();
}
BENCHMARK(BM_OrbIdleCpuTenSeconds)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
