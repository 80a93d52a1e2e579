// The shipped IDL files against what the programs serve: each operation of
// the IDL, read by a small reader of the IDL subset the files use, is
// written as a signature text and must equal the served one at the same
// place, so that names, order, directions and types cannot drift apart.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "client/daemon_operations.h"
#include "greeter.h"
#include "runtime/protocol/signature.h"
#include "support/talvod.h"
#include "support/temp_dir.h"

namespace talvo::testing {
namespace {

struct Idl {
  std::string interface;
  std::vector<std::string> signatures;
};

// Reads one interface: enums, structs, typedefs and operations, in order.
// A type it does not know is written as "?", which no signature has.
Idl readIdl(const std::string& path) {
  static const std::regex kComment(R"(//[^\n]*)");
  static const std::regex kItem(
      R"(interface\s+(\w+)\s*\{|enum\s+(\w+)\s*\{([^}]*)\}\s*;|)"
      R"(struct\s+(\w+)\s*\{([^}]*)\}\s*;|typedef\s+([^;]*\S)\s+(\w+)\s*;|)"
      R"((\w[\w ]*\w)\s+(\w+)\s*\(([^)]*)\)\s*;)");
  static const std::regex kDecl(
      R"(\s*(?:(inout|in|out)\s+)?(.*\S)\s+_?(\w+)\s*)");
  static const std::map<std::string, std::string> kBasic = {
      {"void", "v"},  {"string", "0"}, {"boolean", "b"},
      {"octet", "o"}, {"long", "l"},   {"unsigned long", "ul"}};
  Idl idl;
  std::map<std::string, std::string> types = kBasic;
  auto typeText = [&](const std::string& t) -> std::string {
    std::smatch m;
    if (std::regex_match(t, m, std::regex(R"(sequence\s*<\s*(\w+)\s*>)"))) {
      return "S{" + types[m[1]] + "},0";
    }
    return types.count(t) ? types[t] : "?";
  };
  // "T a; T b" or "in T a, out T b" as "a{T},b{T}" or "+a{T},-b{T}".
  auto members = [&](const std::string& list, char separator) {
    std::string out;
    std::stringstream in(list);
    std::smatch m;
    for (std::string d; std::getline(in, d, separator);) {
      if (!std::regex_match(d, m, kDecl)) continue;
      std::string dir = m[1] == "in" ? "+" : m[1] == "out" ? "-" : "*";
      out +=
          (m[1].matched ? dir : "") + m[3].str() + "{" + typeText(m[2]) + "},";
    }
    return out;
  };
  std::string text = std::regex_replace(readFile(path), kComment, "");
  for (std::sregex_iterator it(text.begin(), text.end(), kItem), end; it != end;
       ++it) {
    const std::smatch& m = *it;
    std::string scope = idl.interface + "::";
    if (m[1].matched) {
      idl.interface = m[1];
    } else if (m[2].matched) {
      types[m[2]] = "E~" + scope + m[2].str() + "~" +
                    std::regex_replace(m[3].str(), std::regex(R"(\s)"), "");
    } else if (m[4].matched) {
      std::string fields = members(m[5], ';');
      types[m[4]] =
          "R~" + scope + m[4].str() + "~" + fields.substr(0, fields.size() - 1);
    } else if (m[6].matched) {
      types[m[7]] = typeText(m[6]);
    } else {
      std::string params = members(m[10], ',');  // each ends in ","
      idl.signatures.push_back("Ro~" + m[9].str() + "~" +
                               (params.empty() ? "," : params) + ">{" +
                               typeText(m[8]) + "},N{}");
    }
  }
  return idl;
}

TEST(IdlTest, ShippedIdlMatchesTheOperationTable) {
  Idl idl = readIdl(sourceFile("idl/QV_daemon.idl"));
  EXPECT_EQ(idl.interface, client::kDaemonInterfaceName);
  auto table = client::daemonOperations();
  ASSERT_EQ(idl.signatures.size(), table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(idl.signatures[i], table[i].signature) << "operation " << i + 1;
  }
}

// The sample server's interface, for clients of other ORBs.
TEST(IdlTest, ShippedGreeterIdlMatchesTheSampleServer) {
  Idl idl = readIdl(sourceFile("idl/Greeter.idl"));
  EXPECT_EQ(idl.interface, examples::kGreeterInterface);
  auto normal = [](std::string_view text) {
    protocol::Signature sig;
    EXPECT_EQ(protocol::parseSignature(text, sig), nullptr) << text;
    return protocol::formatSignature(sig);
  };
  ASSERT_EQ(idl.signatures.size(), 2u);
  EXPECT_EQ(normal(idl.signatures[0]), normal(examples::kGreetSignature));
  EXPECT_EQ(normal(idl.signatures[1]), normal(examples::kEnvironmentSignature));
}

}  // namespace
}  // namespace talvo::testing
