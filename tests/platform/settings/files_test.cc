#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace talvo::platform {
namespace {

using talvo::testing::TempDir;

TEST(FilesRoundTrip, WriteAtomicallyThenReadKeepingPermissionBits) {
  TempDir dir;
  std::string path = dir.file("f");
  ASSERT_FALSE(writeFileAtomically(path, std::string("a\0b", 3)));
  EXPECT_EQ(readFile(path), std::string("a\0b", 3));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_FALSE(writeFileAtomically(path, ""));
  EXPECT_EQ(readFile(path), "");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // Only the file itself is left: no temporary files.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(FilesError, ReadFailuresReportTheReason) {
  TempDir dir;
  std::error_code ec;
  EXPECT_FALSE(readFile(dir.file("none"), &ec));
  EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
  EXPECT_FALSE(readFile(dir.path(), &ec));
  EXPECT_TRUE(ec);
}

TEST(FilesError, WriteIntoMissingDirectoryLeavesNothing) {
  TempDir dir;
  EXPECT_EQ(writeFileAtomically(dir.file("no/f"), "x"),
            std::errc::no_such_file_or_directory);
  // A target that is a directory cannot be replaced; the temporary goes.
  std::filesystem::create_directory(dir.file("d"));
  EXPECT_TRUE(writeFileAtomically(dir.file("d"), "x"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

// What a killed writer left goes; what a running one is writing, and other
// files' temporaries, stay.
TEST(FilesBoundary, StaleTemporariesOfAFile) {
  TempDir dir;
  const std::string mine = ".tmp." + std::to_string(::getpid()) + ".1";
  for (const std::string& name : {std::string("f.tmp.999999999.0"), "f" + mine,
                                  std::string("g.tmp.999999999.0")}) {
    dir.write(name, "x");
  }
  removeStaleTemporaries(dir.file("f"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("f.tmp.999999999.0")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("f" + mine)));
  EXPECT_TRUE(std::filesystem::exists(dir.file("g.tmp.999999999.0")));
}

}  // namespace
}  // namespace talvo::platform
