// A binding service over a repository in a temporary folder, a real
// activator and a port allocator, for tests that start real processes.
// Every child process still running when a test ends is killed and reaped.

#ifndef TALVO_TESTS_BINDING_BINDING_SUPPORT_H_
#define TALVO_TESTS_BINDING_BINDING_SUPPORT_H_

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "binding/binding_service.h"
#include "platform/process.h"
#include "probe_support.h"
#include "support/status_text.h"

namespace talvo::testing {

// The run time's channels as a persistent server sees them: the channel of
// a registered server reports its process id while that process lives.
class ChannelRuntime : public ActivationRuntime {
 public:
  std::map<std::string, std::int32_t> connected;  // server -> pid

  std::string localHostName() override { return "testhost.example.com"; }
  std::optional<std::int32_t> channelProcessId(const std::string& server,
                                               const std::string& marker,
                                               const std::string&) override {
    auto it = connected.find(server);
    if (marker != "*" || it == connected.end()) return std::nullopt;
    if (!platform::isProcessAlive(it->second)) return std::nullopt;
    return it->second;
  }
  // A registered server's process holds its own connection while it lives.
  bool channelHeldBy(const std::string& server, const std::string&,
                     std::int32_t pid) override {
    return channelProcessId(server, "*", "") == pid;
  }
  Status pingObject(const std::string&, const std::string&,
                    const std::string&) override {
    return nullptr;
  }
  std::optional<std::string> iiopPort() override { return std::nullopt; }
};

class BindingTest : public ::testing::Test {
 protected:
  BindingTest() {
    root_ = dir.file("rep");
    std::filesystem::create_directory(root_);
    Status error = imprep::ImpRepository::create(root_.c_str(), &repository);
    EXPECT_EQ(error, nullptr);
    // A port range of its own per test process, away from common ports.
    int base = 42000 + static_cast<int>(::getpid() % 400) * 50;
    base_ = base;
    ports = std::make_unique<PortAllocator>(std::to_string(base).c_str(), "50",
                                            [] { return "[talvod: "; });
  }
  ~BindingTest() override {
    for (pid_t pid : childProcesses()) {
      platform::killChildAndWait(pid);
      EXPECT_TRUE(processGone(pid)) << pid;
    }
  }

  BindingOptions options(bool ups = false) {
    BindingOptions o;
    o.ups = ups;
    o.daemonPort = 7591;
    o.daemonUser = "daemonuser";
    o.defaultCode = "cdr";
    o.defaultComms = "tcp";
    o.tracePrefix = [] { return std::optional<std::string>("[talvod: "); };
    return o;
  }
  BindingService& service(bool ups = false) {
    if (!service_ || service_->options().ups != ups) {
      service_ = std::make_unique<BindingService>(*repository, activator,
                                                  *ports, options(ups));
    }
    return *service_;
  }

  // A probe command that reports to `report` and stays up a minute.
  std::string probe(const std::string& report) const {
    return std::string(TALVO_LAUNCH_PROBE) + " " + dir.file(report) + " 60";
  }
  // Creates a record owned by "owner" whom everybody may invoke and launch,
  // unless `open` is false.
  void shared(const std::string& name, std::vector<imprep::LaunchEntry> markers,
              std::uint32_t submode = imprep::kPlain,
              std::uint32_t nservers = 1, std::uint32_t port = 0,
              bool cdr = true, bool open = true) {
    ASSERT_EQ(repository->createShared("owner", name, markers, submode,
                                       nservers, port, !cdr),
              nullptr);
    if (open) allowAll(name);
  }
  void allowAll(const std::string& name) {
    ASSERT_EQ(repository->addInvokeRights("owner", "all", name), nullptr);
    ASSERT_EQ(repository->addLaunchRights("owner", "all", name), nullptr);
  }

  // getImplementationDetails as `principal` (no connection).
  Status bind(const std::string& server, const std::string& marker,
              ImplementationDetails* out,
              const std::string& principal = "alice",
              const std::string& method = "") {
    return service().getImplementationDetails(Requester{principal, {}}, server,
                                              marker, method, out);
  }
  // The process id recorded for a launch key's three parts.
  std::int32_t pidOf(const std::string& server, const std::string& marker,
                     const OptionalText& principal = std::nullopt) {
    LaunchRecord* r = activator.getLaunchRecord(server, marker, principal);
    return r ? r->processId() : 0;
  }
  static std::string what(const Status& s) { return testing::what(s); }
  int portBase() const { return base_; }

  TraceCapture trace;
  TempDir dir;
  std::unique_ptr<imprep::ImpRepository> repository;
  ChannelRuntime runtime;
  PosixActivator activator{runtime};
  std::unique_ptr<PortAllocator> ports;

 private:
  std::string root_;
  int base_ = 0;
  std::unique_ptr<BindingService> service_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_BINDING_BINDING_SUPPORT_H_
