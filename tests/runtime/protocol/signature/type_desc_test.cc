// Type letters and type descriptions: reading, writing, comparing.

#include "runtime/protocol/type_desc.h"

#include <gtest/gtest.h>

namespace talvo::protocol {
namespace {

TypeDesc parsed(std::string_view text) {
  TypeDesc t;
  Status st = parseTypeText(text, t);
  EXPECT_EQ(st, nullptr) << text;
  return t;
}

// --- round trips ------------------------------------------------------------

TEST(TypeText, DescriptionsOfTheRunTimeReadAndWriteBack) {
  for (std::string_view text :
       {"R~QV_ServiceDetail~service_detail_type{ul},service_detail{S{o},0}",
        "R~QV_ServiceInformation~service_options{S{ul},0},service_details{S{"
        "R~QV_ServiceDetail~service_detail_type{ul},service_detail{S{o},0}},"
        "0}",
        "O~QV_Current", "E~OperationMode~NORMAL,ONEWAY", "S{0},0", "us", "ul",
        "S{S{l},5},0"}) {
    EXPECT_EQ(formatType(parsed(text)), text);
  }
}

TEST(TypeText, PartsAreReadIntoTheStructure) {
  const TypeDesc t = parsed(
      "R~QV_ServiceDetail~service_detail_type{ul},service_detail{S{o},0}");
  EXPECT_EQ(t.kind, TypeKind::kStruct);
  EXPECT_EQ(t.name, "QV_ServiceDetail");
  ASSERT_EQ(t.members.size(), 2u);
  EXPECT_EQ(t.members[1].name, "service_detail");
  EXPECT_EQ(t.members[1].type.kind, TypeKind::kSequence);
  EXPECT_EQ(t.members[1].type.element().kind, TypeKind::kOctet);
  const TypeDesc e = parsed("E~OperationMode~NORMAL,ONEWAY");
  EXPECT_EQ(e.enumerators, (std::vector<std::string>{"NORMAL", "ONEWAY"}));
  EXPECT_EQ(parsed("O~QV_Current").name, "QV_Current");
}

TEST(TypeCompare, KindsAndParts) {
  EXPECT_TRUE(sameType(parsed("S{0},0"), parsed("S{0},0")));
  EXPECT_FALSE(sameType(parsed("S{0},0"), parsed("S{l},0")));
  EXPECT_FALSE(sameType(parsed("S{0},0"), parsed("S{0},4")));
  EXPECT_FALSE(sameType(parsed("l"), parsed("ul")));
  EXPECT_TRUE(sameType(parsed("R~A~x{l},y{0}"), parsed("R~B~p{l},q{0}")));
  EXPECT_FALSE(sameType(parsed("R~A~x{l},y{0}"), parsed("R~A~x{l}")));
  EXPECT_FALSE(sameType(parsed("E~M~A,B"), parsed("E~M~A,B,C")));
}

// --- error paths ------------------------------------------------------------

TEST(TypeTextErrors, MalformedTextsAreMarshal10168) {
  for (std::string_view text :
       {"", "q", "S{l}", "S{l},", "S{l},x", "S{l},99999999999", "R~", "R~A~",
        "R~A~x{l", "R~A~{l}", "E~M~", "O~", "l,", "U", "A", "S{0},0}"}) {
    TypeDesc t;
    Status st = parseTypeText(text, t);
    ASSERT_NE(st, nullptr) << text;
    EXPECT_EQ(st->bareName(), "MARSHAL");
    EXPECT_EQ(st->minor(), kMinorBadType);
    EXPECT_EQ(*st->detail(), "bad typecode " + std::string(text));
  }
}

TEST(TypeTextErrors, DeepNestingIsRefusedNotRecursedInto) {
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "S{";
  TypeDesc t;
  EXPECT_NE(parseTypeText(deep, t), nullptr);
  std::string ok = "l";
  for (int i = 0; i < 20; ++i) ok = "S{" + ok + "},0";
  EXPECT_EQ(parseTypeText(ok, t), nullptr);
}

}  // namespace
}  // namespace talvo::protocol
