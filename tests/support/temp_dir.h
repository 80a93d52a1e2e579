// A fresh temporary folder for one test, removed with everything in it when
// the object goes away, and small whole-file read and write helpers.
//
// Threading: none; one test thread owns each folder.

#ifndef TALVO_TESTS_SUPPORT_TEMP_DIR_H_
#define TALVO_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>
#include <string_view>
#include <vector>

namespace talvo::testing {

// The whole content of `path` ("" when it cannot be read).
std::string readFile(const std::string& path);
// Replaces the content of `path` with `text`.
void writeFile(const std::string& path, std::string_view text);

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

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TEMP_DIR_H_
