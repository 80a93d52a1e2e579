// The shipped errors file etc/Talvo.err: a text for every minor code the
// daemon and its run time raise, and a group text for every block.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/except/catalogue.h"

namespace talvo {
namespace {

const std::string kShippedPath =
    std::string(TALVO_SOURCE_DIR) + "/etc/Talvo.err";

// Every minor code that a raise site of the system uses, besides the group
// codes (10120 is raised too and prints as its group text alone).
constexpr std::uint32_t kRaisedCodes[] = {
    10022, 10027, 10030, 10031, 10032, 10033, 10034,                // BAD_PARAM
    10061,                                                          // IMP_LIMIT
    10082, 10083, 10084, 10085, 10086, 10087, 10088, 10089, 10090,  // COMM_
    10091, 10097,                                                   // FAILURE
    10101, 10102, 10104, 10105, 10107, 10108,  // INV_OBJREF
    10121, 10122, 10126, 10127, 10130, 10131,  // NO_PERMISSION (and 10120)
    10141, 10142, 10144, 10145, 10146, 10148, 10149, 10150, 10151,  // INTERNAL
    10152, 10153, 10154, 10155, 10156, 10157, 10158,                //
    10161, 10162, 10165, 10168, 10169, 10172,                       // MARSHAL
    10183,  // INITIALIZE
    10202,  // NO_IMPLEMENT
    10241, 10243, 10244, 10245, 10246, 10247, 10248, 10249, 10250,  // BAD_
    10253, 10254, 10256, 10261,                                     // OPERATION
    10461,                              // OBJ_ADAPTER
    10502,                              // FILTER_SUPPRESS
    10521, 10522, 10523, 10524, 10525,  // LOCATOR
    10541, 10542, 10543,                // ASCII_FILE
    10601, 10602, 10604,                // IIOP
    10621,                              // NO_CONFIG_VALUE
    10641,                              // QV_SUSPEND
    16122,                              // SSL_FAILURE
};

// The blocks of the standard system exceptions (UNKNOWN to DATA_CONVERSION)
// and of the broker's own.
std::vector<std::uint32_t> blocks() {
  std::vector<std::uint32_t> result;
  for (std::uint32_t b = 10000; b <= 10480; b += 20) result.push_back(b);
  for (std::uint32_t b :
       {10500u, 10520u, 10540u, 10600u, 10620u, 10640u, 16120u}) {
    result.push_back(b);
  }
  return result;
}

class ShippedCatalogueTest : public ::testing::Test {
 protected:
  ShippedCatalogueTest() : catalogue_(kShippedPath) {
    std::ifstream in(kShippedPath, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    entries_ = ErrorCatalogue::parse(content.str());
  }

  ErrorCatalogue catalogue_;
  ErrorCatalogue::Entries entries_;
};

TEST_F(ShippedCatalogueTest, EveryRaisedCodeHasADetailText) {
  ASSERT_TRUE(catalogue_.load()) << kShippedPath;
  for (std::uint32_t code : kRaisedCodes) {
    auto it = entries_.find(static_cast<std::int32_t>(code));
    ASSERT_NE(it, entries_.end()) << code;
    EXPECT_FALSE(it->second.empty()) << code;
    EXPECT_NE(code % 20, 0u) << code << " is a group code";
  }
}

TEST_F(ShippedCatalogueTest, EveryBlockHasAGroupText) {
  for (std::uint32_t base : blocks()) {
    const std::string text = catalogue_.text(base, 0);
    EXPECT_EQ(text.find("Unknown Error Code"), std::string::npos) << base;
    EXPECT_EQ(text.find('%'), std::string::npos) << base;
  }
}

TEST_F(ShippedCatalogueTest, TextsAreSafeFormats) {
  for (const auto& [code, text] : entries_) {
    SCOPED_TRACE(code);
    EXPECT_LT(text.size(), ErrorCatalogue::kMaxEntryLength);
    // Each raise site gives at most one detail, and "%s" is the only
    // conversion the texts use.
    std::size_t conversions = 0;
    for (std::size_t i = text.find('%'); i != std::string::npos;
         i = text.find('%', i + 2)) {
      ASSERT_LT(i + 1, text.size());
      EXPECT_EQ(text[i + 1], 's');
      ++conversions;
    }
    EXPECT_LE(conversions, 1u);
    if (code % 20 == 0) {
      EXPECT_EQ(conversions, 0u);
    }
  }
  // Nothing but the codes above and the group texts.
  std::size_t expected = std::size(kRaisedCodes) + blocks().size();
  EXPECT_EQ(entries_.size(), expected);
}

}  // namespace
}  // namespace talvo
