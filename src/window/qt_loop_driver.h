// QtLoopDriver: the run time's event loop driven from Qt's event loop, so
// that requests are served while menus and modal dialogs are open.
//
// Every descriptor the loop watches gets a QSocketNotifier for reading
// and one for writing, enabled as the loop's interest says; the loop's
// next timer is one single-shot QTimer. There is no polling timer: an idle
// daemon wakes only when a descriptor becomes ready or a timer of the loop
// falls due. After every batch the `after_events` callback runs with the
// batch's failure, if a system exception escaped it (the host prints it and
// does its housekeeping: ended children reaped, trace written out).
//
// The notifiers follow the loop's watch listener. Changes made while a
// handler runs are applied when it returns, before Qt waits again, so Qt
// never waits on a descriptor the loop has closed; notifiers that go are
// disabled at once and deleted later (one may be the notifier being
// served).
//
// Threading: the GUI thread, which is the loop's thread.

#ifndef TALVO_WINDOW_QT_LOOP_DRIVER_H_
#define TALVO_WINDOW_QT_LOOP_DRIVER_H_

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <map>

#include "runtime/except/exception.h"
#include "runtime/transport/event_loop.h"

namespace talvo::window {

class QtLoopDriver : public QObject {
 public:
  // `loop` (not owned) must outlive the driver.
  using AfterEvents = std::function<void(Status failure)>;
  QtLoopDriver(EventLoop& loop, AfterEvents after_events,
               QObject* parent = nullptr);
  // Stops listening to the loop and drops every notifier.
  ~QtLoopDriver() override;

  // The number of descriptors watched now (for tests).
  std::size_t watchedCount() const { return notifiers_.size(); }

 private:
  struct Notifiers {
    QPointer<QSocketNotifier> read;
    QPointer<QSocketNotifier> write;
  };

  void sync();
  void changed();
  // Runs `serve` as one batch of the loop.
  void batch(const std::function<void()>& serve);
  void setNotifier(QPointer<QSocketNotifier>& slot, int fd,
                   QSocketNotifier::Type type, bool wanted);
  static void drop(QPointer<QSocketNotifier>& slot);

  EventLoop& loop_;
  AfterEvents after_events_;
  std::map<int, Notifiers> notifiers_;
  QTimer timer_;
  int depth_ = 0;       // handlers of the loop running now
  bool dirty_ = false;  // the loop's watches changed since sync()
  bool sync_queued_ = false;
};

}  // namespace talvo::window

#endif  // TALVO_WINDOW_QT_LOOP_DRIVER_H_
