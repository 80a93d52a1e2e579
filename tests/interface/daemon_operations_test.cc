// The operation table: order, names, signatures and access-check marks.

#include "interface/daemon_operations.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace talvo::interface {
namespace {

// --- round trips -------------------------------------------------------------

TEST(DaemonOperations, EverySignatureParsesToItsNameAndBack) {
  ASSERT_EQ(daemonOperations().size(), 47u);
  std::set<std::string_view> names;
  for (const DaemonOperation& entry : daemonOperations()) {
    protocol::Signature sig;
    ASSERT_EQ(protocol::parseSignature(entry.signature, sig), nullptr)
        << entry.signature;
    EXPECT_EQ(sig.operation, entry.name);
    EXPECT_EQ(protocol::formatSignature(sig), entry.signature);
    EXPECT_FALSE(sig.oneway());
    EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
    EXPECT_EQ(findDaemonOperation(entry.name), entry.op);
    EXPECT_EQ(daemonSignature(entry.op).operation, entry.name);
  }
}

TEST(DaemonOperations, TableOrderAndDesignedTexts) {
  auto ops = daemonOperations();
  EXPECT_EQ(ops[0].name, "getImplementationDetails");
  EXPECT_EQ(ops[3].signature,
            "Ro~lookUp~+service{0},-hostList{S{0},0},+hops{o},+tag{0},>{b},"
            "N{}");
  EXPECT_EQ(ops[13].name, "listActiveServers");
  EXPECT_NE(ops[13].signature.find(kServerDetailsType), std::string::npos);
  EXPECT_EQ(ops[21].signature, "Ro~serverExists~+serverName{0},>{b},N{}");
  EXPECT_EQ(ops[23].name, "getServer2");
  EXPECT_EQ(ops[46].name, "registerServerAsLegacy");

  // getServer2's outs in reply order.
  const protocol::Signature& g2 = daemonSignature(DaemonOp::kGetServer2);
  std::string order;
  for (const protocol::Parameter& p : g2.parameters) order += p.name + " ";
  EXPECT_EQ(order,
            "serverName commsProtocol codeProtocol activationPolicy mode_flags "
            "owner invokeList launchList nservers port markers methods "
            "commands ");
}

// --- boundaries --------------------------------------------------------------

TEST(DaemonOperations, AccessCheckMarksTheChangingOperations) {
  std::set<std::string_view> checked;
  for (const DaemonOperation& entry : daemonOperations()) {
    if (entry.access_check) checked.insert(entry.name);
  }
  // killServer (15) and every operation from newSharedServer (16) to
  // removeDirRights (46) except the four readers.
  EXPECT_EQ(checked.size(), 28u);
  for (auto name : {"killServer", "newSharedServer", "deleteServer",
                    "addMarker", "changeOwnerDir", "removeDirRights"}) {
    EXPECT_TRUE(checked.count(name)) << name;
  }
  for (auto name :
       {"listServers", "serverExists", "getServer", "getServer2",
        "registerServerAsLegacy", "lookUp", "getImplementationDetails"}) {
    EXPECT_FALSE(checked.count(name)) << name;
  }
}

// --- error paths -------------------------------------------------------------

TEST(DaemonOperations, NamesAreCaseSensitive) {
  EXPECT_FALSE(findDaemonOperation("serverexists"));
  EXPECT_FALSE(findDaemonOperation("GetServer"));
  EXPECT_FALSE(findDaemonOperation(""));
}

}  // namespace
}  // namespace talvo::interface
