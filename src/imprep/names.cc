#include "imprep/names.h"

namespace talvo::imprep {

bool hasControlCharacter(std::string_view text) {
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) return true;
  }
  return false;
}

bool isSafeName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') {
    return false;
  }
  if (hasControlCharacter(name) || name.find(':') != std::string_view::npos) {
    return false;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find_first_of("\\/", start);
    std::string_view part =
        name.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty() || part == "." || part == ".." ||
        part.size() > kMaxNameComponent) {
      return false;
    }
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool isNewServerName(std::string_view name) {
  return isSafeName(name) &&
         name.find_first_of("*?[") == std::string_view::npos &&
         !name.ends_with(" -dir-");
}

std::string toRelativePath(std::string_view name) {
  std::string path(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

bool isSafeKey(std::string_view key) {
  return !key.empty() && key.find_first_of(": ") == std::string_view::npos &&
         !hasControlCharacter(key);
}

bool isSafeCommand(std::string_view command) {
  return !hasControlCharacter(command);
}

bool isSafeUser(std::string_view user) {
  return !user.empty() && user.find_first_of("; ") == std::string_view::npos &&
         !hasControlCharacter(user);
}

std::string framed(std::string_view user) {
  std::string text;
  text.reserve(user.size() + 2);
  text += ';';
  text += user;
  text += ';';
  return text;
}

std::string editFailure(std::string_view name) {
  std::string text = "(The server name is '";
  text += name;
  text +=
      "'. This file may have been corrupted externally. Try removing it and "
      "re-entering it in the implementation repository)";
  return text;
}

}  // namespace talvo::imprep
