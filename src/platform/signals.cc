#include "platform/signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <vector>

namespace talvo::platform {
namespace {

struct ClosedownText {
  std::string prefix;
  int clock_at = -1;
  long utc_offset = 0;  // seconds east of UTC when the text was set
};

// The published text; null writes nothing. Replaced texts are kept until
// the process ends, because a handler may still be reading one.
std::atomic<const ClosedownText*> g_text{nullptr};
std::mutex g_kept_mutex;
std::vector<std::unique_ptr<ClosedownText>>& keptTexts() {
  static auto* kept = new std::vector<std::unique_ptr<ClosedownText>>();
  return *kept;
}

void writeAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w <= 0) return;
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void writeText(int fd, const char* text) {
  size_t n = 0;
  while (text[n] != '\0') ++n;
  writeAll(fd, text, n);
}

// Async-signal-safe: only time(2), arithmetic and write(2).
void writeClosedown(int fd, int signal_number) {
  const ClosedownText* text = g_text.load(std::memory_order_acquire);
  if (text == nullptr) return;
  const std::string& prefix = text->prefix;
  if (text->clock_at >= 0 &&
      static_cast<size_t>(text->clock_at) + 8 <= prefix.size()) {
    long secs = static_cast<long>(::time(nullptr)) + text->utc_offset;
    long day = ((secs % 86400) + 86400) % 86400;
    char clock[8] = {static_cast<char>('0' + day / 36000),
                     static_cast<char>('0' + day / 3600 % 10),
                     ':',
                     static_cast<char>('0' + day % 3600 / 600),
                     static_cast<char>('0' + day % 3600 / 60 % 10),
                     ':',
                     static_cast<char>('0' + day % 60 / 10),
                     static_cast<char>('0' + day % 10)};
    writeAll(fd, prefix.data(), static_cast<size_t>(text->clock_at));
    writeAll(fd, clock, sizeof clock);
    size_t rest = static_cast<size_t>(text->clock_at) + 8;
    writeAll(fd, prefix.data() + rest, prefix.size() - rest);
  } else {
    writeAll(fd, prefix.data(), prefix.size());
  }
  writeText(fd, "\n<Closedown Handler, Tidying up after signal: ");
  char digits[12];
  int n = 0;
  unsigned value =
      signal_number < 0 ? 0u : static_cast<unsigned>(signal_number);
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < 12);
  char ordered[12];
  for (int i = 0; i < n; ++i) ordered[i] = digits[n - 1 - i];
  writeAll(fd, ordered, static_cast<size_t>(n));
  writeText(fd, ">\n");
}

extern "C" void closedownHandler(int signal_number) {
  writeClosedown(STDOUT_FILENO, signal_number);
  ::_exit(0);
}

}  // namespace

void installClosedownHandler() {
  struct sigaction action {};
  action.sa_handler = closedownHandler;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

void setClosedownText(bool enabled, const std::string& prefix, int clock_at) {
  if (!enabled) {
    g_text.store(nullptr, std::memory_order_release);
    return;
  }
  auto text = std::make_unique<ClosedownText>();
  text->prefix = prefix;
  text->clock_at = clock_at;
  time_t now = ::time(nullptr);
  struct tm local {};
  if (::localtime_r(&now, &local) != nullptr)
    text->utc_offset = local.tm_gmtoff;
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  g_text.store(text.get(), std::memory_order_release);
  keptTexts().push_back(std::move(text));
}

void writeClosedownText(int fd, int signal_number) {
  writeClosedown(fd, signal_number);
}

void blockControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGCHLD);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

ControlSignalThread::ControlSignalThread(std::function<void(int)> handler)
    : handler_(std::move(handler)) {
  blockControlSignals();
  thread_ = std::thread([this] { loop(); });
}

ControlSignalThread::~ControlSignalThread() {
  stop_.store(true);
  // The thread sleeps in sigwait: a SIGHUP aimed at it alone ends the wait,
  // and it sees the stop before handling the signal.
  if (thread_.joinable()) {
    ::pthread_kill(thread_.native_handle(), SIGHUP);
    thread_.join();
  }
}

void ControlSignalThread::loop() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGHUP);
  while (!stop_.load()) {
    int sig = 0;
    if (::sigwait(&set, &sig) != 0 || stop_.load()) continue;
    if (sig == SIGUSR1) {
      handler_(kControlStop);
    } else if (sig == SIGHUP) {
      handler_(kControlUser);
    }
  }
}

ChildEndWatch::ChildEndWatch() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGCHLD);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

ChildEndWatch::~ChildEndWatch() {
  if (fd_ >= 0) ::close(fd_);
}

void ChildEndWatch::drain() {
  if (fd_ < 0) return;
  signalfd_siginfo info[8];
  while (::read(fd_, info, sizeof info) > 0) {
  }
}

StopSignalWatch::StopSignalWatch() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

StopSignalWatch::~StopSignalWatch() {
  if (fd_ >= 0) ::close(fd_);
}

int StopSignalWatch::take() {
  if (fd_ < 0) return 0;
  signalfd_siginfo info;
  if (::read(fd_, &info, sizeof info) != sizeof info) return 0;
  return static_cast<int>(info.ssi_signo);
}

}  // namespace talvo::platform
