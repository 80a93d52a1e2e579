// The ports list and listener set over a scripted run time, and the
// daemon filter's failure hook: which failed requests it redirects and what
// the client gets when it does not. (A forward that reaches a launched
// server is the sample server's end-to-end test.)

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "daemon_fixture.h"
#include "interface/listener_set.h"

namespace talvo::interface {
namespace {

// Opens every port but `refused`, with descriptors from 5 on.
class ScriptedListening : public IiopListening {
 public:
  bool available() override { return iiop; }
  Status createEndpoint(const std::string& port, int* descriptor) override {
    if (port == refused) {
      return fail<CORBA::COMM_FAILURE>(10048, "WSAEADDRINUSE");
    }
    *descriptor = next_fd++;
    return nullptr;
  }
  bool localAddress(int) override { return true; }
  Status registerListener(int) override { return nullptr; }

  bool iiop = true;
  std::string refused;
  int next_fd = 5;
};

class ListenerSetTest : public DaemonTest {
 protected:
  void SetUp() override {
    DaemonTest::SetUp();
    start();
    ASSERT_EQ(newShared("bank"), nullptr);
    ASSERT_EQ(newShared("shop"), nullptr);
  }
  Status build(ListenerSet& set, IiopListening* runtime) {
    trace_.clear();
    return ListenerSet::build(
        root_, daemon_->repository(), runtime,
        [this](std::string_view l) { trace_.emplace_back(l); }, set);
  }
  std::string portsList() const { return root_ + "/portsList"; }
};

TEST_F(ListenerSetTest, PairsOfRegisteredServersAreOpenedAndTraced) {
  talvo::testing::writeFile(portsList(), "bank 7001\nghost 7002  shop\n7003\n");
  ScriptedListening runtime;
  runtime.refused = "7003";
  ListenerSet set;
  Status st = build(set, &runtime);
  // The unknown server is skipped, the next pair still read; the port that
  // does not open keeps its entry with port 0 and its failure is reported.
  EXPECT_EQ(nameOf(st), "COMM_FAILURE");
  EXPECT_EQ(minorOf(st), 10048u);
  ASSERT_EQ(set.entries().size(), 2u);
  EXPECT_EQ(set.entries()[0].serverName, "bank");
  EXPECT_EQ(set.entries()[0].port, 7001u);
  EXPECT_EQ(set.entries()[0].descriptor, 5);
  EXPECT_EQ(set.entries()[1].serverName, "shop");
  EXPECT_EQ(set.entries()[1].port, 0u);
  const Strings expected = {" ctor listener, file: " + portsList() + " len 0",
                            " reading bank",
                            " open port bank 7001",
                            " create listener ",
                            " got fd listner as 5 ex: ",
                            " get sock name 5",
                            " call reg listener ",
                            "  reged listener ",
                            " reading ghost",
                            " reading shop",
                            " open port shop 7003",
                            " create listener ",
                            " got fd listner as -1 ex: ",
                            " set to zero ",
                            " len 2"};
  ASSERT_EQ(trace_.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    // The exception's printed form follows "ex: " on its line.
    EXPECT_EQ(trace_[i].substr(0, expected[i].size()), expected[i]) << i;
  }
}

TEST_F(ListenerSetTest, MissingFileIsEmptyAndFailuresAreTheDesignedOnes) {
  ListenerSet set;
  ScriptedListening runtime;
  EXPECT_EQ(build(set, &runtime), nullptr);
  EXPECT_TRUE(set.entries().empty());

  // Without IIOP in the process a port cannot be listened on.
  talvo::testing::writeFile(portsList(), "bank 7001 shop x");
  runtime.iiop = false;
  Status st = build(set, &runtime);
  EXPECT_EQ(nameOf(st), "COMM_FAILURE");
  EXPECT_EQ(minorOf(st), kMinorCannotListen);
  EXPECT_EQ(detailOf(st), "Cant listen on port specified");
  ASSERT_EQ(set.entries().size(), 1u);  // reading stops at "x"
  EXPECT_EQ(set.entries()[0].port, 0u);
  EXPECT_EQ(nameOf(build(set, nullptr)), "COMM_FAILURE");
  // A ports list that is there but may not be read stops the start.
  std::filesystem::permissions(portsList(), std::filesystem::perms::none);
  if (::geteuid() != 0) EXPECT_EQ(minorOf(build(set, &runtime)), 10120u);
}

// --- the failure hook --------------------------------------------------------

class FailureHookTest : public DaemonTest {
 protected:
  void SetUp() override {
    DaemonTest::SetUp();
    start();
    ASSERT_EQ(newShared("bank"), nullptr);
  }
  // A request for the object m1 of `server` that failed with `minor`.
  Status fail(protocol::ProtocolKind protocol, std::uint32_t minor,
              const std::string& server = "bank",
              const std::string& principal = "") {
    peer_.protocol = protocol;
    peer_.user_name = principal;
    protocol::RequestHeader h;
    h.server = server;
    h.marker = "m1";
    h.interface_name = "Account";
    h.operation = "balance";
    request_.emplace(peer_, std::move(h));
    request_->raise(CORBA::INV_OBJREF(minor, CORBA::COMPLETED_NO, server));
    DaemonFilter filter(daemon_.get());
    EXPECT_TRUE(filter.failure(*request_, request_->env));
    const auto* e = request_->env.exception();
    return e ? dynamic_cast<const CORBA::SystemException*>(e)->cloneSystem()
             : nullptr;
  }
  std::optional<protocol::Request> request_;
};

TEST_F(FailureHookTest, OnlyIiopRequestsInTheRangeAreRedirected) {
  // Over the broker protocol the failure is answered as it is.
  Status st = fail(protocol::ProtocolKind::kTalvo, 10105);
  EXPECT_EQ(nameOf(st), "INV_OBJREF");
  EXPECT_EQ(minorOf(st), 10105u);
  EXPECT_FALSE(request_->forward_port);
  EXPECT_EQ(request_->principal, "nobody");
  // Over IIOP but outside 10100..10119: as it is too.
  EXPECT_EQ(minorOf(fail(protocol::ProtocolKind::kIiop, 10120)), 10120u);
  EXPECT_FALSE(request_->forward_port);
  // In the range, the redirection runs: without an activator this daemon
  // cannot say where the server is, and that failure is the answer.
  st = fail(protocol::ProtocolKind::kIiop, 10119, "bank", "alice");
  EXPECT_EQ(nameOf(st), "NO_IMPLEMENT");
  EXPECT_EQ(detailOf(st), "getIIOPDetails");
  EXPECT_FALSE(request_->forward_port);
  EXPECT_EQ(request_->principal, "alice");
}

}  // namespace
}  // namespace talvo::interface
