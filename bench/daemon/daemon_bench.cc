// The built talvod measured from outside, at Priority 3:
//
//   daemon_bench [requests]      (default 2000 round trips per figure)
//
// - the median round trip of serverExists and of getServer through the
//   daemon, against a plain TCP echo of a frame of the same size served by
//   a process of its own (with two or more processors, the client runs on
//   the first and the daemon and the echo on the second);
// - the daemon's CPU time while idle for 10 s;
// - its resident memory after start and after 10,000 requests;
// - getImplementationDetails of a running server against the echo, in
//   alternating blocks;
// - a request that launches a server (per-client-pid, so every request
//   launches) against a bare posix_spawn plus the still-running test of the
//   same program, back to back and after a pause.
//
// Prints one line per figure. Every process started is ended and reaped.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "../../tests/daemon/e2e/e2e_support.h"

namespace talvo::testing {
namespace {

using Clock = std::chrono::steady_clock;

double medianMicros(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// A TCP echo of frames: a 4-byte big-endian length, then the body, written
// back whole. Served by a process of its own, as the daemon is, so that the
// two round trips cross the same process boundary.
class Echo {
 public:
  Echo() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 1);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    pid_ = ::fork();
    if (pid_ == 0) {
      serve();
      ::_exit(0);
    }
  }
  ~Echo() {
    ::close(listen_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }

  // The median round trip of `frames` frames with `size` body bytes.
  double medianRoundTrip(std::size_t size, int frames) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      return 0;
    }
    std::vector<std::uint8_t> frame(size + 4, 0x5a);
    const std::uint32_t n = htonl(static_cast<std::uint32_t>(size));
    std::memcpy(frame.data(), &n, 4);
    std::vector<std::uint8_t> back(frame.size());
    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
      auto t0 = Clock::now();
      if (!writeAll(fd, frame.data(), frame.size()) ||
          !readAll(fd, back.data(), back.size())) {
        break;
      }
      times.push_back(micros(Clock::now() - t0));
    }
    ::close(fd);
    return medianMicros(times);
  }

 private:
  static bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
      if (k <= 0) return false;
      p += k;
      n -= static_cast<std::size_t>(k);
    }
    return true;
  }
  static bool readAll(int fd, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      ssize_t k = ::recv(fd, p, n, 0);
      if (k <= 0) return false;
      p += k;
      n -= static_cast<std::size_t>(k);
    }
    return true;
  }
  void serve() {
    for (;;) {
      int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::uint8_t head[4];
      while (readAll(fd, head, 4)) {
        std::uint32_t n;
        std::memcpy(&n, head, 4);
        std::vector<std::uint8_t> body(ntohl(n));
        if (!readAll(fd, body.data(), body.size()) || !writeAll(fd, head, 4) ||
            !writeAll(fd, body.data(), body.size())) {
          break;
        }
      }
      ::close(fd);
    }
  }

  int listen_ = -1;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// Pins `pid` (0: this process) to one processor, when there are two or
// more: for the round trips, the client on the first, the daemon and the
// echo on the second, so that both see the same placement. cpu -1 frees it
// again (launched servers inherit the daemon's placement, and a new server
// pinned beside the daemon would compete with it for one processor).
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
  ::sched_setaffinity(pid, sizeof set, &set);
}

// The encoded size of a request body.
std::size_t requestSize(DaemonUnderTest& d, DaemonOp op,
                        const std::vector<Value>& args) {
  const protocol::Signature& sig = interface::daemonSignature(op);
  auto out = protocol::makeEncoder(protocol::CodecKind::kXdr);
  protocol::encodeRequest(*out, d.target().ref.requestHeader(sig.operation, 1),
                          sig, args);
  return out->bytes().size();
}

double medianCall(DaemonUnderTest& d, DaemonOp op,
                  const std::vector<Value>& args, int count) {
  std::vector<double> times;
  CallReply r;
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    Status st = d.call(op, args, r);
    times.push_back(micros(Clock::now() - t0));
    if (st) {
      std::cerr << "call failed: " << st->bareName() << " " << st->minor()
                << "\n";
      return 0;
    }
  }
  return medianMicros(times);
}

// utime + stime of `pid`, in clock ticks.
long cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::atol(field.c_str());
    if (i == 15) stime = std::atol(field.c_str());
  }
  return utime + stime;
}

long rssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

pid_t daemonPid(DaemonUnderTest& d) { return d.process().pid(); }

int run(int count) {
  std::string probe = TALVO_LAUNCH_PROBE;
  DaemonUnderTest d;
  if (!d.ready()) {
    std::cerr << "talvod did not start: " << d.process().err() << "\n";
    return 1;
  }
  const pid_t pid = daemonPid(d);
  Echo echo;
  pinTo(0, 0);
  pinTo(pid, 1);
  pinTo(echo.pid(), 1);
  const long rss_start = rssKiB(pid);

  CallReply r;
  d.call(DaemonOp::kNewSharedServer,
         {S("bank"), L({"m1"}), L({"/bin/true"}), U(0)}, r);

  // serverExists and getServer against the echo.
  const std::vector<Value> exists = {S("bank")};
  const std::vector<Value> get = {S("bank"), {}, {}, {}, {}, {},
                                  {},        {}, {}, {}, {}};
  double t_exists = medianCall(d, DaemonOp::kServerExists, exists, count);
  double e_exists = echo.medianRoundTrip(
      requestSize(d, DaemonOp::kServerExists, exists), count);
  double t_get = medianCall(d, DaemonOp::kGetServer, get, count);
  double e_get =
      echo.medianRoundTrip(requestSize(d, DaemonOp::kGetServer, get), count);
  std::printf("serverExists  median %.1f us, echo %.1f us, ratio %.2f\n",
              t_exists, e_exists, t_exists / e_exists);
  std::printf("getServer     median %.1f us, echo %.1f us, ratio %.2f\n", t_get,
              e_get, t_get / e_get);

  // 10,000 requests in all, then the memory.
  for (int i = 2 * count; i < 10000; ++i)
    d.call(DaemonOp::kServerExists, exists, r);
  const long rss_after = rssKiB(pid);
  std::printf(
      "resident memory: %ld KiB after start, %ld KiB after 10000 "
      "requests (ratio %.2f)\n",
      rss_start, rss_after,
      static_cast<double>(rss_after) / static_cast<double>(rss_start));

  // Idle CPU.
  const long t0 = cpuTicks(pid);
  std::this_thread::sleep_for(std::chrono::seconds(10));
  const long t1 = cpuTicks(pid);
  std::printf(
      "idle 10 s: %ld ticks of %ld per second used (%.3f%% of a "
      "core)\n",
      t1 - t0, ::sysconf(_SC_CLK_TCK),
      100.0 * static_cast<double>(t1 - t0) /
          (10.0 * static_cast<double>(::sysconf(_SC_CLK_TCK))));

  // getImplementationDetails of a running server, in alternating blocks
  // with the echo so that both see the same load on the machine.
  const std::string cmd = probe + " " + d.dir().file("report") + " 120";
  d.call(DaemonOp::kNewSharedServer, {S("run"), L({"m"}), L({cmd}), U(0)}, r);
  const std::vector<Value> details = {S("run"), S("m"), S(""), {}, {}, {}, {}};
  if (Status st = d.call(DaemonOp::kGetImplementationDetails, details, r)) {
    std::cerr << "launch failed: " << st->minor() << "\n";
  }
  const std::size_t details_size =
      requestSize(d, DaemonOp::kGetImplementationDetails, details);
  const int blocks = 10;
  std::vector<double> t_details, e_details;
  for (int b = 0; b < blocks; ++b) {
    t_details.push_back(medianCall(d, DaemonOp::kGetImplementationDetails,
                                   details, count / blocks));
    e_details.push_back(echo.medianRoundTrip(details_size, count / blocks));
  }
  const double m_details = medianMicros(t_details);
  const double m_echo = medianMicros(e_details);
  std::printf(
      "getImplementationDetails (running) median %.1f us, echo %.1f "
      "us, ratio %.2f\n",
      m_details, m_echo, m_details / m_echo);

  // Launching: per-client-pid starts a process on every request. Samples
  // alternate with bare starts of the same program. Warm: back to back, and
  // every new process is killed as soon as its sample is taken, so that no
  // sample competes with an earlier child's start-up for the processors.
  // Cold: after a pause, with the children left to start; the pause alone
  // is shown by a request answered from the running server after it.
  pinTo(0, -1);
  pinTo(pid, -1);
  d.call(DaemonOp::kNewSharedServer, {S("each"), L({"m"}), L({cmd}), U(2)}, r);
  const std::vector<Value> each = {S("each"), S("m"), S(""), {}, {}, {}, {}};
  std::set<pid_t> killed;
  // Kills the daemon's per-client-pid servers not killed yet.
  auto killLaunched = [&] {
    CallReply list;
    if (d.call(DaemonOp::kListActiveServers, {{}}, list)) return;
    for (const Value& s : list.args[0].as<Value::List>()) {
      const auto& fields = s.as<Value::List>();
      const auto server = static_cast<pid_t>(fields[6].as<std::uint32_t>());
      if (fields[0].as<std::optional<std::string>>() == "each" &&
          killed.insert(server).second)
        ::kill(server, SIGKILL);
    }
  };
  auto bareSpawn = [&](std::vector<double>& into, bool settle_first) {
    std::string report = d.dir().file("bare");
    std::string seconds = "120";
    char* argv[] = {probe.data(), report.data(), seconds.data(), nullptr};
    pid_t child = 0;
    auto start = Clock::now();
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) != 0)
      return;
    int status = 0;
    bool running = ::waitpid(child, &status, WNOHANG) == 0;
    into.push_back(micros(Clock::now() - start));
    (void)running;
    if (settle_first)
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  };
  auto timedCall = [&](const std::vector<Value>& args,
                       std::vector<double>& into) {
    auto start = Clock::now();
    Status st = d.call(DaemonOp::kGetImplementationDetails, args, r);
    into.push_back(micros(Clock::now() - start));
    if (st) std::cerr << "request failed: " << st->minor() << "\n";
  };
  const int launches = 40;
  const auto pause = std::chrono::milliseconds(30);
  std::vector<double> t_warm, s_warm, t_cold, t_idle, s_cold;
  for (int i = 0; i < launches; ++i) {
    timedCall(each, t_warm);
    killLaunched();
    bareSpawn(s_warm, false);
  }
  for (int i = 0; i < launches / 2; ++i) {
    std::this_thread::sleep_for(pause);
    timedCall(each, t_cold);
    std::this_thread::sleep_for(pause);
    timedCall(details, t_idle);
    std::this_thread::sleep_for(pause);
    bareSpawn(s_cold, true);
  }
  killLaunched();
  const double m_warm = medianMicros(t_warm), m_spawn = medianMicros(s_warm);
  const double m_cold = medianMicros(t_cold), m_scold = medianMicros(s_cold);
  std::printf(
      "launching request median %.1f us, bare spawn + test %.1f us, "
      "ratio %.2f\n",
      m_warm, m_spawn, m_warm / m_spawn);
  std::printf(
      "  after a %d ms pause: launching request %.1f us, bare spawn + test "
      "%.1f us, ratio %.2f; a request answered from the running server "
      "%.1f us\n",
      static_cast<int>(pause.count()), m_cold, m_scold, m_cold / m_scold,
      medianMicros(t_idle));

  // Every server the daemon started goes with it.
  if (d.call(DaemonOp::kListActiveServers, {{}}, r) == nullptr) {
    for (const Value& s : r.args[0].as<Value::List>()) {
      ::kill(static_cast<pid_t>(s.as<Value::List>()[6].as<std::uint32_t>()),
             SIGKILL);
    }
  }
  return 0;
}

}  // namespace
}  // namespace talvo::testing

int main(int argc, char** argv) {
  ::setenv("TALVO_TEST_BIN", TALVO_BUILD_ROOT, 1);
  int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  return talvo::testing::run(count > 0 ? count : 2000);
}
