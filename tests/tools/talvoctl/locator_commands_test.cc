// talvoctl's locator commands against the built talvod:
// the host and group lists edited and read back through the files, lookup,
// and the locator's refusals on standard error.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "run_talvoctl.h"
#include "support/talvod.h"

namespace talvo::testing {
namespace {

class LocatorCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(daemon_.ready()) << daemon_.log(); }
  TalvoctlResult run(const std::string& args) {
    return runTalvoctl(args,
                       {{"QV_ERRORS", sourceFile("etc/Talvo.err")},
                        {"QV_REGISTRY", daemon_.dir().file("registry")},
                        {"QV_CONFIG_PATH", daemon_.dir().path()},
                        {"QV_DAEMON_PORT", std::to_string(daemon_.port())}},
                       false);
  }
  void ok(const std::string& args) {
    TalvoctlResult r = run(args);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
  }
  // A locator file of the daemon (its folder is QV_LOCATOR_PATH).
  std::string file(const std::string& name) {
    return readFile(daemon_.dir().file(name));
  }

  DaemonUnderTest daemon_;
};

TEST_F(LocatorCommandsTest, EditListAndLookUp) {
  ok("add-hosts bank alpha delta");
  ok("add-hosts --group g1 gamma alpha");
  ok("add-groups bank g1");
  EXPECT_EQ(file("Talvo.hst"), "bank:alpha,delta:g1\n");
  EXPECT_EQ(file("Talvo.grp"), "g1:gamma,alpha:\n");
  TalvoctlResult r = run("list-hosts bank --json");
  EXPECT_EQ(nlohmann::json::parse(r.out),
            nlohmann::json({"alpha", "delta", "gamma"}));
  EXPECT_EQ(run("list-groups bank").out, "g1\n");
  EXPECT_EQ(run("list-hosts -g g1").out, "gamma\nalpha\n");

  ok("del-hosts bank delta");
  ok("del-groups bank g1");
  r = run("lookup bank --json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out), nlohmann::json({"alpha"}));
  EXPECT_EQ(file("Talvo.hst.bak"), "bank:alpha:g1\n");

  // Refusals: printed with the catalogue's text, exit 1.
  r = run("add-hosts bank alpha");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("The host alpha is already listed."), std::string::npos)
      << r.err;
  r = run("list-groups bank");
  EXPECT_NE(r.err.find("10523"), std::string::npos) << r.err;
  r = run("lookup ghost --hops 3");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("answered false"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace talvo::testing
