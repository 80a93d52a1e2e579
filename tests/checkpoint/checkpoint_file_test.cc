// The checkpoint file: its lines, lookups by pattern, edits in place and
// what a killed daemon may leave behind.

#include <sys/stat.h>

#include <random>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "checkpoint/daemon_checkpoint.h"
#include "gtest/gtest.h"
#include "runtime/protocol/match_pattern.h"
#include "support/temp_dir.h"

namespace talvo::checkpoint {
namespace {

using talvo::testing::FakeRuntime;
using talvo::testing::readFile;
using talvo::testing::TempDir;
using talvo::testing::TraceCapture;
using talvo::testing::writeFile;

class CheckpointFileTest : public ::testing::Test {
 protected:
  std::string path() const { return dir_.file("talvod.ckp"); }
  // An update file on the test's file holding `text`.
  DaemonCPFile& open(const std::string& text) {
    writeFile(path(), text);
    file_ = std::make_unique<DaemonCPFile>(path(), DaemonCPFile::Mode::kUpdate);
    EXPECT_EQ(file_->open(), nullptr);
    return *file_;
  }
  void write(const std::string& server, const std::string& marker, int pid,
             const std::string& port = "1592",
             const std::string& principal = "") {
    file_->write_data(server, marker, pid, 4, "tcp", "xdr", port, 2, principal);
  }

  TraceCapture trace_;
  TempDir dir_;
  std::unique_ptr<DaemonCPFile> file_;
};

// --- Round trips -------------------------------------------------------------

TEST_F(CheckpointFileTest, RegistrationDeletionAndReuseEditTheirOwnLine) {
  DaemonCheckPoint cp;
  CORBA::Environment env;
  cp.openForReading(path(), env);  // the first start creates the file
  cp.openForWriting(path(), env);
  ASSERT_EQ(env.exception(), nullptr);
  struct stat st;
  ASSERT_EQ(::stat(path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  CheckpointEntry e;
  EXPECT_FALSE(cp.readingFile()->readEntry(&e));

  FakeRuntime runtime;
  PosixActivator activator(runtime, &cp);
  auto reg = [&](const std::string& marker, int pid) {
    activator.registerActivation("bank", marker, LaunchStatus::automaticLaunch,
                                 "xdr", "tcp", "1592", "", processIdBuffer(pid),
                                 std::nullopt);
  };
  reg("*", 412);
  activator.registerActivation("teller", "t", LaunchStatus::manualLaunch, "xdr",
                               "tcp", "1600", "", processIdBuffer(77), "joe");
  const std::string both =
      "bank:*::a:412:4:tcp:xdr:1592:2:\nteller:t:joe:a:77:4:tcp:xdr:1600:1:\n";
  EXPECT_EQ(readFile(path()), both);
  EXPECT_TRUE(trace_.hasLine(" DaemonCheckPoint::checkPoint "));

  // A change of status writes nothing; a deletion flips one character.
  activator.updateActivation("bank", "*", std::nullopt,
                             LaunchStatus::manualLaunch);
  EXPECT_EQ(readFile(path()), both);
  activator.deleteActivation("bank", "*", std::nullopt);
  std::string deleted = both;
  deleted[8] = 'd';
  EXPECT_EQ(readFile(path()), deleted);

  // The same key takes the deleted line again; a marker the stored key
  // matches as a pattern takes it too, with its own marker.
  reg("*", 413);
  EXPECT_EQ(readFile(path()).substr(0, 32),
            "bank:*::a:413:4:tcp:xdr:1592:2:\n");
  cp.writingFile()->write_data("bank", "obj1", 414, 4, "tcp", "xdr", "1592", 2,
                               "");
  EXPECT_EQ(readFile(path()),
            "bank:obj1::a:414:4:tcp:xdr:1592:2:\n"
            "teller:t:joe:a:77:4:tcp:xdr:1600:1:\n");
}

// The index must settle on the line a scan in file order finds first.
TEST_F(CheckpointFileTest, FirstMatchingLineInFileOrderWins) {
  const std::vector<std::string> servers = {"bank", "b*", "ba?k", "teller",
                                            "[bt]*"};
  const std::vector<std::string> markers = {"*", "obj1", "o[a-c]j1", "x",
                                            "ob?1"};
  const std::vector<std::string> principals = {"", "joe", "*"};
  std::mt19937 random(7);
  auto pick = [&](const std::vector<std::string>& v) {
    return v[random() % v.size()];
  };
  std::string text;
  std::vector<std::pair<std::string, std::size_t>> lines;  // key, offset
  for (int i = 0; i < 60; ++i) {
    std::string line = pick(servers) + ":" + pick(markers) + ":" +
                       pick(principals) + ":a:" + std::to_string(i) +
                       ":4:tcp:xdr:1:2:\n";
    lines.emplace_back(std::string(entryKey(line)), text.size());
    text += line;
  }
  DaemonCPFile& file = open(text);
  for (const char* server : {"bank", "teller", "bxk", "b*"}) {
    for (const std::string& marker : markers) {
      for (const std::string& principal : principals) {
        const std::string key =
            std::string(server) + ":" + marker + ":" + principal + ":";
        std::int64_t expected = -1;
        for (const auto& [pattern, offset] : lines) {
          if (pattern == key || patternMatches(pattern, key)) {
            expected = static_cast<std::int64_t>(offset);
            break;
          }
        }
        EXPECT_EQ(file.find(server, marker, principal), expected) << key;
      }
    }
  }
}

// --- Boundaries --------------------------------------------------------------

TEST_F(CheckpointFileTest, RewrittenLinesOfAnyLengthKeepTheirNeighbours) {
  open(
      "a:m::a:1:4:tcp:xdr:7601:2:\nb:m::a:2:4:tcp:xdr:7602:2:\n"
      "c:m::a:3:4:tcp:xdr:7603:2:\n");
  write("b", "m", 1234567, "76020");     // longer
  write("a", "m", 5, "7");               // shorter
  const std::string longName(600, 'n');  // beyond any fixed line buffer
  write(longName, "m", 9);
  write("c", "*", 3);  // another key: appended
  const std::string expected =
      "a:m::a:5:4:tcp:xdr:7:2:\nb:m::a:1234567:4:tcp:xdr:76020:2:\n"
      "c:m::a:3:4:tcp:xdr:7603:2:\n" +
      longName + ":m::a:9:4:tcp:xdr:1592:2:\nc:*::a:3:4:tcp:xdr:1592:2:\n";
  EXPECT_EQ(readFile(path()), expected);
  file_->set_del("b", "m", "");
  file_->set_del(longName, "m", "");
  // The index follows the lines that moved.
  EXPECT_EQ(file_->find("c", "m", ""),
            static_cast<std::int64_t>(expected.find("c:m:")));

  // A fresh reader sees every entry whole; compaction drops the deleted.
  DaemonCPFile reader(path(), DaemonCPFile::Mode::kRead);
  ASSERT_EQ(reader.open(), nullptr);
  std::vector<CheckpointEntry> entries;
  for (CheckpointEntry e; reader.readEntry(&e);) entries.push_back(e);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[3].server, longName);
  EXPECT_EQ(entries[3].state, 'd');
  EXPECT_EQ(entries[1].pid, 1234567);
  EXPECT_EQ(entries[1].port, "76020");
  EXPECT_TRUE(file_->compact());
  EXPECT_EQ(readFile(path()),
            "a:m::a:5:4:tcp:xdr:7:2:\n"
            "c:m::a:3:4:tcp:xdr:7603:2:\n"
            "c:*::a:3:4:tcp:xdr:1592:2:\n");
  write("c", "*", 4);
  EXPECT_NE(readFile(path()).find("\nc:*::a:4:4:tcp:xdr:1592:2:\n"),
            std::string::npos);
}

TEST_F(CheckpointFileTest, TornAndForeignLinesAreSkippedNeverJoined) {
  const std::string good = "bank:*::a:412:4:tcp:xdr:1592:2:\n";
  const std::string text = "junk\n" + good + "short:k:\n" + "bank:x::a:4";
  writeFile(path(), text);
  DaemonCPFile reader(path(), DaemonCPFile::Mode::kRead);
  ASSERT_EQ(reader.open(), nullptr);
  std::vector<CheckpointEntry> entries;
  for (CheckpointEntry e; reader.readEntry(&e);) entries.push_back(e);
  ASSERT_EQ(entries.size(), 3u);  // the torn last line is not an entry
  EXPECT_EQ(entries[0].state, '\0');
  EXPECT_EQ(entries[1].state, 'a');
  EXPECT_EQ(entries[1].pid, 412);
  EXPECT_TRUE(trace_.hasLineStarting(
      " DaemonCPFile::readEntry skips an incomplete last line: bank:x::a:4"));

  // Opened for update, the fragment is cut off before anything follows it;
  // lines without a key never match, and deleting there writes nothing.
  open(text);
  EXPECT_EQ(readFile(path()), "junk\n" + good + "short:k:\n");
  file_->set_del("short", "k", "");
  write("teller", "x", 5);
  EXPECT_EQ(readFile(path()), "junk\n" + good + "short:k:\n" +
                                  "teller:x::a:5:4:tcp:xdr:1592:2:\n");
  // A field that would break the line is not written.
  EXPECT_FALSE(
      file_->write_data("bank", "a:b", 1, 4, "tcp", "xdr", "1", 2, ""));
  EXPECT_FALSE(
      file_->write_data("bank", "m", 1, 4, "tcp", "xdr", "1", 2, "j\n"));
  EXPECT_EQ(file_->lineCount(), 4u);
}

// --- Error paths -------------------------------------------------------------

TEST_F(CheckpointFileTest, FilesThatCannotBeOpenedOrCreatedAreRefused) {
  DaemonCheckPoint cp;
  CORBA::Environment env;
  cp.openForWriting(dir_.file("missing/talvod.ckp"), env);
  ASSERT_NE(env.systemException(), nullptr);
  EXPECT_EQ(env.systemException()->bareName(), "ASCII_FILE");
  EXPECT_EQ(env.systemException()->minor(), 10543u);
  EXPECT_FALSE(cp.enabled());

  env.clear();
  cp.openForReading(dir_.path(), env);  // a folder
  ASSERT_NE(env.systemException(), nullptr);
  EXPECT_EQ(env.systemException()->minor(), 10541u);
  ::symlink(path().c_str(), dir_.file("link").c_str());
  writeFile(path(), "");
  env.clear();
  cp.openForWriting(dir_.file("link"), env);  // never through a link
  ASSERT_NE(env.systemException(), nullptr);
  EXPECT_EQ(env.systemException()->minor(), 10541u);
}

}  // namespace
}  // namespace talvo::checkpoint
