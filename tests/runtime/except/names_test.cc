#include "runtime/except/names.h"

#include <gtest/gtest.h>

namespace talvo {
namespace {

constexpr bool kScoped = true;
constexpr bool kUnscoped = false;

// Round trips: a name converted to another form and back.

TEST(NameRoundTrips, SystemExceptionThroughEveryForm) {
  const std::string sys = "CORBA::StExcep::COMM_FAILURE";
  EXPECT_EQ(convertName(sys, NameForm::kShortScoped, kScoped),
            "CORBA::COMM_FAILURE");
  EXPECT_EQ(
      convertName("CORBA::COMM_FAILURE", NameForm::kSystemRepoId, kScoped),
      "IDL:omg.org/CORBA/COMM_FAILURE:1.0");
  EXPECT_EQ(convertName("IDL:omg.org/CORBA/COMM_FAILURE:1.0",
                        NameForm::kSystemScoped, kScoped),
            sys);
  EXPECT_EQ(convertName(sys, NameForm::kPlain, kScoped), "COMM_FAILURE");
  EXPECT_EQ(convertName(sys, NameForm::kGeneralRepoId, kScoped),
            "IDL:COMM_FAILURE:1.0");
}

TEST(NameRoundTrips, UserExceptionScopesBecomeSlashesAndBack) {
  const std::string id =
      convertName("Mod::Err", NameForm::kGeneralRepoId, kUnscoped);
  EXPECT_EQ(id, "IDL:Mod/Err:1.0");
  // Outside scoped mode a scoped target is written as the bare core.
  EXPECT_EQ(convertName(id, NameForm::kShortScoped, kUnscoped), "Mod::Err");
  EXPECT_EQ(convertName(id, NameForm::kSystemScoped, kUnscoped), "Mod::Err");
  EXPECT_EQ(convertName("IDL:A/B:2.3", NameForm::kSystemScoped, kUnscoped),
            "A::B");
  // A plain target keeps the slashes: only scoped targets change them.
  EXPECT_EQ(convertName(id, NameForm::kPlain, kUnscoped), "Mod/Err");
}

// Boundaries: classification and versions.

TEST(NameBoundaries, VersionIsTheTextFromTheLastColon) {
  EXPECT_EQ(
      convertName("IDL:omg.org/CORBA/BAD_PARAM:1.0", NameForm::kPlain, kScoped),
      "BAD_PARAM");
  // Without a version the whole rest is the core.
  EXPECT_EQ(convertName("IDL:omg.org/CORBA/BAD_PARAM", NameForm::kShortScoped,
                        kScoped),
            "CORBA::BAD_PARAM");
  EXPECT_EQ(convertName("IDL:a:b:1.0", NameForm::kPlain, kUnscoped), "a:b");
}

TEST(NameBoundaries, SameFormGivesACopy) {
  EXPECT_EQ(convertName("CORBA::X", NameForm::kShortScoped, kScoped),
            "CORBA::X");
  EXPECT_EQ(convertName("IDL:odd:9.9", NameForm::kGeneralRepoId, kUnscoped),
            "IDL:odd:9.9");
  EXPECT_EQ(convertName("Mod::Err", NameForm::kPlain, kUnscoped), "Mod::Err");
}

// Error paths: names whose core cannot be taken out come back unchanged.

TEST(NameErrors, CoreCannotBeTakenOut) {
  // In scoped mode a bare name counts as a system repository id, which it
  // does not match.
  EXPECT_EQ(convertName("BAD_PARAM", NameForm::kShortScoped, kScoped),
            "BAD_PARAM");
  EXPECT_EQ(convertName("IDL:Other/X:1.0", NameForm::kPlain, kScoped),
            "IDL:Other/X:1.0");
  EXPECT_EQ(convertName("CORBA::", NameForm::kSystemRepoId, kScoped),
            "CORBA::");
  EXPECT_EQ(convertName("IDL::1.0", NameForm::kPlain, kUnscoped), "IDL::1.0");
  EXPECT_EQ(convertName("", NameForm::kGeneralRepoId, kUnscoped), "");
}

}  // namespace
}  // namespace talvo
