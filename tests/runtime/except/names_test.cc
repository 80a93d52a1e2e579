#include "runtime/except/names.h"

#include <gtest/gtest.h>

namespace talvo {
namespace {

struct Case {
  const char* name;
  NameForm form;
  bool scoped;
  const char* expected;
};

// Each form reached from another and back; names whose core cannot be taken
// out come back unchanged.
TEST(NameConversion, FormsRoundTripAndUnmatchedNamesStay) {
  constexpr bool kScoped = true, kUnscoped = false;
  const Case cases[] = {
      // System exceptions through every form.
      {"CORBA::StExcep::COMM_FAILURE", NameForm::kShortScoped, kScoped,
       "CORBA::COMM_FAILURE"},
      {"CORBA::COMM_FAILURE", NameForm::kSystemRepoId, kScoped,
       "IDL:omg.org/CORBA/COMM_FAILURE:1.0"},
      {"IDL:omg.org/CORBA/COMM_FAILURE:1.0", NameForm::kSystemScoped, kScoped,
       "CORBA::StExcep::COMM_FAILURE"},
      {"CORBA::StExcep::COMM_FAILURE", NameForm::kPlain, kScoped,
       "COMM_FAILURE"},
      {"CORBA::StExcep::COMM_FAILURE", NameForm::kGeneralRepoId, kScoped,
       "IDL:COMM_FAILURE:1.0"},
      // User exceptions: scopes become slashes and back; outside scoped mode
      // a scoped target is the bare core; a plain target keeps slashes.
      {"Mod::Err", NameForm::kGeneralRepoId, kUnscoped, "IDL:Mod/Err:1.0"},
      {"IDL:Mod/Err:1.0", NameForm::kShortScoped, kUnscoped, "Mod::Err"},
      {"IDL:Mod/Err:1.0", NameForm::kSystemScoped, kUnscoped, "Mod::Err"},
      {"IDL:A/B:2.3", NameForm::kSystemScoped, kUnscoped, "A::B"},
      {"IDL:Mod/Err:1.0", NameForm::kPlain, kUnscoped, "Mod/Err"},
      // The version is the text from the last colon; without one the whole
      // rest is the core.
      {"IDL:omg.org/CORBA/BAD_PARAM:1.0", NameForm::kPlain, kScoped,
       "BAD_PARAM"},
      {"IDL:omg.org/CORBA/BAD_PARAM", NameForm::kShortScoped, kScoped,
       "CORBA::BAD_PARAM"},
      {"IDL:a:b:1.0", NameForm::kPlain, kUnscoped, "a:b"},
      // The same form gives a copy.
      {"CORBA::X", NameForm::kShortScoped, kScoped, "CORBA::X"},
      {"IDL:odd:9.9", NameForm::kGeneralRepoId, kUnscoped, "IDL:odd:9.9"},
      {"Mod::Err", NameForm::kPlain, kUnscoped, "Mod::Err"},
      // In scoped mode a bare name counts as a system repository id, which
      // it does not match.
      {"BAD_PARAM", NameForm::kShortScoped, kScoped, "BAD_PARAM"},
      {"IDL:Other/X:1.0", NameForm::kPlain, kScoped, "IDL:Other/X:1.0"},
      {"CORBA::", NameForm::kSystemRepoId, kScoped, "CORBA::"},
      {"IDL::1.0", NameForm::kPlain, kUnscoped, "IDL::1.0"},
      {"", NameForm::kGeneralRepoId, kUnscoped, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convertName(c.name, c.form, c.scoped), c.expected)
        << c.name << " form " << static_cast<int>(c.form);
  }
}

}  // namespace
}  // namespace talvo
