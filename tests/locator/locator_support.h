// A locator directory for tests: a temporary folder, options whose
// diagnostics are collected as lines (prefix "[talvod: "), and a check for
// the exception a locator call returned.

#ifndef TALVO_TESTS_LOCATOR_LOCATOR_SUPPORT_H_
#define TALVO_TESTS_LOCATOR_LOCATOR_SUPPORT_H_

#include <memory>
#include <string>
#include <vector>

#include "locator/locator.h"
#include "support/status_text.h"
#include "support/temp_dir.h"

namespace talvo::testing {

struct LocatorDir {
  TempDir dir;
  std::shared_ptr<std::vector<std::string>> lines =
      std::make_shared<std::vector<std::string>>();

  locator::LocatorOptions options() const {
    locator::LocatorOptions o;
    o.directory = dir.path();
    o.diagnostics.prefix = [] { return std::string("[talvod: "); };
    o.diagnostics.line = [l = lines](std::string_view s) {
      l->emplace_back(s);
    };
    return o;
  }
  std::string hosts(std::string_view text) const {
    return dir.write("Talvo.hst", text);
  }
  std::string groups(std::string_view text) const {
    return dir.write("Talvo.grp", text);
  }
  bool traced(std::string_view text) const {
    for (const std::string& l : *lines) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_LOCATOR_LOCATOR_SUPPORT_H_
