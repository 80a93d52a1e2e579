// Protected mode: who may change the repository, from where, and what the
// refusals say, over name-service answers chosen by the test (the real
// lookups on a loopback connection are exercised end to end by the daemon's
// tests).

#include "interface/access_check.h"

#include <gtest/gtest.h>

#include "daemon_fixture.h"

namespace talvo::interface {
namespace {

constexpr std::uint32_t kRemote = 0x0A000005;  // 10.0.0.5

class ProtectedModeTest : public DaemonTest {
 protected:
  void SetUp() override {
    DaemonTest::SetUp();
    start(/*protected_mode=*/true);
    peer_.user_name = "talvoadm";
  }
  Status create(const std::string& name) {
    return client().newSharedServer(name, Strings{"m"}, Strings{"cmd"}, 0u);
  }
  std::string host() const { return config_->hostName(); }
  static std::string shown(std::uint32_t address) {
    return std::to_string(networkOrderValue(address));
  }
};

// --- round trips -------------------------------------------------------------

TEST_F(ProtectedModeTest, ReadersServeAnyPrincipal) {
  lookups_->peer = 0x7F000001;
  ASSERT_EQ(create("bank"), nullptr);
  peer_.user_name = "eve";
  lookups_->peer.reset();
  EXPECT_TRUE(exists("bank"));
  show("bank");
  ServerDescription s;
  EXPECT_EQ(client().getServer("bank", &s), nullptr);
  Strings names;
  EXPECT_EQ(client().listServers("", &names), nullptr);
  EXPECT_EQ(client().registerServerAsLegacy(false), nullptr);
  ImplementationDetails d;
  EXPECT_EQ(nameOf(client().getImplementationDetails("bank", "", "", &d)),
            "NO_IMPLEMENT");
  EXPECT_EQ(err_.str(), "");
}

TEST_F(ProtectedModeTest, RemotePeerConfirmedByNameIsAccepted) {
  lookups_->peer = kRemote;
  lookups_->name_of_peer = "x." + host() + ".example";
  lookups_->forward = {0x0A000009, kRemote};
  trace_.clear();
  EXPECT_EQ(create("bank"), nullptr);
  const std::vector<std::string> expected = {
      " checking fd: -1",
      " host is x." + host() + ".example",
      " looked up host name addr: " + shown(0x0A000009),
      " getpeer addr: " + shown(kRemote),
      " looked up host name addr: " + shown(kRemote),
      " getpeer addr: " + shown(kRemote)};
  EXPECT_EQ(std::vector<std::string>(trace_.begin(), trace_.begin() + 6),
            expected);
}

// --- error paths -------------------------------------------------------------

TEST_F(ProtectedModeTest, OtherPrincipalIsRefusedWith10130) {
  lookups_->peer = 0x7F000001;
  peer_.user_name = "eve";
  Status r = create("bank");
  EXPECT_EQ(nameOf(r), "NO_PERMISSION");
  EXPECT_EQ(minorOf(r), kMinorNotDaemonUser);
  EXPECT_EQ(detailOf(r), "talvoadm");
  EXPECT_EQ(err_.str(), "[talvod: Permission denied to eve ]\n");
  EXPECT_FALSE(exists("bank"));

  // No principal at all is "nobody", refused the same way.
  peer_.user_name.clear();
  EXPECT_EQ(minorOf(create("bank")), kMinorNotDaemonUser);
  EXPECT_NE(err_.str().find("[talvod: Permission denied to nobody ]\n"),
            std::string::npos);
  // killServer is checked before it reports that it is not built.
  EXPECT_EQ(minorOf(client().killServer("bank", "")), kMinorNotDaemonUser);
}

TEST_F(ProtectedModeTest, HostRefusalsWith10131) {
  // (a) no peer address.
  Status a = create("bank");
  EXPECT_EQ(minorOf(a), kMinorNotLocalHost);
  EXPECT_EQ(detailOf(a), host());
  EXPECT_EQ(err_.str(), "[talvod: (a) Permission denied to talvoadm ]\n");

  // (b) reverse lookup fails.
  err_.str("");
  lookups_->peer = kRemote;
  Status b = create("bank");
  EXPECT_EQ(minorOf(b), kMinorNotLocalHost);
  EXPECT_EQ(err_.str(), "[talvod: (b) Permission denied to talvoadm from: " +
                            shown(kRemote) + " ]\n");

  // (c) the name's addresses do not include the peer ...
  err_.str("");
  lookups_->name_of_peer = host();
  lookups_->forward = {0x0A000009};
  EXPECT_EQ(minorOf(create("bank")), kMinorNotLocalHost);
  EXPECT_EQ(err_.str(), "[talvod: (c) Permission denied to talvoadm from: " +
                            shown(kRemote) + " ]\n");
  // ... or the forward lookup finds nothing ...
  lookups_->forward.clear();
  EXPECT_EQ(minorOf(create("bank")), kMinorNotLocalHost);
  // ... or the confirmed name is another host's.
  lookups_->name_of_peer = "elsewhere.example";
  lookups_->forward = {kRemote};
  EXPECT_EQ(minorOf(create("bank")), kMinorNotLocalHost);
  EXPECT_FALSE(exists("bank"));
}

// --- boundaries --------------------------------------------------------------

TEST(AccessCheck, NetworkOrderValueIsTheAddressAsHeldInMemory) {
  // 127.0.0.1 held as the bytes 7f 00 00 01 reads as 16777343 on a
  // little-endian machine.
  if constexpr (std::endian::native == std::endian::little) {
    EXPECT_EQ(networkOrderValue(0x7F000001), 16777343u);
  }
}

}  // namespace
}  // namespace talvo::interface

namespace talvo::interface {
namespace {

// Who a request is from: the kernel's word for a peer on this host (root
// keeps its claim), the claim for one elsewhere, never a control character.
TEST(SettledPrincipal, KernelIdentityOverClaims) {
  platform::PeerIdentity local;
  local.peer = {0x7f000001, 4000};
  local.descriptor = 7;
  local.on_this_host = true;
  local.local_uid = 1234;
  local.local_user = "alice";
  EXPECT_EQ(settledPrincipal(local, "root"), "alice");
  local.local_uid = 0;
  EXPECT_EQ(settledPrincipal(local, "bob"), "bob");
  EXPECT_EQ(settledPrincipal(local, ""), "nobody");
  local.local_uid.reset();  // a peer whose socket nobody holds any more
  EXPECT_EQ(settledPrincipal(local, "root"), "nobody");
  platform::PeerIdentity remote;
  remote.peer = {0x0A000005, 4000};
  remote.descriptor = 7;
  EXPECT_EQ(settledPrincipal(remote, "eve\n[talvod: forged"),
            "eve\\x0A[talvod: forged");
  EXPECT_EQ(settledPrincipal(platform::PeerIdentity{}, "inside"), "inside");
}

}  // namespace
}  // namespace talvo::interface
