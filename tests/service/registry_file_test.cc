// The settings file as the service wrapper reads and writes it.

#include "service/registry_file.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "../daemon/talvod_process.h"

namespace talvo::service {
namespace {

class RegistryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QV_REGISTRY", dir_.file("registry").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("QV_REGISTRY"); }
  testing::TempDir dir_;
};

TEST_F(RegistryFileTest, WriteThenReadKeepsOtherLines) {
  testing::writeFile(dir_.file("registry"),
                     "# c\n[K]\nA=1\n; note\nb=2\n[L]\nA=x\n");
  ASSERT_EQ(writeRegistryValues("k", {{"B", "two=2"}, {"C", ""}}), 0);
  EXPECT_EQ(testing::readFile(dir_.file("registry")),
            "# c\n[K]\nA=1\n; note\nB=two=2\nC=\n[L]\nA=x\n");
  auto k = readRegistryKey("K");
  ASSERT_TRUE(k);
  EXPECT_EQ(k->at("a"), "1");
  EXPECT_EQ(k->at("b"), "two=2");  // after the first "=" as it stands
  EXPECT_EQ(k->at("c"), "");
  EXPECT_EQ(readRegistryKey("L")->at("a"), "x");
}

TEST_F(RegistryFileTest, MissingFileOrKeyCannotBeOpened) {
  EXPECT_FALSE(readRegistryKey("K"));
  ASSERT_EQ(writeRegistryValues("New\\Key", {{"V", "1"}}), 0);
  EXPECT_EQ(testing::readFile(dir_.file("registry")), "[New\\Key]\nV=1\n");
  EXPECT_FALSE(readRegistryKey("New"));
  // An empty section can be opened and has no values.
  testing::writeFile(dir_.file("registry"), "[Empty]\n");
  auto empty = readRegistryKey("EMPTY");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

TEST_F(RegistryFileTest, UnwritableFolderReportsErrno) {
  ::setenv("QV_REGISTRY", dir_.file("no/registry").c_str(), 1);
  EXPECT_EQ(writeRegistryValues("K", {{"V", "1"}}), ENOENT);
}

}  // namespace
}  // namespace talvo::service
