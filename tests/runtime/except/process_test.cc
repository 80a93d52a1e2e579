// The process-wide parts: the catalogue named by QV_ERRORS, printing
// through it to streams and to the trace stream, the out-of-memory handler
// and the message box. Kept apart from the other tests because the
// catalogue, once loaded, stays for the life of the process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "runtime/except/catalogue.h"
#include "runtime/except/new_handler.h"
#include "runtime/except/print.h"
#include "support/temp_dir.h"

namespace talvo {
namespace {

constexpr const char* kCatalogue =
    "Talvo errors\n"
    "10620 No configuration value\n"
    "10621 The configuration variable %s has no value.\n"
    "10240 Operation refused\n";

// The folder of the catalogue file, for the whole process.
testing::TempDir& folder() {
  static testing::TempDir dir;
  return dir;
}

// Keeps the configuration from reading files of the machine.
void isolateConfiguration() {
  ::setenv("QV_USE_CONFIG_FILE", "no", 1);
  ::setenv("QV_REGISTRY", folder().file("no-registry").c_str(), 1);
}

// Makes sure the process catalogue is loaded from kCatalogue.
void loadProcessCatalogue() {
  isolateConfiguration();
  if (!processCatalogue().loaded()) {
    ::setenv("QV_ERRORS", folder().write("Talvo.err", kCatalogue).c_str(), 1);
  }
  ASSERT_TRUE(processCatalogue().load());
}

// Collects trace lines.
class Collector : public MessageHandler {
 public:
  explicit Collector(std::vector<std::string>& lines) : lines_(lines) {}
  void process(std::string_view message) override {
    lines_.emplace_back(message);
  }

 private:
  std::vector<std::string>& lines_;
};

// Writes trace lines to standard error, where death tests can see them.
class ToStderr : public MessageHandler {
 public:
  void process(std::string_view message) override {
    platform::writeMessageBoxText("trace", message);
  }
};

// Round trips through the process-wide catalogue.

TEST(ProcessCatalogue, FollowsQvErrorsUntilLoaded) {
  if (processCatalogue().loaded()) GTEST_SKIP() << "loaded by another test";
  isolateConfiguration();
  ::unsetenv("QV_ERRORS");
  auto& catalogue = processCatalogue();
  EXPECT_EQ(catalogue.text(10620, 0), "Error - No error file specified.");
  const std::string path = folder().file("Talvo.err");
  ::setenv("QV_ERRORS", path.c_str(), 1);
  EXPECT_EQ(catalogue.text(10620, 0), "Error - Invalid errors file: " + path);
  folder().write("Talvo.err", kCatalogue);
  CORBA::NO_CONFIG_VALUE e(10621, CORBA::COMPLETED_NO, "QV_DAEMON_PORT");
  std::ostringstream out;
  e.print(out);
  EXPECT_EQ(out.str(),
            "10621-- No configuration value\n"
            "  - The configuration variable QV_DAEMON_PORT has no value.\n"
            "  [Completion status : COMPLETED_NO]\n");
  // Loaded once: a later change of file or variable is not seen.
  ::setenv("QV_ERRORS", "/nonexistent", 1);
  folder().write("Talvo.err", "\n10620 Changed\n");
  EXPECT_EQ(catalogue.text(10620, 0), "No configuration value");
  folder().write("Talvo.err", kCatalogue);
  ::setenv("QV_ERRORS", path.c_str(), 1);
}

TEST(ProcessCatalogue, TraceStreamGetsOneMessagePerLine) {
  loadProcessCatalogue();
  MessageDispatcher dispatcher;
  std::vector<std::string> lines;
  dispatcher.add("collect", std::make_unique<Collector>(lines));
  TalvoStream stream;
  stream.setMsgDispatcher(&dispatcher);

  CORBA::Environment env;
  print(stream, env);
  CORBA::BAD_OPERATION(10240).record(env);
  print(stream, env);
  print(stream, *env.exception());
  CORBA::UserException("Mod::Err").record(env);
  print(stream, env);
  EXPECT_EQ(stream.pending(), "USER_EXCEPTION    : Mod::Err");
  stream << talvo::endl;

  const std::vector<std::string> expected = {
      "NO_EXCEPTION      : ",
      "SYSTEM_EXCEPTION  : 10240-- Operation refused",
      "  [Completion status : COMPLETED_NO]",
      "10240-- Operation refused",
      "  [Completion status : COMPLETED_NO]",
      "USER_EXCEPTION    : Mod::Err",
  };
  EXPECT_EQ(lines, expected);
}

// Boundaries of the message box.

TEST(MessageBox, HookAndDefaultOutput) {
  std::vector<std::string> shown;
  auto previous = platform::setMessageBoxHook(
      [&](std::string_view title, std::string_view text) {
        shown.push_back(std::string(title) + "|" + std::string(text));
      });
  platform::showMessageBox("Talvo Daemon", "Cannot start.");
  EXPECT_EQ(shown, std::vector<std::string>{"Talvo Daemon|Cannot start."});
  platform::setMessageBoxHook(std::move(previous));

  ::testing::internal::CaptureStderr();
  platform::showMessageBox("Talvo Daemon", "Cannot start.");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Talvo Daemon: Cannot start.\n");
  EXPECT_EQ(shown.size(), 1u);
}

// Error paths: running out of memory ends the process.

void* volatile g_sink = nullptr;

void runOutOfMemory(bool real_allocation) {
  installNewHandler();
  traceDispatcher().add("stderr", std::make_unique<ToStderr>());
  if (real_allocation) {
    g_sink = ::operator new (std::size_t{1} << 62);
  } else {
    std::get_new_handler()();
  }
}

const char* kOutOfMemoryOutput =
    "trace: \ntrace: \n"
    "trace: \\[Talvo:: No more virtual memory left...\\]\n"
    "trace: \\[     Can you increase your swap space to help me \\?\\]\n"
    "trace: \\[Talvo:: I am actually short by 0 bytes\n"
    "Talvo: Unrecoverable Error: Talvo:: Insufficient Memory \n";

TEST(OutOfMemoryDeathTest, HandlerWritesTheTextsAndExits255) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(runOutOfMemory(false), ::testing::ExitedWithCode(255),
              kOutOfMemoryOutput);
}

TEST(OutOfMemoryDeathTest, FailedAllocationReportsItsSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reports huge allocations itself";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(runOutOfMemory(true), ::testing::ExitedWithCode(255),
              "I am actually short by 4611686018427387904 bytes\n");
#endif
}

TEST(OutOfMemory, WithoutTheHandlerAllocationThrows) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reports huge allocations itself";
#else
  std::new_handler previous = std::set_new_handler(nullptr);
  EXPECT_THROW(static_cast<void>(::operator new (std::size_t{1} << 62)),
               std::bad_alloc);
  EXPECT_EQ(::operator new (std::size_t{1} << 62, std::nothrow), nullptr);
  EXPECT_EQ(failedAllocationSize(), 0u);
  std::set_new_handler(previous);
#endif
}

}  // namespace
}  // namespace talvo
