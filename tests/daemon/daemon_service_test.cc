// DaemonService in the test process, with a daemon core that records what
// it is given: OnInit's options and failures, the main loop's passes, the
// tear-down, and the log.

#include "daemon/daemon_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "daemon/daemon_log.h"
#include "talvod_process.h"

namespace talvo::daemon {
namespace {

using std::chrono::milliseconds;

struct Record {
  std::optional<DaemonOptions> options;
  std::string checkpoint_file;
  bool checkpoint_created = false;
  int pending = 0;  // events the fake reports as pending
  int processed = 0;
  std::vector<milliseconds> waits;
};

class FakeCore : public DaemonCore {
 public:
  FakeCore(Record& record, bool fail_ready)
      : r_(record), fail_ready_(fail_ready) {}
  void implIsReady(CORBA::Environment& env) override {
    if (fail_ready_)
      env.set(std::make_unique<CORBA::INTERNAL>(10),
              CORBA::Environment::kSystem);
  }
  bool eventPending(milliseconds max_wait) override {
    r_.waits.push_back(max_wait);
    return r_.pending > 0;
  }
  void processEvent(CORBA::Environment& env) override {
    --r_.pending;
    ++r_.processed;
    if (r_.processed == 1) {
      env.set(std::make_unique<CORBA::COMM_FAILURE>(10080),
              CORBA::Environment::kSystem);
    } else if (r_.processed == 2) {
      throw CORBA::NO_MEMORY(1);
    }
  }
  std::string iorText(CORBA::Environment&) override { return "IOR:0123abcd"; }

 private:
  Record& r_;
  bool fail_ready_;
};

class FakeFactory : public DaemonCoreFactory {
 public:
  explicit FakeFactory(Record& r) : r_(r) {}
  std::unique_ptr<CORBA::SystemException> create_failure;
  bool checkpoint_fails = false;
  bool ready_fails = false;

  void createCheckpoint() override { r_.checkpoint_created = true; }
  void useCheckpointFile(const std::string& path,
                         CORBA::Environment& env) override {
    r_.checkpoint_file = path;
    if (checkpoint_fails)
      env.set(std::make_unique<CORBA::BAD_PARAM>(1),
              CORBA::Environment::kSystem);
  }
  std::unique_ptr<DaemonCore> createDaemon(const DaemonOptions& options,
                                           CORBA::Environment& env) override {
    r_.options = options;
    if (create_failure) {
      env.set(create_failure->clone(), CORBA::Environment::kSystem);
      return nullptr;
    }
    return std::make_unique<FakeCore>(r_, ready_fails);
  }

 private:
  Record& r_;
};

class DaemonServiceTest : public ::testing::Test {
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
};

// ---- Round trips -------------------------------------------------------

TEST_F(DaemonServiceTest, OnInitHandsTheSettingsToTheDaemon) {
  settings("UPS=yes\nProtected=yes\nReapTime=33\nInterop=yes\nInteropFile=" +
           dir_.file("d.ior") + "\nCheckpoint=yes\nCheckPointFile=/cp\n");
  {
    DaemonService service("Talvo Daemon", factory_);
    EXPECT_TRUE(service.OnInit());
    ASSERT_TRUE(record_.options);
    EXPECT_TRUE(record_.options->unregistered_persistent_servers);
    EXPECT_TRUE(record_.options->protected_mode);
    EXPECT_EQ(record_.options->reap_time, 33);
    EXPECT_TRUE(record_.options->interop);
    EXPECT_EQ(record_.options->interop_file, dir_.file("d.ior"));
    EXPECT_FALSE(record_.options->other_name);
    EXPECT_TRUE(record_.checkpoint_created);
    EXPECT_EQ(record_.checkpoint_file, "/cp");
    EXPECT_NE(theDaemon(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("d.ior")));
  }
  EXPECT_EQ(theDaemon(), nullptr);
  // Exactly the reference, no line end.
  EXPECT_EQ(testing::readFile(dir_.file("d.ior")), "IOR:0123abcd");
}

TEST_F(DaemonServiceTest, CheckpointOffStillCreatesTheObject) {
  settings("CheckPointFile=/cp\n");
  DaemonService service("Talvo Daemon", factory_);
  service.OnInit();
  EXPECT_TRUE(record_.checkpoint_created);
  EXPECT_EQ(record_.checkpoint_file, "");
  EXPECT_FALSE(record_.options->interop);
  EXPECT_FALSE(record_.options->interop_file);
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
  DaemonOutput only(&nowhere, nullptr);
  only.process("dropped");
}

// ---- Boundaries --------------------------------------------------------

TEST_F(DaemonServiceTest, PriorityThreeWaitsInTheEventWaitInsteadOfSleeping) {
  settings("Priority=3\n");
  DaemonService service("Talvo Daemon", factory_);
  service.OnInit();
  EXPECT_EQ(service.delayMs(), 0u);
  service.RunOnePass();
  ASSERT_EQ(record_.waits.size(), 1u);
  EXPECT_EQ(record_.waits[0], kBlockingWaitStep);
}

TEST_F(DaemonServiceTest, PassProcessesOneEventAndSleepsTheDelay) {
  settings("Priority=2\n");
  DaemonService service("Talvo Daemon", factory_);
  service.OnInit();
  record_.pending = 5;
  auto start = std::chrono::steady_clock::now();
  service.RunOnePass();
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(record_.processed, 1);
  EXPECT_EQ(record_.waits[0], milliseconds(0));
  EXPECT_GE(took, milliseconds(100));
}

TEST_F(DaemonServiceTest, TraceLinesOfAPassAreWrittenOutAtItsEnd) {
  settings("Priority=3\nLog=yes\nLogFile=" + dir_.file("daemon.log") + "\n");
  DaemonService service("Talvo Daemon", factory_);
  service.OnInit();
  const std::string before = testing::readFile(dir_.file("daemon.log"));
  traceStream() << "traced during the pass" << endl;
  EXPECT_EQ(testing::readFile(dir_.file("daemon.log")), before);  // held
  service.RunOnePass();
  EXPECT_EQ(testing::readFile(dir_.file("daemon.log")),
            before + "traced during the pass\n");
}

// ---- Error paths -------------------------------------------------------

TEST_F(DaemonServiceTest,
       ExceptionsInEventProcessingArePrintedAndTheLoopGoesOn) {
  settings("Priority=3\n");
  DaemonService service("Talvo Daemon", factory_);
  service.OnInit();
  record_.pending = 3;
  ::testing::internal::CaptureStdout();
  service.RunOnePass();  // exception left in the environment
  service.RunOnePass();  // exception thrown
  service.RunOnePass();
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(record_.processed, 3);
  EXPECT_NE(out.find("SYSTEM_EXCEPTION  : "), std::string::npos) << out;
  // Both exceptions appear in their printed form, headed by the minor code.
  EXPECT_NE(out.find("10080-- "), std::string::npos) << out;
  EXPECT_NE(out.find("1-- "), std::string::npos) << out;
}

using DaemonServiceDeathTest = DaemonServiceTest;

TEST_F(DaemonServiceDeathTest, StartUpFailuresShowAMessageAndExitOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* settings;
    std::function<void(FakeFactory&)> arrange;
    const char* message;
  };
  const Case cases[] = {
      {"",
       [](FakeFactory& f) {
         f.create_failure = std::make_unique<CORBA::COMM_FAILURE>(10080);
       },
       "Talvo Daemon: Comm Failure - Check that you do not already have an "
       "Talvo daemon running!"},
      {"",
       [](FakeFactory& f) {
         f.create_failure = std::make_unique<CORBA::NO_RESOURCES>(1);
       },
       "Talvo Daemon: Unknown error initalising daemon"},
      {"Checkpoint=yes\nCheckPointFile=/cp\n",
       [](FakeFactory& f) { f.checkpoint_fails = true; },
       "Talvo Daemon: unexpected exception setting checkpoint file!"},
      // The environment is printed on standard output instead.
      {"", [](FakeFactory& f) { f.ready_fails = true; }, ""},
  };
  // The children work in this test's folder, so none is left behind.
  ::setenv(testing::TempDir::kChildDirVariable, dir_.path().c_str(), 1);
  for (const Case& c : cases) {
    settings(c.settings);
    Record record;
    FakeFactory factory(record);
    c.arrange(factory);
    DaemonService service("Talvo Daemon", factory);
    EXPECT_EXIT(service.OnInit(), ::testing::ExitedWithCode(1), c.message);
  }
  ::unsetenv(testing::TempDir::kChildDirVariable);
}

}  // namespace
}  // namespace talvo::daemon
