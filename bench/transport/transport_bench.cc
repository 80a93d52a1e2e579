// Transport benchmarks:
//  - round trip of a small frame through the event loop, against a plain
//    TCP echo of the same bytes (same client code for both);
//  - requests per second with 8 concurrent clients on one loop thread;
//  - CPU time of the idle loop over 10 seconds (it must block, not spin).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/errors.h"
#include "platform/socket.h"
#include "runtime/protocol/frame.h"
#include "runtime/transport/event_loop.h"

namespace talvo {
namespace {

constexpr std::size_t kBody = 64;

class QuietContext : public TransportContext {
 public:
  int diagnosticsLevel() override { return 0; }
  void trace(std::string_view, bool) override {}
  std::optional<std::string> connectAttempts() override { return "1"; }
  std::optional<std::string> maxMessageSize() override { return {}; }
};

// An echo service on an event loop running on its own thread.
class LoopServer {
 public:
  LoopServer() : loop_(context_) {
    EventLoopCallbacks callbacks;
    callbacks.on_data = [this](Channel& ch, ByteView bytes) {
      loop_.send(ch, bytes);
      return DataState{};
    };
    loop_.setCallbacks(callbacks);
    loop_.listen("0", &port_);
    thread_ = std::thread([this] {
      while (!stop_) loop_.runOnce(50);
    });
  }
  ~LoopServer() {
    stop_ = true;
    thread_.join();
  }
  std::uint16_t port() const { return port_; }

 private:
  QuietContext context_;
  EventLoop loop_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A plain TCP echo of whatever arrives, for one client at a time.
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

// A client that sends one frame and reads back as many bytes.
class Client {
 public:
  explicit Client(std::uint16_t port) {
    platform::openStreamSocket(socket_);
    platform::setNoDelay(socket_.get());
    int code = platform::startConnect(socket_.get(), {0x7f000001, port});
    if (code == platform::kWsaEinprogress) {
      platform::finishConnect(socket_.get(), 5000);
    }
    Bytes body(kBody, 'b');
    body[0] = body[1] = body[2] = body[3] = 0;  // kind 0
    frame_ = makeTalvoFrame(body);
    reply_.resize(frame_.size());
  }
  bool roundTrip() {
    std::span<const std::uint8_t> piece(frame_);
    while (!piece.empty()) {
      std::size_t sent = 0;
      if (platform::sendPieces(socket_.get(), std::span(&piece, 1), sent) !=
              0 &&
          sent == 0) {
        wait(platform::kWaitWrite);
      }
      piece = piece.subspan(sent);
    }
    std::size_t have = 0;
    while (have < reply_.size()) {
      std::size_t got = 0;
      int code = platform::receiveSome(socket_.get(),
                                       std::span(reply_).subspan(have), got);
      if (code == platform::kWsaEwouldblock) {
        wait(platform::kWaitRead);
        continue;
      }
      if (code != 0 || got == 0) return false;
      have += got;
    }
    return true;
  }

 private:
  void wait(short events) {
    std::vector<platform::WaitEntry> w{{socket_.get(), events, 0}};
    int ready = 0;
    platform::waitForEvents(w, 1000, ready);
  }
  platform::SocketHandle socket_;
  Bytes frame_, reply_;
};

void BM_EventLoopRoundTrip(benchmark::State& state) {
  LoopServer server;
  Client client(server.port());
  for (auto _ : state) {
    if (!client.roundTrip()) state.SkipWithError("round trip failed");
  }
}
BENCHMARK(BM_EventLoopRoundTrip)->Repetitions(5)->ReportAggregatesOnly();

void BM_PlainEchoRoundTrip(benchmark::State& state) {
  PlainEchoServer server;
  Client client(server.port());
  for (auto _ : state) {
    if (!client.roundTrip()) state.SkipWithError("round trip failed");
  }
}
BENCHMARK(BM_PlainEchoRoundTrip)->Repetitions(5)->ReportAggregatesOnly();

// Eight client threads against one loop thread. The server is shared by
// every run of the benchmark and lives until the process ends.
LoopServer& sharedServer() {
  static LoopServer* server = new LoopServer();
  return *server;
}

void BM_EventLoopEightClients(benchmark::State& state) {
  Client client(sharedServer().port());
  for (auto _ : state) {
    if (!client.roundTrip()) state.SkipWithError("round trip failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventLoopEightClients)->Threads(8)->UseRealTime();

double threadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Ten seconds of an idle loop with a listener and two open connections.
void BM_IdleLoopCpuTenSeconds(benchmark::State& state) {
  QuietContext context;
  EventLoop loop(context);
  std::uint16_t port = 0;
  loop.listen("0", &port);
  Channel* a = nullptr;
  Channel* b = nullptr;
  loop.connectOnce("127.0.0.1", port, &a);
  loop.connectOnce("127.0.0.1", port, &b);
  for (int i = 0; i < 10; ++i) loop.runOnce(10);  // accept both
  double cpu_ms = 0;
  for (auto _ : state) {
    double before = threadCpuMs();
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    long waits = 0;
    while (std::chrono::steady_clock::now() < end) {
      loop.runOnce(1000);
      ++waits;
    }
    cpu_ms = threadCpuMs() - before;
    state.counters["waits"] = static_cast<double>(waits);
  }
  state.counters["cpu_ms"] = cpu_ms;
}
BENCHMARK(BM_IdleLoopCpuTenSeconds)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
