// The shipped IDL file against the daemon's operation table: each operation
// of the IDL, read by a small parser of the IDL subset the file uses, is
// written as a signature text and must equal the table's entry at the same
// place, so that names, order, directions and types cannot drift apart.

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/daemon_operations.h"
#include "support/talvod.h"
#include "support/temp_dir.h"

namespace talvo::testing {
namespace {

// The IDL's tokens: identifiers, numbers and single punctuation characters;
// comments dropped.
std::vector<std::string> tokens(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = text[i];
    if (std::isspace(c)) {
      ++i;
    } else if (text.compare(i, 2, "//") == 0) {
      i = text.find('\n', i);
    } else if (text.compare(i, 2, "/*") == 0) {
      i = text.find("*/", i) + 2;
    } else if (std::isalnum(c) || c == '_') {
      std::size_t end = i;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) ||
              text[end] == '_')) {
        ++end;
      }
      out.push_back(text.substr(i, end - i));
      i = end;
    } else {
      out.emplace_back(1, static_cast<char>(c));
      ++i;
    }
  }
  return out;
}

// Reads one interface and writes its operations as signature texts.
class IdlReader {
 public:
  explicit IdlReader(std::vector<std::string> tokens) : t_(std::move(tokens)) {}

  std::string interface;
  std::vector<std::string> signatures;

  void read() {
    expect("interface");
    interface = name();
    expect("{");
    while (peek() != "}") member();
    expect("}");
    expect(";");
    if (at_ != t_.size()) fail("text after the interface");
  }

 private:
  void member() {
    if (accept("enum")) {
      std::string n = name(), list;
      expect("{");
      do list += (list.empty() ? "" : ",") + name();
      while (accept(","));
      expect("}");
      types_[n] = "E~" + scoped(n) + "~" + list;
    } else if (accept("struct")) {
      std::string n = name(), fields;
      expect("{");
      while (!accept("}")) {
        std::string type = typeText();
        fields += (fields.empty() ? "" : ",") + name() + "{" + type + "}";
        expect(";");
      }
      types_[n] = "R~" + scoped(n) + "~" + fields;
    } else if (accept("typedef")) {
      std::string type = typeText();
      types_[name()] = type;
    } else {
      operation();
    }
    expect(";");
  }

  void operation() {
    std::string result = typeText();
    std::string sig = "Ro~" + name() + "~";
    expect("(");
    while (!accept(")")) {
      std::string dir = next();
      if (dir != "in" && dir != "out" && dir != "inout") fail("direction");
      std::string type = typeText();
      sig += (dir == "in"    ? "+"
              : dir == "out" ? "-"
                             : "*") +
             name() + "{" + type + "},";
      accept(",");
    }
    signatures.push_back(sig + ">{" + result + "},N{}");
  }

  std::string typeText() {
    std::string word = next();
    if (word == "unsigned") return next() == "long" ? "ul" : fail("unsigned");
    if (word == "sequence") {
      expect("<");
      std::string element = typeText();
      expect(">");
      return "S{" + element + "},0";
    }
    static const std::map<std::string, std::string> kBasic = {{"void", "v"},
                                                              {"string", "0"},
                                                              {"boolean", "b"},
                                                              {"octet", "o"},
                                                              {"long", "l"}};
    if (auto it = kBasic.find(word); it != kBasic.end()) return it->second;
    if (auto it = types_.find(word); it != types_.end()) return it->second;
    return fail("unknown type " + word);
  }

  // An identifier; a leading "_" escapes a keyword and is not part of it.
  std::string name() {
    std::string n = next();
    if (n.empty() ||
        !(std::isalpha(static_cast<unsigned char>(n[0])) || n[0] == '_')) {
      fail("identifier expected, found " + n);
    }
    return n[0] == '_' ? n.substr(1) : n;
  }
  std::string scoped(const std::string& n) const {
    return interface + "::" + n;
  }
  const std::string& peek() const {
    static const std::string kEnd;
    return at_ < t_.size() ? t_[at_] : kEnd;
  }
  std::string next() {
    std::string n = peek();
    if (at_ < t_.size()) ++at_;
    return n;
  }
  bool accept(const std::string& word) {
    if (peek() != word) return false;
    ++at_;
    return true;
  }
  void expect(const std::string& word) {
    if (!accept(word)) fail("expected " + word + ", found " + peek());
  }
  std::string fail(const std::string& why) const {
    throw std::runtime_error(why + " at token " + std::to_string(at_));
  }

  std::vector<std::string> t_;
  std::size_t at_ = 0;
  std::map<std::string, std::string> types_;
};

TEST(IdlTest, ShippedIdlMatchesTheOperationTable) {
  std::string text = readFile(sourceFile("idl/QV_daemon.idl"));
  ASSERT_FALSE(text.empty());
  IdlReader idl(tokens(text));
  ASSERT_NO_THROW(idl.read());
  EXPECT_EQ(idl.interface, client::kDaemonInterfaceName);
  auto table = client::daemonOperations();
  ASSERT_EQ(idl.signatures.size(), table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(idl.signatures[i], table[i].signature) << "operation " << i + 1;
  }
}

}  // namespace
}  // namespace talvo::testing
