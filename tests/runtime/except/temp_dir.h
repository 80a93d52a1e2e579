// A fresh temporary folder for one test, removed with everything in it.
#ifndef TALVO_TESTS_RUNTIME_EXCEPT_TEMP_DIR_H_
#define TALVO_TESTS_RUNTIME_EXCEPT_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace talvo::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "talvo_except_XXXXXX")
            .string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes `content` to the file `name` in the folder; returns its path.
  std::string write(const std::string& name, std::string_view content) const {
    std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_RUNTIME_EXCEPT_TEMP_DIR_H_
