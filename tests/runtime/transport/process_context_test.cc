// The process-wide transport context: the connection's end line reaches the
// run time's trace stream with the trace-line prefix, and nothing does at
// diagnostics level 0.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "runtime/transport/event_loop.h"

namespace talvo {
namespace {

class Capture : public MessageHandler {
 public:
  explicit Capture(std::vector<std::string>& lines) : lines_(lines) {}
  void process(std::string_view message) override {
    lines_.emplace_back(message);
  }

 private:
  std::vector<std::string>& lines_;
};

class ProcessContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traceDispatcher().add("TransportTest", std::make_unique<Capture>(lines_));
    traceDispatcher().deactivate("QV_StdOut");
  }
  void TearDown() override {
    traceDispatcher().remove("TransportTest");
    traceDispatcher().activate("QV_StdOut");
    runtimeConfig().setDiagnosticsLevel(1);
  }

  // Opens and closes one connection through a loop on the process context.
  void openAndClose() {
    EventLoop loop;
    std::uint16_t port = 0;
    ASSERT_EQ(loop.listen("0", &port), nullptr);
    Channel* ch = nullptr;
    ASSERT_EQ(loop.connectOnce("127.0.0.1", port, &ch), nullptr);
    loop.close(*ch);
  }

  std::vector<std::string> lines_;
};

TEST_F(ProcessContextTest, EndLineCarriesThePrefixLevelZeroIsSilent) {
  runtimeConfig().setDiagnosticsLevel(1);
  openAndClose();
  ASSERT_FALSE(lines_.empty());
  const std::string prefix = runtimeConfig().tracePrefix();
  EXPECT_EQ(lines_[0].rfind(prefix + "End of Connection (", 0), 0u)
      << lines_[0];
  lines_.clear();
  runtimeConfig().setDiagnosticsLevel(0);
  openAndClose();
  EXPECT_TRUE(lines_.empty());
}

}  // namespace
}  // namespace talvo
