// DaemonHost in the test process, over a daemon core that records what it
// is given: start-up's options and failures, the passes' waits, the stop
// request, the tear-down, and the log.

#include "daemon/daemon_host.h"

#include <gtest/gtest.h>

#include <deque>

#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "support/scoped_env.h"
#include "support/talvod.h"

namespace talvo::daemon {
namespace {

using std::chrono::milliseconds;

// Makes a core that records into the factory, with the failures asked for.
struct FakeFactory : DaemonCoreFactory {
  std::optional<DaemonOptions> options;
  std::optional<std::string> checkpoint_file;
  bool checkpoint_created = false;
  std::vector<std::optional<milliseconds>> waits;
  std::deque<std::function<Status()>> passes;  // what each pass does
  Status create_failure;
  bool checkpoint_fails = false, ready_fails = false, wakeable = false;

  struct Core : DaemonCore, Waker {
    explicit Core(FakeFactory& f) : f(f) {}
    Status implIsReady() override {
      return f.ready_fails ? fail<CORBA::INTERNAL>(10) : nullptr;
    }
    Status runOnce(std::optional<milliseconds> max_wait) override {
      f.waits.push_back(max_wait);
      if (f.passes.empty()) return nullptr;
      auto pass = std::move(f.passes.front());
      f.passes.pop_front();
      return pass();
    }
    std::shared_ptr<Waker> makeWaker(std::function<void()>) override {
      return f.wakeable ? std::shared_ptr<Waker>(this, [](Waker*) {}) : nullptr;
    }
    void wake() override {}
    bool watchReadable(int, std::function<void()>) override {
      return f.wakeable;
    }
    Status iorText(std::string& text) override {
      text = "IOR:0123abcd";
      return nullptr;
    }
    FakeFactory& f;
  };

  void createCheckpoint() override { checkpoint_created = true; }
  Status useCheckpointFile(const std::string& path) override {
    checkpoint_file = path;
    return checkpoint_fails ? fail<CORBA::BAD_PARAM>(1) : nullptr;
  }
  Status createDaemon(const DaemonOptions& o,
                      std::unique_ptr<DaemonCore>& core) override {
    options = o;
    if (create_failure) return create_failure->cloneSystem();
    core = std::make_unique<Core>(*this);
    return nullptr;
  }
};

class DaemonHostTest : public ::testing::Test {
 protected:
  void settings(const std::string& body) {
    testing::writeFile(dir_.file("registry"), testing::daemonRegistry(body));
  }

  testing::TempDir dir_;
  testing::ScopedEnv registry_{"QV_REGISTRY", dir_.file("registry")};
  FakeFactory factory_;
  DaemonContext context_{runtimeConfig(), traceStream()};
};

// ---- Round trips -------------------------------------------------------

TEST_F(DaemonHostTest, StartHandsTheSettingsOnAndShutdownWritesTheReference) {
  settings("UPS=yes\nProtected=yes\nReapTime=33\nInterop=yes\nInteropFile=" +
           dir_.file("d.ior") + "\nCheckpoint=yes\nCheckPointFile=/cp\n");
  DaemonHost host(context_, factory_);
  ASSERT_FALSE(host.start());
  ASSERT_TRUE(factory_.options);
  EXPECT_TRUE(factory_.options->unregistered_persistent_servers);
  EXPECT_TRUE(factory_.options->protected_mode);
  EXPECT_EQ(factory_.options->reap_time, 33);
  EXPECT_EQ(factory_.options->interop_file, dir_.file("d.ior"));
  EXPECT_FALSE(factory_.options->other_name);
  EXPECT_TRUE(factory_.checkpoint_created);
  EXPECT_EQ(factory_.checkpoint_file, "/cp");
  EXPECT_FALSE(std::filesystem::exists(dir_.file("d.ior")));
  EXPECT_FALSE(host.shutdown());
  // Exactly the reference, no line end; the daemon object is gone.
  EXPECT_EQ(testing::readFile(dir_.file("d.ior")), "IOR:0123abcd");
  EXPECT_EQ(host.core(), nullptr);

  // Checkpointing off: the object is still made, but given no file.
  FakeFactory off;
  settings("CheckPointFile=/cp\n");
  DaemonHost plain(context_, off);
  ASSERT_FALSE(plain.start());
  EXPECT_TRUE(off.checkpoint_created);
  EXPECT_FALSE(off.checkpoint_file);
  EXPECT_FALSE(off.options->interop_file);
}

// ---- Boundaries --------------------------------------------------------

TEST_F(DaemonHostTest, PriorityOnlyBoundsTheWaitOfALoopThatCannotBeWoken) {
  for (const char* priority : {"", "3"}) {
    settings(std::string("Priority=") + priority + "\n");
    FakeFactory bounded_factory;
    DaemonHost bounded(context_, bounded_factory);
    ASSERT_FALSE(bounded.start());
    bounded.runOnce();
    bounded.runOnce(milliseconds(7));  // the caller's bound when shorter
    const milliseconds expected(*priority == '\0' ? 500 : 100);
    EXPECT_EQ(bounded_factory.waits, (std::vector<std::optional<milliseconds>>{
                                         expected, milliseconds(7)}));
  }
  // Woken by a stop and told of ended children: the wait is unbounded.
  factory_.wakeable = true;
  DaemonHost woken(context_, factory_);
  ASSERT_FALSE(woken.start());
  EXPECT_EQ(woken.waitBound(), std::nullopt);
}

TEST_F(DaemonHostTest, TraceLinesOfAPassAreWrittenOutAtItsEnd) {
  settings("Priority=3\nLog=yes\nLogFile=" + dir_.file("daemon.log") + "\n");
  DaemonHost host(context_, factory_);
  ASSERT_FALSE(host.start());
  const std::string before = testing::readFile(dir_.file("daemon.log"));
  EXPECT_NE(before.find("Talvo daemon v2.3c"), std::string::npos);
  factory_.passes.push_back([] {
    traceStream() << "traced during the pass" << endl;
    return nullptr;
  });
  factory_.passes.push_back([&] {
    // Held until the pass ends.
    EXPECT_EQ(testing::readFile(dir_.file("daemon.log")),
              before + "traced during the pass\n");
    return nullptr;
  });
  host.runOnce();
  host.runOnce();
}

// ---- Error paths -------------------------------------------------------

TEST_F(DaemonHostTest, FailuresOfAPassArePrintedAndTheLoopGoesOn) {
  DaemonHost host(context_, factory_);
  ASSERT_FALSE(host.start());
  factory_.passes.push_back([] { return fail<CORBA::COMM_FAILURE>(10080); });
  factory_.passes.push_back([]() -> Status { throw CORBA::NO_MEMORY(1); });
  ::testing::internal::CaptureStdout();
  host.runOnce();
  host.runOnce();
  host.runOnce();
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(factory_.waits.size(), 3u);
  EXPECT_NE(out.find("SYSTEM_EXCEPTION  : 10080-- "), std::string::npos) << out;
  EXPECT_NE(out.find("SYSTEM_EXCEPTION  : 1-- "), std::string::npos) << out;
}

TEST_F(DaemonHostTest, StartUpFailuresSayWhatToShow) {
  struct Case {
    std::string settings;
    std::function<void(FakeFactory&)> arrange;
    std::string message;
  };
  const Case cases[] = {
      {"",
       [](FakeFactory& f) {
         f.create_failure = fail<CORBA::COMM_FAILURE>(10080);
       },
       "Comm Failure - Check that you do not already have an Talvo daemon "
       "running!"},
      {"",
       [](FakeFactory& f) { f.create_failure = fail<CORBA::NO_RESOURCES>(1); },
       "Unknown error initalising daemon"},
      {"Checkpoint=yes\nCheckPointFile=/cp\n",
       [](FakeFactory& f) { f.checkpoint_fails = true; },
       "unexpected exception setting checkpoint file!"},
      // No message: the status is printed on standard output instead.
      {"", [](FakeFactory& f) { f.ready_fails = true; }, ""},
  };
  for (const Case& c : cases) {
    settings(c.settings);
    FakeFactory factory;
    c.arrange(factory);
    DaemonHost host(context_, factory);
    std::optional<StartupFailure> failure = host.start();
    ASSERT_TRUE(failure) << c.message;
    EXPECT_EQ(failure->message, c.message);
    EXPECT_NE(failure->status, nullptr);
  }
}

}  // namespace
}  // namespace talvo::daemon
