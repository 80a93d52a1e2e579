// What an administrator meets first on talvod's command line: --help and
// --version answer at once; a wrong option or a start outside the service
// manager says what to do instead.

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace talvo::testing {
namespace {

struct ProgramResult {
  int status;
  std::string out, err;
};

ProgramResult talvod(std::vector<std::string> args) {
  TempDir dir;
  // No NOTIFY_SOCKET: not started by the service manager.
  ChildProcess child(builtProgram("src/daemon/talvod"),
                     {.args = std::move(args),
                      .env = {{"QV_REGISTRY", dir.file("registry")},
                              {"QV_USE_CONFIG_FILE", "no"}},
                      .inherit_env = false,
                      .output_dir = dir.path()});
  int status = child.exitCode();
  return {status, child.output(), child.errors()};
}

TEST(TalvodOptionsTest, HelpAndVersionAnswerWithoutStarting) {
  ProgramResult help = talvod({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* option : {"-f ", "-i ", "-u ", "-? ", "--version"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  ProgramResult version = talvod({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "talvod (Talvo) 2.3c\n");
  EXPECT_EQ(version.err, "");
}

TEST(TalvodOptionsTest, WrongUseSaysWhatToDo) {
  ProgramResult unknown = talvod({"-x", "-i"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_NE(unknown.err.find("unknown option '-x'"), std::string::npos)
      << unknown.err;

  // The design's exit status stays; the reason is now on standard error.
  ProgramResult alone = talvod({});
  EXPECT_EQ(alone.status, 3);
  EXPECT_NE(alone.err.find("not started by the service manager"),
            std::string::npos)
      << alone.err;
  EXPECT_NE(alone.err.find("talvod -f"), std::string::npos);
}

}  // namespace
}  // namespace talvo::testing
