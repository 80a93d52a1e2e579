// DaemonHost in the test process, over a daemon core that records what it
// is given: start-up's options and failures, the passes' waits, the stop
// request, the tear-down, and the log.

#include "daemon/daemon_host.h"

#include <gtest/gtest.h>

#include <deque>

#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "talvod_process.h"

namespace talvo::daemon {
namespace {

using std::chrono::milliseconds;

struct Record {
  std::optional<DaemonOptions> options;
  std::optional<std::string> checkpoint_file;
  bool checkpoint_created = false;
  std::vector<std::optional<milliseconds>> waits;
  std::deque<std::function<Status()>> passes;  // what each pass does
  int wakes = 0;
};

class FakeWaker : public Waker {
 public:
  explicit FakeWaker(Record& r) : r_(r) {}
  void wake() override { ++r_.wakes; }

 private:
  Record& r_;
};

class FakeCore : public DaemonCore {
 public:
  FakeCore(Record& r, bool ready_fails, bool wakeable)
      : r_(r), ready_fails_(ready_fails), wakeable_(wakeable) {}
  Status implIsReady() override {
    return ready_fails_ ? fail<CORBA::INTERNAL>(10) : nullptr;
  }
  Status runOnce(std::optional<milliseconds> max_wait) override {
    r_.waits.push_back(max_wait);
    if (r_.passes.empty()) return nullptr;
    auto pass = std::move(r_.passes.front());
    r_.passes.pop_front();
    return pass();
  }
  std::shared_ptr<Waker> makeWaker(std::function<void()>) override {
    return wakeable_ ? std::make_shared<FakeWaker>(r_) : nullptr;
  }
  bool watchReadable(int, std::function<void()>) override { return wakeable_; }
  Status iorText(std::string& text) override {
    text = "IOR:0123abcd";
    return nullptr;
  }

 private:
  Record& r_;
  bool ready_fails_, wakeable_;
};

class FakeFactory : public DaemonCoreFactory {
 public:
  explicit FakeFactory(Record& r) : r_(r) {}
  Status create_failure;
  bool checkpoint_fails = false, ready_fails = false, wakeable = false;

  void createCheckpoint() override { r_.checkpoint_created = true; }
  Status useCheckpointFile(const std::string& path) override {
    r_.checkpoint_file = path;
    return checkpoint_fails ? fail<CORBA::BAD_PARAM>(1) : nullptr;
  }
  Status createDaemon(const DaemonOptions& options,
                      std::unique_ptr<DaemonCore>& core) override {
    r_.options = options;
    if (create_failure) return create_failure->cloneSystem();
    core = std::make_unique<FakeCore>(r_, ready_fails, wakeable);
    return nullptr;
  }

 private:
  Record& r_;
};

class DaemonHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QV_REGISTRY", dir_.file("registry").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("QV_REGISTRY"); }
  void settings(const std::string& body) {
    testing::writeFile(dir_.file("registry"), testing::daemonRegistry(body));
  }

  testing::TempDir dir_;
  Record record_;
  FakeFactory factory_{record_};
  DaemonContext context_{runtimeConfig(), traceStream()};
};

// ---- Round trips -------------------------------------------------------

TEST_F(DaemonHostTest, StartHandsTheSettingsOnAndShutdownWritesTheReference) {
  settings("UPS=yes\nProtected=yes\nReapTime=33\nInterop=yes\nInteropFile=" +
           dir_.file("d.ior") + "\nCheckpoint=yes\nCheckPointFile=/cp\n");
  DaemonHost host(context_, factory_);
  ASSERT_FALSE(host.start());
  ASSERT_TRUE(record_.options);
  EXPECT_TRUE(record_.options->unregistered_persistent_servers);
  EXPECT_TRUE(record_.options->protected_mode);
  EXPECT_EQ(record_.options->reap_time, 33);
  EXPECT_EQ(record_.options->interop_file, dir_.file("d.ior"));
  EXPECT_FALSE(record_.options->other_name);
  EXPECT_TRUE(record_.checkpoint_created);
  EXPECT_EQ(record_.checkpoint_file, "/cp");
  EXPECT_FALSE(std::filesystem::exists(dir_.file("d.ior")));
  EXPECT_FALSE(host.shutdown());
  // Exactly the reference, no line end; the daemon object is gone.
  EXPECT_EQ(testing::readFile(dir_.file("d.ior")), "IOR:0123abcd");
  EXPECT_EQ(host.core(), nullptr);

  // Checkpointing off: the object is still made, but given no file.
  Record off;
  FakeFactory factory(off);
  settings("CheckPointFile=/cp\n");
  DaemonHost plain(context_, factory);
  ASSERT_FALSE(plain.start());
  EXPECT_TRUE(off.checkpoint_created);
  EXPECT_FALSE(off.checkpoint_file);
  EXPECT_FALSE(off.options->interop_file);
}

TEST(DaemonLogTest, FileIsTruncatedAndOutputsGetEveryLine) {
  testing::TempDir dir;
  testing::writeFile(dir.file("log"), "old text\n");
  DaemonLogFile primary(dir.file("log"));
  DaemonLogFile secondary(dir.file("log2"));
  DaemonOutput output(&primary, &secondary);
  output.process("one");
  output.process("two");
  EXPECT_EQ(testing::readFile(dir.file("log")), "one\ntwo\n");
  EXPECT_EQ(testing::readFile(dir.file("log2")), "one\ntwo\n");
  // A file that cannot be opened drops what it is given.
  DaemonLogFile nowhere(dir.file("no/such/dir/log"));
  EXPECT_FALSE(nowhere.isOpen());
  DaemonOutput(&nowhere, nullptr).process("dropped");
}

// ---- Boundaries --------------------------------------------------------

TEST_F(DaemonHostTest, PriorityOnlyBoundsTheWaitOfALoopThatCannotBeWoken) {
  for (const char* priority : {"", "2", "3"}) {
    settings(std::string("Priority=") + priority + "\n");
    record_ = {};
    factory_.wakeable = false;
    DaemonHost bounded(context_, factory_);
    ASSERT_FALSE(bounded.start());
    bounded.runOnce();
    bounded.runOnce(milliseconds(7));  // the caller's bound when shorter
    const milliseconds expected(*priority == '\0' ? 500 : 100);
    EXPECT_EQ(record_.waits, (std::vector<std::optional<milliseconds>>{
                                 expected, milliseconds(7)}))
        << priority;
    // Woken by a stop and told of ended children: the wait is unbounded.
    factory_.wakeable = true;
    DaemonHost woken(context_, factory_);
    ASSERT_FALSE(woken.start());
    EXPECT_EQ(woken.waitBound(), std::nullopt) << priority;
  }
}

TEST_F(DaemonHostTest, StopWakesTheLoopAndTheNextPassDoesNotWait) {
  factory_.wakeable = true;
  DaemonHost host(context_, factory_);
  host.requestStop();  // before start: remembered, nothing to wake yet
  EXPECT_EQ(record_.wakes, 0);
  ASSERT_FALSE(host.start());
  std::thread([&] { host.requestStop(); }).join();
  EXPECT_EQ(record_.wakes, 1);
  EXPECT_TRUE(host.stopRequested());
  host.runOnce();
  EXPECT_EQ(record_.waits.back(), milliseconds(0));
}

TEST_F(DaemonHostTest, TraceLinesOfAPassAreWrittenOutAtItsEnd) {
  settings("Priority=3\nLog=yes\nLogFile=" + dir_.file("daemon.log") + "\n");
  DaemonHost host(context_, factory_);
  ASSERT_FALSE(host.start());
  const std::string before = testing::readFile(dir_.file("daemon.log"));
  EXPECT_NE(before.find("Talvo daemon v2.3c"), std::string::npos);
  record_.passes.push_back([] {
    traceStream() << "traced during the pass" << endl;
    return nullptr;
  });
  record_.passes.push_back([&] {
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
  record_.passes.push_back([] { return fail<CORBA::COMM_FAILURE>(10080); });
  record_.passes.push_back([]() -> Status { throw CORBA::NO_MEMORY(1); });
  ::testing::internal::CaptureStdout();
  host.runOnce();
  host.runOnce();
  host.runOnce();
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(record_.waits.size(), 3u);
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
    Record record;
    FakeFactory factory(record);
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
