// A daemon core that serves nothing: it waits for events that never come.
// It keeps the program's start-up, main loop and tear-down runnable until
// the daemon object and the run time's event loop take its place in
// makeDaemonCoreFactory().

#include <thread>

#include "daemon/daemon_core.h"

namespace talvo::daemon {
namespace {

class StandInCore : public DaemonCore {
 public:
  void implIsReady(CORBA::Environment&) override {}
  bool eventPending(std::chrono::milliseconds max_wait) override {
    if (max_wait.count() > 0) std::this_thread::sleep_for(max_wait);
    return false;
  }
  void processEvent(CORBA::Environment&) override {}
  std::string iorText(CORBA::Environment&) override { return {}; }
};

class StandInFactory : public DaemonCoreFactory {
 public:
  void createCheckpoint() override {}
  void useCheckpointFile(const std::string&, CORBA::Environment&) override {}
  std::unique_ptr<DaemonCore> createDaemon(const DaemonOptions&,
                                           CORBA::Environment&) override {
    return std::make_unique<StandInCore>();
  }
};

}  // namespace

std::unique_ptr<DaemonCoreFactory> makeDaemonCoreFactory() {
  return std::make_unique<StandInFactory>();
}

}  // namespace talvo::daemon
