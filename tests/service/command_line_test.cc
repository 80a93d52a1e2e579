// The command line of talvod: "-?", "-i" and "-u" with their exact
// outputs, run against a temporary service directory and settings file;
// --help and --version; and wrong use, which says what to do instead.

#include <gtest/gtest.h>

#include "support/talvod.h"

namespace talvo::testing {
namespace {

constexpr char kHelpTail[] =
    "Other Command line options are: '-i' (install service) -u (uninstall "
    "service).\nDaemon must be configured using the Talvo Configuration "
    "Applet.\n \n";

struct Outcome {
  int code;
  std::string out, err;
};

Outcome run(const TempDir& dir, std::vector<std::string> args,
            std::map<std::string, std::string> env = {}) {
  Talvod talvod(dir, std::move(args), std::move(env));
  int code = talvod.exitCode();
  return {code, talvod.output(), talvod.errors()};
}

// ---- Round trips -------------------------------------------------------

TEST(CommandLineTest, InstallQueryRemove) {
  TempDir dir;
  const std::string unit = dir.file("talvo-daemon.service");
  writeFile(dir.file("registry"), "; kept as it is\n[Other]\nA=b\n");

  // Removing what is not installed only says so.
  EXPECT_EQ(run(dir, {"-u"}).out, "Talvo Daemon is not installed\n");
  Outcome help = run(dir, {"-?"});
  EXPECT_EQ(help.code, 3);
  EXPECT_EQ(
      help.out,
      std::string("The Talvo Daemon service is not installed.\n") + kHelpTail);

  Outcome install = run(dir, {"-i"});
  EXPECT_EQ(install.code, 3);
  EXPECT_EQ(install.out, "Talvo Daemon installed\n");
  std::string text = readFile(unit);
  EXPECT_NE(text.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(text.find("ExecStart=\"" + talvodPath()), std::string::npos);
  EXPECT_NE(text.find("KillSignal=SIGUSR1\n"), std::string::npos);
  // The event source key is added; the rest of the file stays.
  std::string registry = readFile(dir.file("registry"));
  EXPECT_EQ(registry.rfind("; kept as it is\n[Other]\nA=b\n", 0), 0u);
  EXPECT_NE(registry.find("[SYSTEM\\CurrentControlSet\\Services\\EventLog\\"
                          "Application\\Talvo Daemon]\nEventMessageFile="),
            std::string::npos);
  EXPECT_NE(registry.find("\nTypesSupported=7\n"), std::string::npos);

  EXPECT_EQ(run(dir, {"-?"}).out,
            std::string("The Talvo Daemon service is currently installed.\n") +
                kHelpTail);
  EXPECT_EQ(run(dir, {"-i"}).out, "Talvo Daemon is already installed\n");

  Outcome remove = run(dir, {"-u"});
  EXPECT_EQ(remove.code, 3);
  std::string path = std::filesystem::canonical(talvodPath()).string();
  EXPECT_EQ(remove.out, "Talvo Daemon removed. (You must delete the file (" +
                            path.substr(0, 100) + ") yourself.)\n");
  EXPECT_FALSE(std::filesystem::exists(unit));
  // The key of the event source is left in place.
  EXPECT_NE(readFile(dir.file("registry")).find("TypesSupported=7"),
            std::string::npos);
}

// ---- Boundaries --------------------------------------------------------

TEST(CommandLineTest, FirstArgumentOnlyAnyCase) {
  TempDir dir;
  EXPECT_EQ(run(dir, {"-I", "-u"}).out, "Talvo Daemon installed\n");
  EXPECT_EQ(run(dir, {"-U", "-i"}).out.rfind("Talvo Daemon removed.", 0), 0u);
  // Anything else is refused before the service is touched.
  Outcome other = run(dir, {"-x", "-i"});
  EXPECT_EQ(other.code, 2);
  EXPECT_EQ(other.out, "");
  EXPECT_NE(other.err.find("unknown option '-x'"), std::string::npos)
      << other.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("talvo-daemon.service")));
}

TEST(CommandLineTest, HelpAndVersionAnswerWithoutStarting) {
  TempDir dir;
  Outcome help = run(dir, {"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.err, "");
  for (const char* option : {"-f ", "-i ", "-u ", "-? ", "--version"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  Outcome version = run(dir, {"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "talvod (Talvo) 2.3c\n");
  EXPECT_EQ(version.err, "");
}

// ---- Error paths -------------------------------------------------------

// Started from a console (no service manager): exit status 3, with the
// reason and what to do instead on standard error.
TEST(CommandLineTest, StartOutsideTheServiceManagerSaysWhatToDo) {
  TempDir dir;
  Outcome alone = run(dir, {});
  EXPECT_EQ(alone.code, 3);
  EXPECT_EQ(alone.out, "");
  EXPECT_NE(alone.err.find("not started by the service manager"),
            std::string::npos)
      << alone.err;
  EXPECT_NE(alone.err.find("talvod -f"), std::string::npos);
}

TEST(CommandLineTest, InstallFailureGivesErrno) {
  TempDir dir;
  Outcome install =
      run(dir, {"-i"}, {{"QV_SERVICE_DIR", dir.file("no/such/dir")}});
  EXPECT_EQ(install.code, 3);
  EXPECT_EQ(install.out, "Talvo Daemon failed to install. Error 2\n");
}

}  // namespace
}  // namespace talvo::testing
