// The shipped errors file etc/Talvo.err: a group text for every block, and
// texts that are safe formats.
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

TEST_F(ShippedCatalogueTest, EveryBlockHasAGroupText) {
  ASSERT_TRUE(catalogue_.load()) << kShippedPath;
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
    EXPECT_TRUE(code % 20 != 0 || conversions == 0) << code;
  }
}

}  // namespace
}  // namespace talvo
