#include "runtime/config/config_chain.h"

#include <gtest/gtest.h>

#include "runtime/config/config_report.h"
#include "support/config_support.h"
#include "support/temp_dir.h"

namespace talvo {
namespace {

using testing::CleanConfigEnv;
using testing::MapConfigHandler;
using testing::ScopedEnv;
using testing::TempDir;

std::string registryText(const std::string& body) {
  return "[" + std::string(kConfigurationKey) + "]\n" + body;
}

std::string filePathOf(const ConfigChain& chain) {
  auto* h = dynamic_cast<ConfigFileHandler*>(chain.handler(kConfigFileHandler));
  return h ? h->path() : "<none>";
}

// A temporary registry and configuration file, named by the environment.
class ChainTest : public ::testing::Test {
 protected:
  CleanConfigEnv clean_;
  TempDir dir_;
  ScopedEnv registry_{"QV_REGISTRY", dir_.file("registry")};
};

// --- round trips ---------------------------------------------------------

TEST_F(ChainTest, EnvironmentThenFileThenRegistry) {
  dir_.write("registry", registryText("QV_ERRORS=reg\nQV_IIOP_PORT=reg\n"
                                      "QV_DAEMON_PORT=reg\n"));
  dir_.write("Talvo.cfg", "QV_ERRORS = file\nQV_IIOP_PORT=file\n");
  ScopedEnv path("QV_CONFIG_PATH", dir_.path());
  ScopedEnv env("QV_ERRORS", "env");
  auto chain = buildConfigChain();
  EXPECT_EQ(chain->names(),
            (std::vector<std::string>{kEnvironmentHandler, kConfigFileHandler,
                                      kRegistryHandler}));
  std::string source;
  EXPECT_EQ(chain->lookup("QV_ERRORS", &source), "env");
  EXPECT_EQ(source, kEnvironmentHandler);
  EXPECT_EQ(chain->lookup("QV_IIOP_PORT", &source), "file");
  EXPECT_EQ(source, kConfigFileHandler);
  EXPECT_EQ(chain->lookup("QV_DAEMON_PORT", &source), "reg");
  EXPECT_EQ(source, kRegistryHandler);
  std::string value = "untouched";
  EXPECT_FALSE(chain->GetValue("QV_WELL_KNOWN_PORT", value));
  EXPECT_EQ(value, "untouched");

  auto rows = describeConfiguration(*chain);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(ConfigVar::kCount));
  EXPECT_EQ(rows[0].name, "QV_ERRORS");
  EXPECT_EQ(rows[0].source, "environment");
  EXPECT_EQ(rows[1].source, "default");  // QV_CONNECT_ATTEMPTS "10"
  EXPECT_EQ(rows[1].value, "10");
  EXPECT_EQ(rows[2].source, "unset");  // QV_IMP_REP_PATH
  EXPECT_EQ(rows[2].value, std::nullopt);
}

TEST_F(ChainTest, ConfigPathComesFromRegistryWhenEnvironmentHasNone) {
  std::string cfg = dir_.write("my.cfg", "QV_ERRORS=\"quoted value\"\n");
  dir_.write("registry", registryText("QV_CONFIG_PATH=" + cfg + "\n"));
  auto chain = buildConfigChain();
  EXPECT_EQ(filePathOf(*chain), cfg);
  EXPECT_EQ(chain->lookup("QV_ERRORS"), "quoted value");
}

TEST_F(ChainTest, ValuesAddedAfterBuildAreSeen) {
  auto chain = buildConfigChain();
  EXPECT_FALSE(chain->lookup("QV_DAEMON_PORT"));
  dir_.write("registry", registryText("QV_DAEMON_PORT=7591\n"));
  EXPECT_EQ(chain->lookup("QV_DAEMON_PORT"), "7591");
}

// --- boundaries ----------------------------------------------------------

TEST_F(ChainTest, ConfigPathRule) {
  EXPECT_EQ(configFilePath(std::nullopt), "/etc/talvo/Talvo.cfg");
  EXPECT_EQ(configFilePath(""), "/etc/talvo/Talvo.cfg");
  EXPECT_EQ(configFilePath(dir_.path()), dir_.path() + "/Talvo.cfg");
  std::string file = dir_.write("other.cfg", "");
  EXPECT_EQ(configFilePath(file), file);
  EXPECT_EQ(configFilePath(dir_.file("none")), dir_.file("none/Talvo.cfg"));
  {
    auto chain = buildConfigChain();
    EXPECT_EQ(filePathOf(*chain), "/etc/talvo/Talvo.cfg");
  }
  ScopedEnv env("QV_CONFIG_PATH", file);
  EXPECT_EQ(filePathOf(*buildConfigChain()), file);
}

TEST_F(ChainTest, UseConfigFileOnlyExactNo) {
  dir_.write("Talvo.cfg", "QV_ERRORS=file\n");
  ScopedEnv path("QV_CONFIG_PATH", dir_.path());
  {
    ScopedEnv use("QV_USE_CONFIG_FILE", "NO");
    EXPECT_EQ(buildConfigChain()->lookup("QV_ERRORS"), "file");
  }
  {
    ScopedEnv use("QV_USE_CONFIG_FILE", "no");
    auto chain = buildConfigChain();
    EXPECT_FALSE(chain->handler(kConfigFileHandler)->isActive());
    EXPECT_FALSE(chain->lookup("QV_ERRORS"));
    EXPECT_TRUE(chain->Activate(kConfigFileHandler));
    EXPECT_EQ(chain->lookup("QV_ERRORS"), "file");
  }
  // The file may switch itself off.
  dir_.write("Talvo.cfg", "QV_ERRORS=file\nQV_USE_CONFIG_FILE=no\n");
  EXPECT_FALSE(buildConfigChain()->lookup("QV_ERRORS"));
}

TEST(ConfigChainBoundary, PlaceBeforeAndActivation) {
  std::map<std::string, std::string> a{{"X", "a"}}, b{{"X", "b"}};
  ConfigChain chain;
  chain.add("A", std::make_unique<MapConfigHandler>(&a));
  chain.add("B", std::make_unique<MapConfigHandler>(&b));
  EXPECT_TRUE(chain.PlaceBefore("A", "B"));  // already so: unchanged
  EXPECT_EQ(chain.names(), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(chain.PlaceBefore("B", "A"));
  EXPECT_EQ(chain.lookup("X"), "b");
  EXPECT_TRUE(chain.Deactivate("B"));
  EXPECT_EQ(chain.lookup("X"), "a");
  EXPECT_FALSE(chain.PlaceBefore("B", "none"));
  EXPECT_FALSE(chain.Deactivate("none"));
  EXPECT_EQ(chain.handler("none"), nullptr);
}

TEST_F(ChainTest, ConfigFileSyntax) {
  std::string cfg = dir_.write(
      "c.cfg",
      "# QV_A=comment\n\n  QV_A  =  spaced  \r\nQV_B=\"\"\nQV_C=a#b\n"
      "junk line\n=nameless\nQV_A=second\nQV_D=\"half\nQV_E\t=\t\"x\" \n");
  ConfigFileHandler h(cfg);
  EXPECT_EQ(h.lookup("QV_A"), "spaced");  // first line wins
  EXPECT_EQ(h.lookup("QV_B"), "");
  EXPECT_EQ(h.lookup("QV_C"), "a#b");
  EXPECT_EQ(h.lookup("QV_D"), "\"half");
  EXPECT_EQ(h.lookup("QV_E"), "x");
  EXPECT_EQ(h.lookup("qv_a"), std::nullopt);  // names compare exactly
  EXPECT_EQ(h.lookup(""), std::nullopt);
}

// --- error paths ---------------------------------------------------------

TEST_F(ChainTest, RegistryMissingEmptyOrJunkAnswersNothing) {
  ScopedEnv env("QV_USE_CONFIG_FILE", "no");
  EXPECT_FALSE(buildConfigChain()->lookup("QV_DAEMON_PORT"));  // missing
  dir_.write("registry", "");
  EXPECT_FALSE(buildConfigChain()->lookup("QV_DAEMON_PORT"));
  const char junk[] = "\x01\x02[\n=7\n\0QV_DAEMON_PORT=1\n";
  dir_.write("registry", std::string(junk, sizeof junk - 1));
  EXPECT_FALSE(buildConfigChain()->lookup("QV_DAEMON_PORT"));
  dir_.write("registry", "[Other]\nQV_DAEMON_PORT=1\n");
  EXPECT_FALSE(buildConfigChain()->lookup("QV_DAEMON_PORT"));
}

TEST_F(ChainTest, UnreadableConfigFileAnswersNothing) {
  ScopedEnv path("QV_CONFIG_PATH", dir_.file("missing"));
  auto chain = buildConfigChain();
  EXPECT_EQ(filePathOf(*chain), dir_.file("missing/Talvo.cfg"));
  EXPECT_TRUE(chain->handler(kConfigFileHandler)->isActive());
  EXPECT_FALSE(chain->lookup("QV_ERRORS"));
}

}  // namespace
}  // namespace talvo
