#include "runtime/except/print.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace talvo {
namespace {

using testing::TempDir;

class PrintTest : public ::testing::Test {
 protected:
  PrintTest()
      : catalogue_(dir_.write("Talvo.err",
                              "Talvo error messages\n"
                              "10620 Configuration value not set.\n"
                              "10621 The variable %s has no value.\n"
                              "10540 Text file error.\n"
                              "10541 Two\\\nlines: %s\n")) {}

  TempDir dir_;
  ErrorCatalogue catalogue_;
};

// Round trips: exact printed forms.

TEST_F(PrintTest, MinorCodeWithDetailLine) {
  CORBA::NO_CONFIG_VALUE e(10621, CORBA::COMPLETED_NO, "QV_DAEMON_PORT");
  EXPECT_EQ(printedForm(e, catalogue_),
            "10621-- Configuration value not set.\n"
            "  - The variable QV_DAEMON_PORT has no value.\n"
            "  [Completion status : COMPLETED_NO]\n");
}

TEST_F(PrintTest, EnvironmentForms) {
  CORBA::Environment env;
  EXPECT_EQ(printedForm(env, catalogue_), "NO_EXCEPTION      : \n");
  CORBA::UserException("Mod::Err").record(env);
  EXPECT_EQ(printedForm(env, catalogue_), "USER_EXCEPTION    : Mod::Err");
  CORBA::ASCII_FILE(10541, CORBA::COMPLETED_YES, "f").record(env);
  EXPECT_EQ(printedForm(env, catalogue_),
            "SYSTEM_EXCEPTION  : 10541-- Text file error.\n"
            "  - Two\nlines: f\n"
            "  [Completion status : COMPLETED_YES]\n");
}

// Boundaries: multiples of 20, absent details, unknown codes.
TEST_F(PrintTest, GroupCodesAbsentDetailsAndUnknownCodes) {
  // A multiple of twenty has no detail line.
  EXPECT_EQ(printedForm(CORBA::NO_CONFIG_VALUE(10620, CORBA::COMPLETED_MAYBE,
                                               "ignored"),
                        catalogue_),
            "10620-- Configuration value not set.\n"
            "  [Completion status : COMPLETED_MAYBE]\n");
  CORBA::NO_CONFIG_VALUE e(10621);
  EXPECT_EQ(printedForm(e, catalogue_),
            "10621-- Configuration value not set.\n"
            "  - The variable [no value available] has no value.\n"
            "  [Completion status : COMPLETED_NO]\n");
  CORBA::IIOP unknown(10999, CORBA::COMPLETED_NO, "x");
  EXPECT_EQ(printedForm(unknown, catalogue_),
            "10999-- Unknown Error Code: 10980\n"
            "  - Unknown Error Code: 10999\n"
            "  [Completion status : COMPLETED_NO]\n");
  CORBA::UNKNOWN top(4294967295u);
  EXPECT_EQ(printedForm(top, catalogue_),
            "4294967295-- Unknown Error Code: -16\n"
            "  - Unknown Error Code: -1\n"
            "  [Completion status : COMPLETED_NO]\n");
}

// Error paths: no catalogue.

TEST(PrintErrors, UnavailableCatalogue) {
  ErrorCatalogue none(std::nullopt);
  CORBA::NO_CONFIG_VALUE e(10621, CORBA::COMPLETED_NO, "QV_DAEMON_PORT");
  EXPECT_EQ(printedForm(e, none),
            "10621-- Error - No error file specified.\n"
            "  - \n"
            "  [Completion status : COMPLETED_NO]\n");
  ErrorCatalogue missing(std::string("/nonexistent/Talvo.err"));
  CORBA::Environment env;
  e.record(env);
  EXPECT_EQ(printedForm(env, missing),
            "SYSTEM_EXCEPTION  : 10621-- Error - Invalid errors file: "
            "/nonexistent/Talvo.err\n"
            "  - \n"
            "  [Completion status : COMPLETED_NO]\n");
}

}  // namespace
}  // namespace talvo
