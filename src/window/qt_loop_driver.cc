#include "window/qt_loop_driver.h"

#include <chrono>
#include <set>

namespace talvo::window {

QtLoopDriver::QtLoopDriver(EventLoop& loop, AfterEvents after_events,
                           QObject* parent)
    : QObject(parent), loop_(loop), after_events_(std::move(after_events)) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, this,
                   [this] { batch([this] { loop_.handleDueTimers(); }); });
  loop_.setWatchListener([this] { changed(); });
  sync();
}

QtLoopDriver::~QtLoopDriver() {
  loop_.setWatchListener(nullptr);
  for (auto& [fd, n] : notifiers_) {
    drop(n.read);
    drop(n.write);
  }
}

void QtLoopDriver::drop(QPointer<QSocketNotifier>& slot) {
  if (!slot) return;
  slot->setEnabled(false);
  slot->deleteLater();
  slot = nullptr;
}

void QtLoopDriver::setNotifier(QPointer<QSocketNotifier>& slot, int fd,
                               QSocketNotifier::Type type, bool wanted) {
  if (!wanted) {
    if (slot) slot->setEnabled(false);
    return;
  }
  if (!slot) {
    slot = new QSocketNotifier(fd, type, this);
    const short bits = type == QSocketNotifier::Read ? EventLoop::kReadable
                                                     : EventLoop::kWritable;
    QObject::connect(slot, &QSocketNotifier::activated, this, [this, fd, bits] {
      batch([this, fd, bits] { loop_.handleReady(fd, bits); });
    });
  }
  slot->setEnabled(true);
}

void QtLoopDriver::changed() {
  dirty_ = true;
  if (depth_ > 0 || sync_queued_) return;
  // A change outside a handler of ours (start-up, a call made from a
  // command): applied before Qt waits again.
  sync_queued_ = true;
  QTimer::singleShot(0, this, [this] {
    sync_queued_ = false;
    if (dirty_) sync();
  });
}

void QtLoopDriver::sync() {
  dirty_ = false;
  std::set<int> seen;
  for (const EventLoop::Watch& w : loop_.watches()) {
    seen.insert(w.fd);
    Notifiers& n = notifiers_[w.fd];
    setNotifier(n.read, w.fd, QSocketNotifier::Read,
                (w.interest & EventLoop::kReadable) != 0);
    setNotifier(n.write, w.fd, QSocketNotifier::Write,
                (w.interest & EventLoop::kWritable) != 0);
  }
  for (auto it = notifiers_.begin(); it != notifiers_.end();) {
    if (seen.count(it->first) != 0) {
      ++it;
      continue;
    }
    drop(it->second.read);
    drop(it->second.write);
    it = notifiers_.erase(it);
  }
  if (std::optional<EventLoop::Clock::time_point> due = loop_.nextTimer()) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        *due - EventLoop::Clock::now());
    timer_.start(static_cast<int>(std::max<long long>(0, wait.count())));
  } else {
    timer_.stop();
  }
}

void QtLoopDriver::batch(const std::function<void()>& serve) {
  Status failure;
  ++depth_;
  try {
    serve();
  } catch (const CORBA::SystemException& e) {
    failure = e.cloneSystem();
  }
  --depth_;
  if (depth_ > 0) return;
  after_events_(std::move(failure));
  // Also when nothing changed: a timer that fell due may repeat.
  sync();
}

}  // namespace talvo::window
