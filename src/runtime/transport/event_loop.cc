// The core of the event loop: watched descriptors, timers, wakers, one pass
// of the loop, and the entry points for a loop that drives this one.

#include "runtime/transport/event_loop.h"

#include <algorithm>

#include "platform/errors.h"
#include "runtime/transport/event_loop_internal.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {

static_assert(EventLoop::kReadable == platform::kWaitRead &&
              EventLoop::kWritable == platform::kWaitWrite &&
              EventLoop::kError == platform::kWaitError &&
              EventLoop::kHangUp == platform::kWaitHangUp &&
              EventLoop::kInvalid == platform::kWaitInvalid);

struct EventLoop::WakerImpl : LoopWaker {
  WakerImpl(std::shared_ptr<WakeState> s, std::shared_ptr<WakerEntry> e)
      : state(std::move(s)), entry(std::move(e)) {}
  ~WakerImpl() override {
    entry->dropped.store(true);
    state->signal.raise();  // lets the loop forget the entry
  }
  // Async-signal-safe: a lock-free store and one write(2).
  void wake() override {
    entry->pending.store(true);
    state->signal.raise();
  }
  std::shared_ptr<WakeState> state;
  std::shared_ptr<WakerEntry> entry;
};

// Counts the nesting of passes; channels closed during a pass are freed
// when the outermost one ends, never under a handler that may still use
// them.
struct EventLoop::Depth {
  EventLoop& loop;
  explicit Depth(EventLoop& l) : loop(l) { ++loop.depth_; }
  ~Depth() {
    if (--loop.depth_ == 0) loop.purgeClosed();
  }
};

EventLoop::EventLoop(TransportContext& context)
    : context_(context),
      wait_set_(std::make_unique<WaitSet>()),
      spare_(std::make_unique<PassBuffers>()) {}

EventLoop::~EventLoop() {
  // Channels first: their close may still touch watches and timers.
  connecting_.clear();
}

EventLoop::FileEvent& EventLoop::FileTable::at(int fd) {
  const auto i = static_cast<std::size_t>(fd);
  if (i >= slots_.size()) slots_.resize(i + 1);
  if (!slots_[i]) {
    slots_[i] = std::make_unique<FileEvent>();
    ++count_;
  }
  return *slots_[i];
}

void EventLoop::FileTable::erase(int fd) {
  const auto i = static_cast<std::size_t>(fd);
  if (fd < 0 || i >= slots_.size() || !slots_[i]) return;
  slots_[i].reset();
  --count_;
}

void EventLoop::watch(int fd, short interest, FileHandler handler) {
  if (fd < 0) return;
  FileEvent& f = files_.at(fd);
  // What the wait set holds for the number stays known across a replace.
  const short registered = f.registered;
  f = FileEvent{interest, next_serial_++, std::move(handler)};
  f.registered = registered;
  markChanged(fd, f);
  watchesChanged();
}

void EventLoop::setInterest(int fd, short interest) {
  FileEvent* f = files_.find(fd);
  if (f == nullptr || f->interest == interest) return;
  f->interest = interest;
  markChanged(fd, *f);
  watchesChanged();
}

void EventLoop::unwatch(int fd) {
  FileEvent* f = files_.find(fd);
  if (f == nullptr) return;
  // Now, not at the next wait: the caller closes the descriptor next, and
  // its number may come back for another.
  wait_set_->poller.set(fd, 0, f->registered);
  files_.erase(fd);
  watchesChanged();
}

// Interest changes reach the wait set before the next wait, so that one
// that is undone before then (a connection not read while its handler
// runs) costs nothing.
void EventLoop::markChanged(int fd, FileEvent& f) {
  if (f.changed) return;
  f.changed = true;
  std::vector<int>& changed = wait_set_->changed;
  changed.push_back(fd);
  // A loop driven from outside never waits here: the list stays bounded.
  if (changed.size() > 2 * files_.size() + 64) {
    changed.clear();
    files_.forEach([&](int n, const FileEvent& file) {
      if (file.changed) changed.push_back(n);
    });
  }
}

void EventLoop::syncWaitSet(std::vector<platform::WaitEntry>& refused) {
  std::vector<int>& changed = wait_set_->changed;
  for (int fd : changed) {
    FileEvent* found = files_.find(fd);
    if (found == nullptr || !found->changed) continue;
    FileEvent& f = *found;
    f.changed = false;
    if (f.interest == f.registered) continue;
    if (wait_set_->poller.set(fd, f.interest, f.registered) != 0) {
      // Not a descriptor that can be waited on (closed, say).
      f.registered = 0;
      refused.push_back({fd, 0, kInvalid});
      continue;
    }
    f.registered = f.interest;
  }
  changed.clear();
}

EventLoop::TimerId EventLoop::addTimer(std::chrono::milliseconds delay,
                                       std::function<void()> fn,
                                       std::chrono::milliseconds repeat) {
  const TimerId id = next_timer_++;
  const Clock::time_point due = Clock::now() + delay;
  timers_.emplace(id, Timer{due, repeat, std::move(fn)});
  timer_queue_.emplace(due, id);
  watchesChanged();
  return id;
}

bool EventLoop::cancelTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  timer_queue_.erase({it->second.due, id});
  timers_.erase(it);
  return true;
}

std::size_t EventLoop::handleDueTimers() {
  Depth depth(*this);
  std::size_t ran = handleTimers();
  // Messages held back by the per-pass limit count as due work.
  ran += serveBacklog();
  flushPending();
  ++pass_;
  return ran;
}

std::size_t EventLoop::handleTimers() {
  std::size_t ran = 0;
  const Clock::time_point now = Clock::now();
  // Only timers due now: one that a callback adds with no delay runs in
  // the next pass, so a repeating timer cannot hold the loop.
  while (!timer_queue_.empty() && timer_queue_.begin()->first <= now) {
    const TimerId id = timer_queue_.begin()->second;
    timer_queue_.erase(timer_queue_.begin());
    auto it = timers_.find(id);
    std::function<void()> fn;
    if (it->second.repeat.count() > 0) {
      it->second.due = now + it->second.repeat;
      timer_queue_.emplace(it->second.due, id);
      fn = it->second.fn;
    } else {
      fn = std::move(it->second.fn);
      timers_.erase(it);
    }
    ++ran;
    fn();
  }
  return ran;
}

std::optional<EventLoop::Clock::time_point> EventLoop::nextTimer() const {
  if (!backlog_.empty()) return Clock::now();
  if (timer_queue_.empty()) return std::nullopt;
  return timer_queue_.begin()->first;
}

std::shared_ptr<LoopWaker> EventLoop::makeWaker(std::function<void()> on_wake) {
  if (!wake_) {
    wake_ = std::make_shared<WakeState>();
    if (int code = wake_->signal.open()) {
      trace(socketErrorText(code), true);
    } else {
      watch(wake_->signal.fd(), kReadable, [this](short) { runWakers(); });
    }
  }
  auto entry = std::make_shared<WakerEntry>();
  entry->on_wake = std::move(on_wake);
  wakers_.push_back(entry);
  return std::make_shared<WakerImpl>(wake_, std::move(entry));
}

void EventLoop::runWakers() {
  wake_->signal.drain();
  std::erase_if(wakers_, [](const std::shared_ptr<WakerEntry>& e) {
    return e->dropped.load();
  });
  // A callback may make wakers of its own.
  std::vector<std::shared_ptr<WakerEntry>> woken;
  for (const auto& e : wakers_) {
    if (e->pending.exchange(false)) woken.push_back(e);
  }
  for (const auto& e : woken) e->on_wake();
}

void EventLoop::setWatchListener(std::function<void()> listener) {
  watch_listener_ = std::move(listener);
}

void EventLoop::watchesChanged() {
  if (watch_listener_) watch_listener_();
}

std::vector<EventLoop::Watch> EventLoop::watches() const {
  std::vector<Watch> out;
  out.reserve(files_.size());
  files_.forEach([&](int fd, const FileEvent& f) {
    if (f.interest != 0) out.push_back({fd, f.interest});
  });
  return out;
}

std::size_t EventLoop::handleReady(int fd, short ready) {
  Depth depth(*this);
  FileEvent* f = files_.find(fd);
  if (f == nullptr) return 0;
  // The handler may unwatch its own descriptor.
  FileHandler handler = f->handler;
  handler(ready);
  flushPending();
  return 1;
}

LoopPass EventLoop::runOnce(int timeout_ms) {
  Depth depth(*this);
  // What an outer pass queued goes out before this one waits.
  flushPending();
  // Held messages are served without waiting.
  if (!backlog_.empty()) timeout_ms = 0;

  LoopPass pass;
  // Interest changed since the last wait reaches the wait set first;
  // descriptors it refuses are handed to their handlers as invalid.
  std::vector<platform::WaitEntry> refused;
  syncWaitSet(refused);
  if (!refused.empty()) timeout_ms = 0;
  if (!timer_queue_.empty()) {
    const Clock::time_point due = timer_queue_.begin()->first;
    const Clock::time_point now = Clock::now();
    long long wait = 0;
    if (due > now) {
      // Rounded up, so that the timer is due when the wait ends.
      wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    }
    if (timeout_ms < 0 || wait < timeout_ms) {
      timeout_ms = static_cast<int>(std::min<long long>(wait, 1 << 30));
    }
  }

  // The outermost pass reuses the buffers of the one before; a nested
  // pass finds them taken and makes its own.
  std::vector<platform::WaitEntry> entries = std::move(spare_->entries);
  if (int code = wait_set_->poller.wait(entries, kEventsPerWait, timeout_ms)) {
    pass.failure = socketFailure(kMinorWait, code);
    return pass;
  }
  entries.insert(entries.end(), refused.begin(), refused.end());
  // The ready entries, those served longest ago first: a client that sent
  // one request and waited goes before connections served in the last
  // passes (pipelining ones), and every ready one comes to the front in
  // turn. At most kReadyPerPass are served; the rest stay ready for the
  // next pass.
  std::vector<PassBuffers::Ready> order = std::move(spare_->order);
  order.clear();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const FileEvent* f = files_.find(entries[i].fd);
    if (f == nullptr || entries[i].revents == 0) continue;
    order.push_back({f->served, i, f->serial});
  }
  if (order.size() > 1) {
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
      return a.served != b.served ? a.served < b.served : a.index < b.index;
    });
  }
  if (order.size() > kReadyPerPass) order.resize(kReadyPerPass);
  for (const PassBuffers::Ready& r : order) {
    FileEvent* f = files_.find(entries[r.index].fd);
    // Unwatched (or replaced) by an earlier handler of this pass.
    if (f == nullptr || f->serial != r.serial) continue;
    f->served = pass_;
    FileHandler handler = f->handler;
    handler(entries[r.index].revents);
    ++pass.events;
    // Its answers leave now, not after the rest of the pass: a client
    // does not wait for the other connections served with it.
    flushPending();
  }
  pass.timers = handleDueTimers();
  spare_->order = std::move(order);
  spare_->entries = std::move(entries);
  return pass;
}

Status EventLoop::runUntil(const std::function<bool()>& done,
                           Clock::time_point deadline) {
  while (!done()) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return fail<CORBA::COMM_FAILURE>(kMinorTimeout);
    int wait = -1;
    if (deadline != Clock::time_point::max()) {
      wait = static_cast<int>(std::min<long long>(
          std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count(),
          1 << 30));
    }
    LoopPass pass = runOnce(wait);
    // A failing wait would fail again at once; give up instead of spinning.
    if (pass.failure && !done()) return std::move(pass.failure);
  }
  return nullptr;
}

}  // namespace talvo
