// A repository on a fresh temporary directory, removed after the test.
#ifndef TALVO_TESTS_IMPREP_TEMP_REPOSITORY_H_
#define TALVO_TESTS_IMPREP_TEMP_REPOSITORY_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "imprep/repository.h"

namespace talvo::imprep {

class TempRepositoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "imprepXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    // The repository root lies one level down, so that tests can check that
    // nothing appears beside it.
    root_ = base_ + "/root";
    std::filesystem::create_directory(root_);
    ASSERT_EQ(ImpRepository::create(root_.c_str(), &rep_), nullptr);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::all, ignored);
    std::filesystem::remove_all(base_, ignored);
  }

  static std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  // Every path below the temporary base, for "nothing changed" checks.
  std::vector<std::string> tree() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(base_)) {
      out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string file(const std::string& name) const {
    return readText(rep_->recordPath(name));
  }
  static std::uint32_t minorOf(const Status& s) { return s ? s->minor() : 0; }
  static std::string nameOf(const Status& s) {
    return s ? s->bareName() : "success";
  }

  std::string base_;
  std::string root_;
  std::unique_ptr<ImpRepository> rep_;
};

}  // namespace talvo::imprep

#endif  // TALVO_TESTS_IMPREP_TEMP_REPOSITORY_H_
