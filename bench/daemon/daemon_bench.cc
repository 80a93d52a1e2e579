// The built talvod measured from outside:
//
//   daemon_bench [--baseline PATH] [requests]   (20000 unless given)
//   daemon_bench --table [--million N]
//
// With --baseline, a second talvod binary (an earlier build) is measured in
// the same run, the two alternating block by block so that both see the
// same load on the machine and taking turns at going first in a round, so
// that neither always follows the same block; every figure is also given
// as the ratio of this build to the baseline. This build runs without a
// Priority setting (its default), the baseline at Priority 3 (the only one at
// which it does not pause between requests; its default is shown separately).
//
// - serverExists and getImplementationDetails (of a running server) round
//   trips with 1 and with 8 concurrent clients: median, 99th percentile and
//   throughput, beside a TCP echo served by a one-thread poll loop in a
//   process of its own (client threads run on the first processor, the
//   daemons and the echo on the second, when there are two);
// - each daemon's CPU time and wake-ups (context switches of all its
//   threads) while idle for 10 s;
// - resident memory after start and after the round trips;
// - a request that launches a server against a bare posix_spawn of the
//   same program plus the test that it still runs (this build only).
//
// --table prints the comparison of talvod (TraceLevel 0), the echo and an
// omniORB server answering a call of the same shape over GIOP 1.0 (when it
// was built): getImplementationDetails of a running server, 1-client
// median, 8-client throughput and 99th percentile, all three alternating
// in the same run; then the launch against posix_spawn, talvod's resident
// memory idle and over N requests (a million unless --million says), and
// its wake-ups while idle. Lines starting with "table " carry the figures
// for scripts/bench-table.sh.
//
// Clients send ready-made request frames over plain sockets, so every
// server is measured with the same client. Every process started is ended
// and reaped.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <thread>

#include "runtime/protocol/codec.h"
#include "runtime/protocol/message.h"
#include "support/child_process.h"
#include "support/talvod.h"
#include "support/talvod_client.h"
#include "support/wait.h"

namespace talvo::testing {
namespace {

using client::DaemonOp;
using protocol::Value;

Value S(std::string s) { return Value::ofString(std::move(s)); }
Value L(const std::vector<std::string>& v) { return Value::ofStrings(v); }
Value U(std::uint32_t v) { return Value::ofULong(v); }

// The daemon under measurement, and a client that calls it with one value
// per parameter of the operation's signature (outs left void).
struct BenchDaemon : DaemonUnderTest {
  BenchDaemon(const std::string& settings, const std::string& program)
      : DaemonUnderTest({.settings = settings, .program = program}) {}
  Status call(DaemonOp op, std::vector<Value> args, CallReply& reply) {
    return client().orb().call(target(), client::daemonOperation(op).signature,
                               std::move(args), reply);
  }
  Target target() { return client().target(); }
  TalvodClient& client() {
    if (!client_) client_ = std::make_unique<TalvodClient>(port());
    return *client_;
  }
  std::unique_ptr<TalvodClient> client_;
};

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

bool readAll(int fd, std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    ssize_t k = ::recv(fd, p, n, 0);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

// How replies are framed: the broker's 4-byte big-endian length, or a
// GIOP header of 12 bytes whose last four give the length in the byte
// order its flags say.
enum class Wire { kTalvo, kGiop };

// Reads one reply frame's body.
bool readFrame(int fd, Bytes& body, Wire wire = Wire::kTalvo) {
  std::uint8_t head[12];
  const std::size_t size = wire == Wire::kGiop ? 12 : 4;
  if (!readAll(fd, head, size)) return false;
  std::uint8_t* len = head + size - 4;
  std::uint32_t n;
  if (wire == Wire::kGiop && (head[6] & 1) != 0) {
    n = len[0] | len[1] << 8 | len[2] << 16 |
        static_cast<std::uint32_t>(len[3]) << 24;
  } else {
    n = static_cast<std::uint32_t>(len[0]) << 24 | len[1] << 16 | len[2] << 8 |
        len[3];
  }
  body.resize(n);
  return readAll(fd, body.data(), body.size());
}

// A GIOP 1.0 request (big-endian) for `operation` on the object `key`
// with string arguments, as any ORB's client would send it.
Bytes giopRequest(const std::string& key, const std::string& operation,
                  const std::vector<std::string>& args) {
  Bytes b;
  // Alignment counts from the start of the message: the header is 12.
  auto ulong = [&](std::uint32_t v) {
    while (b.size() % 4 != 0) b.push_back(0);
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(v >> shift);
  };
  auto octets = [&](const std::string& text, bool nul) {
    ulong(static_cast<std::uint32_t>(text.size() + (nul ? 1 : 0)));
    b.insert(b.end(), text.begin(), text.end());
    if (nul) b.push_back(0);
  };
  ulong(0);        // no service contexts
  ulong(1);        // request id
  b.push_back(1);  // response expected
  octets(key, false);
  octets(operation, true);
  octets("bench", false);  // requesting principal
  for (const std::string& a : args) octets(a, true);
  Bytes frame = {'G', 'I', 'O', 'P', 1, 0, 0, 0};
  const auto n = static_cast<std::uint32_t>(b.size());
  for (int shift = 24; shift >= 0; shift -= 8) frame.push_back(n >> shift);
  frame.insert(frame.end(), b.begin(), b.end());
  return frame;
}

int connectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Pins every thread of process `pid` (0: the calling thread) to one
// processor when there are two or more; cpu -1 frees them again. Threads
// the process starts later inherit the pinning of the one that starts them.
void pinTo(pid_t pid, int cpu) {
  const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (cpus < 2) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (cpu >= 0) {
    CPU_SET(cpu, &set);
  } else {
    for (long i = 0; i < cpus && i < CPU_SETSIZE; ++i) CPU_SET(i, &set);
  }
  if (pid == 0) {
    ::sched_setaffinity(0, sizeof set, &set);
    return;
  }
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(
           "/proc/" + std::to_string(pid) + "/task", ec)) {
    ::sched_setaffinity(std::atoi(task.path().filename().c_str()), sizeof set,
                        &set);
  }
}

// A TCP echo: one process, one thread, a poll loop over any number of
// connections, sending back whatever arrives.
class Echo {
 public:
  Echo() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 16);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    pid_ = ::fork();
    if (pid_ == 0) {
      serve();
      ::_exit(0);
    }
    ::close(listen_);
  }
  ~Echo() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  void serve() {
    std::vector<pollfd> fds{{listen_, POLLIN, 0}};
    std::vector<std::uint8_t> buf(1 << 16);
    for (;;) {
      if (::poll(fds.data(), fds.size(), -1) < 0) return;
      if (fds[0].revents & POLLIN) {
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fds.push_back({fd, POLLIN, 0});
      }
      for (std::size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
        ssize_t n = ::recv(fds[i].fd, buf.data(), buf.size(), 0);
        if (n <= 0 ||
            !writeAll(fds[i].fd, buf.data(), static_cast<std::size_t>(n))) {
          ::close(fds[i].fd);
          fds.erase(fds.begin() + static_cast<long>(i--));
        }
      }
    }
  }

  int listen_ = -1;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// Latencies and the elapsed time of one or more blocks of round trips.
struct Figures {
  std::vector<double> latencies;
  double seconds = 0;
  void add(const Figures& f) {
    latencies.insert(latencies.end(), f.latencies.begin(), f.latencies.end());
    seconds += f.seconds;
  }
  double median() const { return percentile(latencies, 0.5); }
  double p99() const { return percentile(latencies, 0.99); }
  double throughput() const {
    return seconds > 0 ? latencies.size() / seconds : 0;
  }
};

// `total` round trips of `frame` to `port`, spread over `clients`
// connections each on a thread of its own.
Figures roundTrips(std::uint16_t port, const Bytes& frame, int clients,
                   int total, Wire wire = Wire::kTalvo) {
  std::vector<std::vector<double>> each(static_cast<std::size_t>(clients));
  std::vector<int> fds;
  for (int c = 0; c < clients; ++c) fds.push_back(connectTo(port));
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      pinTo(0, 0);
      Bytes back;
      for (int i = 0; i < total / clients; ++i) {
        auto t0 = Clock::now();
        if (fds[c] < 0 || !writeAll(fds[c], frame.data(), frame.size()) ||
            !readFrame(fds[c], back, wire)) {
          break;
        }
        each[c].push_back(micros(Clock::now() - t0));
      }
    });
  }
  for (auto& t : threads) t.join();
  Figures f;
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (auto& v : each)
    f.latencies.insert(f.latencies.end(), v.begin(), v.end());
  for (int fd : fds) ::close(fd);
  return f;
}

// The request frame (length and body) of `op` with `args`.
Bytes requestFrame(BenchDaemon& d, DaemonOp op,
                   const std::vector<Value>& args) {
  const protocol::Signature& sig = client::daemonSignature(op);
  auto out = protocol::makeEncoder(protocol::CodecKind::kXdr);
  protocol::encodeRequest(*out, d.target().ref.requestHeader(sig.operation, 1),
                          sig, args);
  Bytes body = out->bytes();
  const std::uint32_t n = htonl(static_cast<std::uint32_t>(body.size()));
  Bytes frame(4);
  std::memcpy(frame.data(), &n, 4);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

// utime + stime of `pid` in clock ticks, and the context switches of all
// its threads.
struct Usage {
  long ticks = 0;
  long switches = 0;
};

Usage usage(pid_t pid) {
  Usage u;
  const std::string proc = "/proc/" + std::to_string(pid);
  std::string text = readFile(proc + "/stat");
  std::size_t close = text.rfind(')');
  if (close != std::string::npos) {
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14 || i == 15) u.ticks += std::atol(field.c_str());
    }
  }
  std::error_code ec;
  for (const auto& task :
       std::filesystem::directory_iterator(proc + "/task", ec)) {
    std::istringstream status(readFile(task.path().string() + "/status"));
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        u.switches += std::atol(line.c_str() + line.find(':') + 1);
      }
    }
  }
  return u;
}

long rssKiB(pid_t pid) {
  std::istringstream status(
      readFile("/proc/" + std::to_string(pid) + "/status"));
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// One talvod under measurement.
struct Side {
  std::string name;
  std::unique_ptr<BenchDaemon> d;
  Bytes exists, details;
  long rss_start = 0;
  std::map<std::string, Figures> figures;  // by "op/clients"
};

// True when one call of `frame` is answered with "shared" (the activation
// policy of a successful reply).
bool answersShared(std::uint16_t port, const Bytes& frame,
                   Wire wire = Wire::kTalvo) {
  int fd = connectTo(port);
  Bytes back;
  bool ok = fd >= 0 && writeAll(fd, frame.data(), frame.size()) &&
            readFrame(fd, back, wire);
  if (fd >= 0) ::close(fd);
  const std::string text(back.begin(), back.end());
  return ok && text.find("shared") != std::string::npos;
}

bool prepare(Side& s, const std::string& program, const std::string& settings) {
  s.d = std::make_unique<BenchDaemon>(settings, program);
  if (!s.d->ready()) {
    std::cerr << s.name << ": talvod did not start: " << s.d->process().errors()
              << "\n";
    return false;
  }
  pinTo(s.d->process().pid(), 1);
  s.rss_start = rssKiB(s.d->process().pid());
  CallReply r;
  const std::string cmd = std::string(TALVO_LAUNCH_PROBE) + " " +
                          s.d->dir().file("report") + " 600";
  const std::vector<Value> details = {S("run"), S("m"), S(""), {}, {}, {}, {}};
  if (Status st = s.d->call(DaemonOp::kNewSharedServer,
                            {S("run"), L({"m"}), L({cmd}), U(0)}, r)) {
    std::cerr << s.name << ": registering failed: " << st->minor() << "\n";
    return false;
  }
  // Bench clients send no binding message: they call as nobody in
  // particular, so everyone may invoke the server.
  if (Status st =
          s.d->call(DaemonOp::kAddInvokeRights, {S("all"), S("run")}, r)) {
    std::cerr << s.name << ": granting failed: " << st->minor() << "\n";
    return false;
  }
  if (Status st = s.d->call(DaemonOp::kGetImplementationDetails, details, r)) {
    std::cerr << s.name << ": launch failed: " << st->minor() << "\n";
    return false;
  }
  s.exists = requestFrame(*s.d, DaemonOp::kServerExists, {S("run")});
  s.details = requestFrame(*s.d, DaemonOp::kGetImplementationDetails, details);
  // The measured request must succeed, not come back as an exception.
  if (!answersShared(s.d->port(), s.details)) {
    std::cerr << s.name << ": getImplementationDetails does not succeed\n";
    return false;
  }
  return true;
}

// Ends the servers the daemon launched.
void endServers(Side& s) {
  CallReply r;
  if (s.d->call(DaemonOp::kListActiveServers, {{}}, r) != nullptr) return;
  for (const Value& v : r.args[0].as<Value::List>()) {
    ::kill(static_cast<pid_t>(v.as<Value::List>()[6].as<std::uint32_t>()),
           SIGKILL);
  }
}

// Launching: per-client-pid starts a process on every request; samples
// alternate with bare starts of the same program.
double launching(Side& s) {
  std::string probe = TALVO_LAUNCH_PROBE;
  BenchDaemon& d = *s.d;
  const std::string cmd = probe + " " + d.dir().file("report") + " 120";
  CallReply r;
  d.call(DaemonOp::kNewSharedServer, {S("each"), L({"m"}), L({cmd}), U(2)}, r);
  const std::vector<Value> each = {S("each"), S("m"), S(""), {}, {}, {}, {}};
  std::vector<double> t_launch, t_spawn;
  for (int i = 0; i < 40; ++i) {
    auto t0 = Clock::now();
    if (Status st = d.call(DaemonOp::kGetImplementationDetails, each, r)) {
      std::cerr << "request failed: " << st->minor() << "\n";
    }
    t_launch.push_back(micros(Clock::now() - t0));
    endServers(s);
    std::string report = d.dir().file("bare"), seconds = "120";
    char* argv[] = {probe.data(), report.data(), seconds.data(), nullptr};
    pid_t child = 0;
    t0 = Clock::now();
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) != 0)
      continue;
    int status = 0;
    ::waitpid(child, &status, WNOHANG);
    t_spawn.push_back(micros(Clock::now() - t0));
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  const double launch = percentile(t_launch, 0.5);
  const double spawn = percentile(t_spawn, 0.5);
  std::printf(
      "launching request (%s) median %.1f us, bare spawn + test %.1f us, "
      "ratio %.2f\n",
      s.name.c_str(), launch, spawn, launch / spawn);
  return launch / spawn;
}

int run(int count, const std::string& baseline) {
  std::vector<Side> sides(baseline.empty() ? 1 : 2);
  sides[0].name = "this build";
  if (!prepare(sides[0], talvodPath(), "")) return 1;
  if (!baseline.empty()) {
    sides[1].name = "baseline";
    if (!prepare(sides[1], baseline, "Priority=3\n")) return 1;
  }
  Echo echo;
  pinTo(echo.pid(), 1);

  // Alternating blocks: every side and the echo in every round.
  const int rounds = 10;
  const int per_block = std::max(count / rounds, 8);
  std::map<std::string, Figures> echoes;
  for (int round = 0; round < rounds; ++round) {
    for (int clients : {1, 8}) {
      for (std::size_t k = 0; k < sides.size(); ++k) {
        Side& s = sides[round % 2 == 0 ? k : sides.size() - 1 - k];
        s.figures["serverExists/" + std::to_string(clients)].add(
            roundTrips(s.d->port(), s.exists, clients, per_block));
        s.figures["getImplementationDetails/" + std::to_string(clients)].add(
            roundTrips(s.d->port(), s.details, clients, per_block));
      }
      echoes["serverExists/" + std::to_string(clients)].add(
          roundTrips(echo.port(), sides[0].exists, clients, per_block));
      echoes["getImplementationDetails/" + std::to_string(clients)].add(
          roundTrips(echo.port(), sides[0].details, clients, per_block));
    }
  }
  std::printf("%-28s %-10s %10s %10s %12s %10s\n", "round trip", "side",
              "median us", "p99 us", "requests/s", "vs echo");
  for (const auto& [key, e] : echoes) {
    std::printf("%-28s %-10s %10.1f %10.1f %12.0f\n", key.c_str(), "echo",
                e.median(), e.p99(), e.throughput());
    for (Side& s : sides) {
      const Figures& f = s.figures[key];
      std::printf("%-28s %-10s %10.1f %10.1f %12.0f %10.2f\n", key.c_str(),
                  s.name == "baseline" ? "baseline" : "this", f.median(),
                  f.p99(), f.throughput(), f.median() / e.median());
    }
    if (sides.size() == 2) {
      const Figures& a = sides[0].figures[key];
      const Figures& b = sides[1].figures[key];
      std::printf(
          "%-28s this/baseline: median %.3f, p99 %.3f, throughput %.3f\n",
          key.c_str(), a.median() / b.median(), a.p99() / b.p99(),
          a.throughput() / b.throughput());
    }
  }

  for (Side& s : sides) {
    const pid_t pid = s.d->process().pid();
    std::printf(
        "resident memory (%s): %ld KiB after start, %ld KiB after %d "
        "requests\n",
        s.name.c_str(), s.rss_start, rssKiB(pid), 4 * rounds * per_block);
  }

  // Idle: both daemons left alone for the same 10 s.
  std::vector<Usage> before;
  for (Side& s : sides) before.push_back(usage(s.d->process().pid()));
  std::this_thread::sleep_for(std::chrono::seconds(10));
  for (std::size_t i = 0; i < sides.size(); ++i) {
    Usage after = usage(sides[i].d->process().pid());
    std::printf("idle 10 s (%s): %ld ticks of %ld per second, %ld wake-ups\n",
                sides[i].name.c_str(), after.ticks - before[i].ticks,
                ::sysconf(_SC_CLK_TCK), after.switches - before[i].switches);
  }

  if (sides.size() == 2) {
    // The baseline at its default Priority pauses between requests.
    Side slow;
    slow.name = "baseline, no Priority";
    if (prepare(slow, baseline, "")) {
      Figures f = roundTrips(slow.d->port(), slow.exists, 1, 6);
      std::printf("serverExists (%s): %.1f requests/s\n", slow.name.c_str(),
                  f.throughput());
      endServers(slow);
    }
  }

  pinTo(0, -1);
  for (Side& s : sides) pinTo(s.d->process().pid(), -1);
  launching(sides[0]);
  for (Side& s : sides) endServers(s);
  return 0;
}

// The comparison table: talvod, the echo and the omniORB peer.
int runTable(long requests) {
  Side t;
  t.name = "talvod";
  if (!prepare(t, talvodPath(), "TraceLevel=0\n")) return 1;
  const pid_t pid = t.d->process().pid();
  pinTo(pid, 1);
  Echo echo;
  pinTo(echo.pid(), 1);

  std::unique_ptr<ChildProcess> omni;
  std::uint16_t omni_port = 0;
  const Bytes omni_frame =
      giopRequest("Binding", "getImplementationDetails", {"run", "m", ""});
#ifdef TALVO_OMNI_PEER
  omni = std::make_unique<ChildProcess>(
      TALVO_OMNI_PEER,
      ChildOptions{.args = {"0"}, .output_dir = t.d->dir().path()});
  if (omni->waitForOutput("ready")) {
    eventually([&] { return (omni_port = listeningPort(omni->pid())) != 0; });
    pinTo(omni->pid(), 1);
  }
  if (omni_port != 0 && !answersShared(omni_port, omni_frame, Wire::kGiop)) {
    std::cerr << "omniORB peer does not answer the call\n";
    omni_port = 0;
  }
#endif

  // Alternating blocks, so that all three see the same machine.
  std::map<std::string, Figures> f;
  const int rounds = 10, per_block = 2000;
  for (int round = 0; round < rounds; ++round) {
    for (int c : {1, 8}) {
      const std::string n = "/" + std::to_string(c);
      f["talvod" + n].add(roundTrips(t.d->port(), t.details, c, per_block));
      f["echo" + n].add(roundTrips(echo.port(), t.details, c, per_block));
      if (omni_port != 0) {
        f["omniORB" + n].add(
            roundTrips(omni_port, omni_frame, c, per_block, Wire::kGiop));
      }
    }
  }
  std::printf("%-8s %14s %22s %14s\n", "", "1 client p50 us",
              "8 clients requests/s", "8 clients p99 us");
  for (const char* name : {"talvod", "echo", "omniORB"}) {
    const std::string n = name;
    if (!f.count(n + "/1")) continue;
    const Figures &one = f[n + "/1"], &eight = f[n + "/8"];
    std::printf("%-8s %14.1f %22.0f %14.1f\n", name, one.median(),
                eight.throughput(), eight.p99());
    std::printf("table row %s %.1f %.0f %.1f\n", name, one.median(),
                eight.throughput(), eight.p99());
  }
  const Figures &t1 = f["talvod/1"], &t8 = f["talvod/8"];
  std::printf("table ratio p50/echo %.2f\n",
              t1.median() / f["echo/1"].median());
  std::printf("table ratio throughput/echo %.2f\n",
              t8.throughput() / f["echo/8"].throughput());
  if (omni_port != 0) {
    std::printf("table ratio throughput/omniORB %.2f\n",
                t8.throughput() / f["omniORB/8"].throughput());
    std::printf("table ratio p99/omniORB %.2f\n",
                t8.p99() / f["omniORB/8"].p99());
  }

  // Resident memory idle, then over `requests` round trips in quarters.
  std::printf("table rss-idle-kib %ld\n", rssKiB(pid));
  long done = 0;
  for (int quarter = 1; quarter <= 4; ++quarter) {
    const long n = requests / 4;
    for (long k = 0; k < n; k += 80000) {
      roundTrips(t.d->port(), t.details, 8,
                 static_cast<int>(std::min<long>(80000, n - k)));
    }
    done += n;
    std::printf("table rss-after %ld %ld\n", done, rssKiB(pid));
  }

  // Idle: wake-ups and CPU over 10 s.
  Usage before = usage(pid);
  std::this_thread::sleep_for(std::chrono::seconds(10));
  Usage after = usage(pid);
  std::printf("table idle-10s wakeups %ld ticks %ld\n",
              after.switches - before.switches, after.ticks - before.ticks);

  pinTo(0, -1);
  pinTo(pid, -1);
  std::printf("table ratio launch/spawn %.2f\n", launching(t));
  endServers(t);
  return 0;
}

}  // namespace
}  // namespace talvo::testing

int main(int argc, char** argv) {
  ::setenv("TALVO_TEST_BIN", TALVO_BUILD_ROOT, 1);
  std::string baseline;
  int count = 20000;
  bool table = false;
  long million = 1000000;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--baseline" && i + 1 < argc) {
      baseline = argv[++i];
    } else if (arg == "--table") {
      table = true;
    } else if (arg == "--million" && i + 1 < argc) {
      million = std::atol(argv[++i]);
    } else if (std::atoi(argv[i]) > 0) {
      count = std::atoi(argv[i]);
    }
  }
  if (table) return talvo::testing::runTable(million);
  return talvo::testing::run(count, baseline);
}
