#include "service/registry_file.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/service_manager.h"

namespace talvo::service {
namespace {

std::string lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() &&
         std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() &&
         std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

bool isComment(std::string_view line) {
  std::string_view t = trim(line);
  return t.empty() || t.front() == '#' || t.front() == ';';
}

// The key named by a "[...]" line, or nullopt for any other line.
std::optional<std::string> sectionOf(std::string_view line) {
  std::string_view t = trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
  return lower(t.substr(1, t.size() - 2));
}

std::optional<std::vector<std::string>> readLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

std::string registryPath() {
  const char* path = std::getenv("QV_REGISTRY");
  if (path == nullptr || *path == '\0') return "/etc/talvo/registry";
  return path;
}

std::optional<std::map<std::string, std::string>> readRegistryKey(
    const std::string& key) {
  auto lines = readLines(registryPath());
  if (!lines) return std::nullopt;
  const std::string wanted = lower(key);
  bool found = false;
  bool inside = false;
  std::map<std::string, std::string> values;
  for (const std::string& line : *lines) {
    if (auto section = sectionOf(line)) {
      inside = *section == wanted;
      found = found || inside;
      continue;
    }
    if (!inside || isComment(line)) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = lower(trim(std::string_view(line).substr(0, eq)));
    // A value name given twice: the first one counts, as a lookup that
    // stops at the first match would find it.
    values.emplace(std::move(name), line.substr(eq + 1));
  }
  if (!found) return std::nullopt;
  return values;
}

int writeRegistryValues(
    const std::string& key,
    const std::vector<std::pair<std::string, std::string>>& values) {
  const std::string path = registryPath();
  std::vector<std::string> lines =
      readLines(path).value_or(std::vector<std::string>{});
  const std::string wanted = lower(key);
  std::vector<bool> done(values.size(), false);
  std::vector<std::string> out;
  bool inside = false;
  bool found = false;
  auto flushMissing = [&] {
    for (size_t i = 0; i < values.size(); ++i) {
      if (!done[i]) out.push_back(values[i].first + "=" + values[i].second);
      done[i] = true;
    }
  };
  for (const std::string& line : lines) {
    if (auto section = sectionOf(line)) {
      if (inside) flushMissing();
      inside = *section == wanted;
      found = found || inside;
      out.push_back(line);
      continue;
    }
    if (inside && !isComment(line)) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) {
        std::string name = lower(trim(std::string_view(line).substr(0, eq)));
        bool replaced = false;
        for (size_t i = 0; i < values.size(); ++i) {
          if (!done[i] && lower(values[i].first) == name) {
            out.push_back(values[i].first + "=" + values[i].second);
            done[i] = true;
            replaced = true;
            break;
          }
        }
        if (replaced) continue;
      }
    }
    out.push_back(line);
  }
  if (inside) flushMissing();
  if (!found) {
    out.push_back("[" + key + "]");
    flushMissing();
  }
  std::ostringstream text;
  for (const std::string& line : out) text << line << '\n';
  return platform::replaceFile(path, text.str(), 0644);
}

}  // namespace talvo::service
