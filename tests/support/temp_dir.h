// A fresh temporary folder for one test, removed with everything in it when
// the object goes away, and small whole-file read and write helpers.
//
// Header only, so that it serves tests that do not link the helper
// library. Threading: none; one test thread owns each folder.

#ifndef TALVO_TESTS_SUPPORT_TEMP_DIR_H_
#define TALVO_TESTS_SUPPORT_TEMP_DIR_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::testing {

// The whole content of `path` ("" when it cannot be read), and its
// replacement by `text`.
inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

class TempDir {
 public:
  // A new folder under the system's temporary folder; the test fails (and
  // path() is empty) when none can be made.
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string file(const std::string& name) const;
  // Writes `text` to `name` in the folder; returns its path.
  std::string write(const std::string& name, std::string_view text) const;
  std::string read(const std::string& name) const;
  // Every path below the folder, sorted (for "nothing changed" checks).
  std::vector<std::string> tree() const;

 private:
  std::string path_;
};

inline TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "talvo-test-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary folder";
    return;
  }
  path_ = pattern;
}

inline TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  // A test may have taken rights away below the folder; give them back so
  // that everything can go.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied,
           ignored);
       it != std::filesystem::recursive_directory_iterator();
       it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(),
                                   std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

inline std::string TempDir::file(const std::string& name) const {
  return path_ + "/" + name;
}

inline std::string TempDir::write(const std::string& name,
                                  std::string_view text) const {
  writeFile(file(name), text);
  return file(name);
}

inline std::string TempDir::read(const std::string& name) const {
  return readFile(file(name));
}

inline std::vector<std::string> TempDir::tree() const {
  std::vector<std::string> out;
  std::error_code ignored;
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator();
       it.increment(ignored)) {
    out.push_back(it->path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TEMP_DIR_H_
