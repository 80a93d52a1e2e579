// A Status as one comparable text: "success", or the exception's bare name,
// minor code and detail ("BAD_OPERATION 10244 bank"). Header only; a test
// using it links talvo_except.
//
// Threading: none.

#ifndef TALVO_TESTS_SUPPORT_STATUS_TEXT_H_
#define TALVO_TESTS_SUPPORT_STATUS_TEXT_H_

#include <string>

#include "runtime/except/exception.h"

namespace talvo::testing {

inline std::string what(const Status& s) {
  if (!s) return "success";
  return s->bareName() + " " + std::to_string(s->minor()) + " " +
         s->detail().value_or("");
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_STATUS_TEXT_H_
