// The registry text file: parsing, lookups and in-place value updates.
#include "platform/settings_store.h"

#include <cerrno>

#include "platform/environment.h"
#include "platform/files.h"

namespace talvo::platform {

namespace {

constexpr const char* kDefaultStorePath = "/etc/talvo/registry";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

// One line of the file, classified.
struct Line {
  enum Kind { kOther, kSection, kValue } kind = kOther;
  std::string_view section;  // kSection: the key path
  std::string_view name;     // kValue
  std::string_view value;    // kValue
};

Line classify(std::string_view raw) {
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  Line line;
  std::string_view t = trimBlanks(raw);
  if (t.empty() || t.front() == '#' || t.front() == ';') return line;
  if (t.front() == '[') {
    if (t.size() >= 2 && t.back() == ']') {
      line.kind = Line::kSection;
      line.section = t.substr(1, t.size() - 2);
    }
    return line;
  }
  std::size_t eq = raw.find('=');
  if (eq == std::string_view::npos) return line;
  std::string_view name = trimBlanks(raw.substr(0, eq));
  if (name.empty()) return line;
  line.kind = Line::kValue;
  line.name = name;
  line.value = raw.substr(eq + 1);
  return line;
}

// Splits `text` into lines without their line feeds; a final line feed
// does not start another line.
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    if (nl == std::string_view::npos) {
      lines.push_back(text);
      break;
    }
    lines.push_back(text.substr(0, nl));
    text.remove_prefix(nl + 1);
  }
  return lines;
}

bool breaksLine(std::string_view s) {
  return s.find_first_of(std::string_view("\n\r\0", 3)) !=
         std::string_view::npos;
}

}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string settingsStorePath() {
  return getEnv("QV_REGISTRY").value_or(kDefaultStorePath);
}

std::optional<SettingsKey> SettingsKey::open(const std::string& key,
                                             const std::string& path) {
  std::optional<std::string> text = readFile(path);
  if (!text || text->empty()) return std::nullopt;
  SettingsKey result;
  bool found = false;
  bool inside = false;
  for (std::string_view raw : splitLines(*text)) {
    Line line = classify(raw);
    if (line.kind == Line::kSection) {
      inside = equalsIgnoreCase(trimBlanks(line.section), key);
      if (inside && !found) {
        found = true;
        result.name_ = std::string(trimBlanks(line.section));
      }
    } else if (line.kind == Line::kValue && inside) {
      result.values_.emplace_back(line.name, line.value);
    }
  }
  if (!found) return std::nullopt;
  return result;
}

std::optional<SettingsKey> SettingsKey::open(const std::string& key) {
  return open(key, settingsStorePath());
}

std::optional<std::string> SettingsKey::value(std::string_view name) const {
  for (const auto& [n, v] : values_) {
    if (equalsIgnoreCase(n, name)) return v;
  }
  return std::nullopt;
}

std::error_code setSettingsValue(const std::string& key,
                                 const std::string& name,
                                 const std::string& value,
                                 const std::string& path) {
  std::string_view bare_key = trimBlanks(key);
  std::string_view bare_name = trimBlanks(name);
  if (bare_key.empty() || bare_name.empty() || breaksLine(key) ||
      breaksLine(name) || breaksLine(value) ||
      key.find(']') != std::string::npos ||
      name.find('=') != std::string::npos || bare_name.front() == '[' ||
      bare_name.front() == '#' || bare_name.front() == ';') {
    return std::make_error_code(std::errc::invalid_argument);
  }

  std::error_code read_error;
  std::optional<std::string> text = readFile(path, &read_error);
  if (!text) {
    if (read_error != std::errc::no_such_file_or_directory) return read_error;
    text.emplace();
  }
  std::vector<std::string_view> lines = splitLines(*text);
  const std::string new_line = std::string(bare_name) + "=" + value;

  // The value's line in any section of the key replaces in place;
  // otherwise the new line goes after the last value line of the key's
  // first section (or right after its header).
  std::optional<std::size_t> replace_at;
  std::optional<std::size_t> insert_after;
  bool inside = false;
  bool in_first = false;
  for (std::size_t i = 0; i < lines.size() && !replace_at; ++i) {
    Line line = classify(lines[i]);
    if (line.kind == Line::kSection) {
      inside = equalsIgnoreCase(trimBlanks(line.section), bare_key);
      in_first = inside && !insert_after;
      if (in_first) insert_after = i;
    } else if (line.kind == Line::kValue && inside) {
      if (equalsIgnoreCase(line.name, bare_name)) {
        replace_at = i;
      } else if (in_first) {
        insert_after = i;
      }
    }
  }

  std::string out;
  out.reserve(text->size() + new_line.size() + key.size() + 4);
  auto emit = [&out](std::string_view s) {
    out.append(s);
    out.push_back('\n');
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (replace_at && *replace_at == i) {
      emit(new_line);
      continue;
    }
    emit(lines[i]);
    if (!replace_at && insert_after && *insert_after == i) emit(new_line);
  }
  if (!replace_at && !insert_after) {
    emit("[" + std::string(bare_key) + "]");
    emit(new_line);
  }
  return writeFileAtomically(path, out);
}

std::error_code setSettingsValue(const std::string& key,
                                 const std::string& name,
                                 const std::string& value) {
  return setSettingsValue(key, name, value, settingsStorePath());
}

}  // namespace talvo::platform
