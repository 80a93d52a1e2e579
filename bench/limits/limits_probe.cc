// limits_probe: a normal client's latency at the daemon while others
// misbehave, and the daemon's memory meanwhile, in one run:
//
//   limits_probe PORT PID [REQUESTS]
//
// 1. idle: REQUESTS (default 5000) serverExists calls one after another;
// 2. while 1000 connections stall inside an 8 MB frame (each having sent
//    what the daemon takes of it): the same calls, and the daemon's
//    resident memory;
// 3. while 50 clients pipeline (each keeps 64 requests outstanding, from
//    one thread at the lowest priority, so that it does not take the
//    normal client's processor): the same calls, and the pipeliners'
//    throughput.
// Prints one line per scenario: p50 and p99 in microseconds, RSS in MiB.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/wire_frames.h"

namespace {

using Clock = std::chrono::steady_clock;
using talvo::Bytes;

constexpr char kExistsSig[] = "Ro~serverExists~+serverName{0},>{b},N{}";
constexpr std::size_t kReplySize = 16;

int connectTo(int port, bool blocking) {
  int fd = ::socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(0x7f000001);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 &&
      errno != EINPROGRESS) {
    std::perror("connect");
    std::exit(1);
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

void waitWritable(int fd) {
  pollfd p{fd, POLLOUT, 0};
  ::poll(&p, 1, 1000);
}

Bytes exists() {
  return talvo::testing::daemonRequestFrame(
      kExistsSig, {talvo::protocol::Value::ofString("none")});
}

// Latencies of `n` calls, one after another, in microseconds, sorted.
std::vector<double> latencies(int port, int n) {
  const int fd = connectTo(port, true);
  const Bytes req = exists();
  std::vector<double> out;
  std::uint8_t buf[256];
  for (int i = 0; i < n; ++i) {
    const auto t0 = Clock::now();
    if (::write(fd, req.data(), req.size()) !=
        static_cast<ssize_t>(req.size())) {
      std::perror("write");
      std::exit(1);
    }
    std::size_t got = 0;
    while (got < kReplySize) {
      ssize_t r = ::read(fd, buf + got, sizeof buf - got);
      if (r <= 0) {
        std::fprintf(stderr, "normal client: connection lost\n");
        std::exit(1);
      }
      got += static_cast<std::size_t>(r);
    }
    out.push_back(
        std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  ::close(fd);
  std::sort(out.begin(), out.end());
  return out;
}

void report(const char* what, const std::vector<double>& l, long rss_kib,
            const char* extra = "") {
  std::printf("%-34s p50 %8.1f us  p99 %8.1f us  RSS %6.1f MiB %s\n", what,
              l[l.size() / 2], l[l.size() * 99 / 100], rss_kib / 1024.0, extra);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: limits_probe PORT PID [REQUESTS]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const pid_t pid = std::atoi(argv[2]);
  const int n = argc > 3 ? std::atoi(argv[3]) : 5000;
  using talvo::testing::memoryKiB;

  report("idle", latencies(port, n), memoryKiB(pid, "VmRSS"));

  {
    // 1000 connections announce 8 MB frames and send what is taken.
    std::vector<int> stalled;
    const std::uint32_t size = 8388000;
    const Bytes header = {size >> 24, (size >> 16) & 0xff, (size >> 8) & 0xff,
                          size & 0xff};
    for (int i = 0; i < 1000; ++i) {
      stalled.push_back(connectTo(port, false));
    }
    for (int fd : stalled) {
      waitWritable(fd);
      (void)!::write(fd, header.data(), header.size());
    }
    const Bytes piece(256 * 1024, 0);
    std::vector<std::size_t> sent(stalled.size(), 0);
    const auto until = Clock::now() + std::chrono::seconds(5);
    std::size_t total = 0;
    for (bool any = true; any && Clock::now() < until;) {
      any = false;
      for (std::size_t i = 0; i < stalled.size(); ++i) {
        if (sent[i] >= size * 99 / 100) continue;
        ssize_t w = ::write(stalled[i], piece.data(), piece.size());
        if (w > 0) {
          sent[i] += static_cast<std::size_t>(w);
          total += static_cast<std::size_t>(w);
          any = true;
        }
      }
    }
    char extra[96];
    std::snprintf(extra, sizeof extra, "(%zu MiB sent by the stalled)",
                  total >> 20);
    report("1000 stalled mid-frame (8 MB)", latencies(port, n),
           memoryKiB(pid, "VmRSS"), extra);
    for (int fd : stalled) ::close(fd);
  }

  {
    // 50 pipelining clients, 64 requests outstanding each.
    std::atomic<bool> stop{false};
    std::atomic<long> answered{0};
    std::thread pipeliners([&] {
      // The load runs at the lowest priority, so that what the normal
      // client sees is the daemon's doing, not this thread's share of the
      // processors.
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
      const Bytes one = exists();
      Bytes window;
      for (int i = 0; i < 64; ++i)
        window.insert(window.end(), one.begin(), one.end());
      std::vector<pollfd> fds;
      std::vector<std::size_t> partial(50, 0);
      for (int i = 0; i < 50; ++i) {
        int fd = connectTo(port, true);
        (void)!::write(fd, window.data(), window.size());
        fds.push_back({fd, POLLIN, 0});
      }
      std::vector<std::uint8_t> buf(64 * 1024);
      Bytes more;
      while (!stop) {
        if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
          if (!(fds[i].revents & POLLIN)) continue;
          ssize_t r = ::read(fds[i].fd, buf.data(), buf.size());
          if (r <= 0) continue;
          partial[i] += static_cast<std::size_t>(r);
          const std::size_t replies = partial[i] / kReplySize;
          partial[i] %= kReplySize;
          answered += static_cast<long>(replies);
          more.clear();
          for (std::size_t k = 0; k < replies; ++k) {
            more.insert(more.end(), one.begin(), one.end());
          }
          if (!more.empty())
            (void)!::write(fds[i].fd, more.data(), more.size());
        }
      }
      for (auto& p : fds) ::close(p.fd);
    });
    while (answered < 10000)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const long before = answered;
    const auto t0 = Clock::now();
    std::vector<double> l = latencies(port, n);
    const double secs =
        std::chrono::duration<double>(Clock::now() - t0).count();
    char extra[96];
    std::snprintf(extra, sizeof extra, "(pipeliners %.0f req/s)",
                  (answered - before) / secs);
    report("50 pipelining clients", l, memoryKiB(pid, "VmRSS"), extra);
    stop = true;
    pipeliners.join();
  }
  return 0;
}
