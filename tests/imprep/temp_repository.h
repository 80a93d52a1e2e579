// A repository on a fresh temporary folder, removed after the test.
#ifndef TALVO_TESTS_IMPREP_TEMP_REPOSITORY_H_
#define TALVO_TESTS_IMPREP_TEMP_REPOSITORY_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "imprep/repository.h"
#include "support/temp_dir.h"

namespace talvo::imprep {

using talvo::testing::readFile;
using talvo::testing::writeFile;

class TempRepositoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = dir_.path();
    // The repository root lies one level down, so that tests can check that
    // nothing appears beside it.
    root_ = dir_.file("root");
    std::filesystem::create_directory(root_);
    ASSERT_EQ(ImpRepository::create(root_.c_str(), &rep_), nullptr);
  }

  // Every path below the temporary base, for "nothing changed" checks.
  std::vector<std::string> tree() const { return dir_.tree(); }
  std::string file(const std::string& name) const {
    return readFile(rep_->recordPath(name));
  }
  static std::uint32_t minorOf(const Status& s) { return s ? s->minor() : 0; }
  static std::string nameOf(const Status& s) {
    return s ? s->bareName() : "success";
  }

  talvo::testing::TempDir dir_;
  std::string base_;
  std::string root_;
  std::unique_ptr<ImpRepository> rep_;
};

}  // namespace talvo::imprep

#endif  // TALVO_TESTS_IMPREP_TEMP_REPOSITORY_H_
