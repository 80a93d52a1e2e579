// Runs the built talvoctl with a clean environment, a temporary registry
// file and a temporary configuration file.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "run_talvoctl.h"
#include "support/temp_dir.h"

namespace {

using talvo::testing::TempDir;

using Result = talvo::testing::TalvoctlResult;

Result run(const std::string& args,
           const std::map<std::string, std::string>& env) {
  return talvo::testing::runTalvoctl(args, env);
}

// The row of `name` in the config table, its blank-separated fields joined
// by single blanks ("QV_ERRORS /x environment").
std::string row(const std::string& table, const std::string& name) {
  std::istringstream in(table);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string first, word, joined;
    words >> first;
    if (first != name) continue;
    joined = first;
    while (words >> word) joined += " " + word;
    return joined;
  }
  return "<no row " + name + ">";
}

class TalvoctlTest : public ::testing::Test {
 protected:
  TalvoctlTest() {
    dir_.write("registry",
               "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Configuration]\n"
               "QV_DAEMON_PORT=7591\nQV_ERRORS=registry\n"
               "QV_SERVER_MARKER=QV_nullMarker\n");
    dir_.write("Talvo.cfg", "QV_ERRORS = \"file\"\nQV_IIOP_PORT=9000\n");
    env_ = {{"QV_REGISTRY", dir_.file("registry")},
            {"QV_CONFIG_PATH", dir_.path()}};
  }
  TempDir dir_;
  std::map<std::string, std::string> env_;
};

// --- round trips and boundaries -------------------------------------------

TEST_F(TalvoctlTest, ConfigShowsValuesAndSources) {
  env_["QV_LOCAL_DOMAIN"] = "talvo.test";
  Result r = run("config", env_);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(row(r.out, "QV_DAEMON_PORT"), "QV_DAEMON_PORT 7591 registry");
  EXPECT_EQ(row(r.out, "QV_ERRORS"), "QV_ERRORS file configuration file");
  EXPECT_EQ(row(r.out, "QV_IIOP_PORT"), "QV_IIOP_PORT 9000 configuration file");
  EXPECT_EQ(row(r.out, "QV_LOCAL_DOMAIN"),
            "QV_LOCAL_DOMAIN talvo.test environment");
  EXPECT_EQ(row(r.out, "QV_SERVER_MARKER"), "QV_SERVER_MARKER \"\" registry");
  EXPECT_EQ(row(r.out, "QV_DEFAULT_CODE"), "QV_DEFAULT_CODE xdr default");
  EXPECT_EQ(row(r.out, "QV_IMP_REP_PATH"), "QV_IMP_REP_PATH - unset");
  EXPECT_NE(r.out.find("Configuration file: " + dir_.path() + "/Talvo.cfg\n"),
            std::string::npos)
      << r.out;
}

TEST_F(TalvoctlTest, EnvironmentWinsAndFileCanBeSwitchedOff) {
  env_["QV_ERRORS"] = "env";
  EXPECT_EQ(row(run("config", env_).out, "QV_ERRORS"),
            "QV_ERRORS env environment");
  env_.erase("QV_ERRORS");
  env_["QV_USE_CONFIG_FILE"] = "no";
  Result r = run("config", env_);
  EXPECT_EQ(row(r.out, "QV_ERRORS"), "QV_ERRORS registry registry");
  EXPECT_NE(r.out.find("(switched off by QV_USE_CONFIG_FILE)"),
            std::string::npos);
}

TEST_F(TalvoctlTest, ExplainPrintsThePrintedForm) {
  env_["QV_ERRORS"] = dir_.write("errors",
                                 "catalogue\n10620\tNo configuration value\n"
                                 "10621\tThe variable %s has no value.\n");
  Result r = run("explain 10621", env_);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("10621-- ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("  [Completion status : COMPLETED_NO]\n"),
            std::string::npos)
      << r.out;
}

// --- boundaries ----------------------------------------------------------

// Codes of the whole range parse; one the catalogue lacks is a failure.
TEST_F(TalvoctlTest, ExplainAcceptsTheWholeMinorRange) {
  env_["QV_ERRORS"] = dir_.write("errors", "catalogue\n10620\tNo value\n");
  EXPECT_EQ(run("explain 0", env_).status, 1);
  Result r = run("explain 4294967295", env_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("4294967295 is not a minor code"), std::string::npos)
      << r.out;
}

TEST_F(TalvoctlTest, MissingRegistryAndConfigFile) {
  std::map<std::string, std::string> env{{"QV_REGISTRY", dir_.file("none")},
                                         {"QV_CONFIG_PATH", dir_.file("none")}};
  Result r = run("config", env);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(row(r.out, "QV_DAEMON_PORT"), "QV_DAEMON_PORT - unset");
  EXPECT_NE(r.out.find("(not readable)"), std::string::npos);
}

// --- error paths ---------------------------------------------------------

TEST_F(TalvoctlTest, BadCommandLinesExitWithUsage) {
  for (const char* args :
       {"", "bogus", "explain", "explain x", "explain -1", "explain 4294967296",
        "explain 1 2", "config x", "--nope", "show", "create-shared",
        "legacy maybe", "grant write u s", "grant dir u s",
        "lookup svc --hops 300", "register s notapid",
        "create-shared s --flags -1", "add-marker s m c --shared --unshared",
        "list --port 0"}) {
    Result r = run(args, env_);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
    EXPECT_NE(r.out.find("help"), std::string::npos) << args;
  }
}

}  // namespace
