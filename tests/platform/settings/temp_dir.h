// A fresh temporary folder for one test, removed with everything in it when
// the object goes away; and a scoped environment variable.
#ifndef TALVO_TESTS_PLATFORM_SETTINGS_TEMP_DIR_H_
#define TALVO_TESTS_PLATFORM_SETTINGS_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

namespace talvo::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl =
        (std::filesystem::temp_directory_path() / "talvo_test_XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes `contents` to `name` in the folder; returns the full path.
  std::string write(const std::string& name,
                    const std::string& contents) const {
    std::ofstream(file(name), std::ios::binary) << contents;
    return file(name);
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

// Sets (or with nullopt unsets) an environment variable for its lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, std::optional<std::string> value)
      : name_(name) {
    if (const char* old = ::getenv(name.c_str())) old_ = old;
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_PLATFORM_SETTINGS_TEMP_DIR_H_
