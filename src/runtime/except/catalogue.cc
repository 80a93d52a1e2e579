#include "runtime/except/catalogue.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

namespace talvo {

namespace {

constexpr std::string_view kNoValue = "[no value available]";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

void cut(std::string& text) {
  if (text.size() > ErrorCatalogue::kMaxTextLength) {
    text.resize(ErrorCatalogue::kMaxTextLength);
  }
}

// Reads the whole file, or nothing when it does not open as a file.
std::optional<std::string> readFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content{std::istreambuf_iterator<char>(in),
                      std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return content;
}

}  // namespace

ErrorCatalogue::ErrorCatalogue(std::optional<std::string> path)
    : source_([path = std::move(path)] { return path; }) {}

ErrorCatalogue::ErrorCatalogue(PathSource source)
    : source_(std::move(source)) {}

bool ErrorCatalogue::load() {
  std::lock_guard lock(mu_);
  return loadLocked();
}

bool ErrorCatalogue::loaded() const {
  std::lock_guard lock(mu_);
  return loaded_;
}

bool ErrorCatalogue::loadLocked() {
  if (loaded_) return true;
  last_path_ = source_ ? source_() : std::nullopt;
  if (last_path_ && last_path_->empty()) last_path_.reset();
  if (!last_path_) return false;
  std::optional<std::string> content = readFile(*last_path_);
  if (!content) return false;
  entries_ = parse(*content);
  loaded_ = true;
  return true;
}

std::string ErrorCatalogue::format(std::int32_t code) {
  std::lock_guard lock(mu_);
  loadLocked();
  return formatLocked(code);
}

std::string ErrorCatalogue::formatLocked(std::int32_t code) const {
  auto it = entries_.find(code);
  if (it == entries_.end() || it->second.empty()) {
    return "Unknown Error Code: " + std::to_string(code);
  }
  return it->second;
}

std::string ErrorCatalogue::text(std::uint32_t base, std::uint32_t offset,
                                 const char* first, const char* second,
                                 const char* third) {
  std::lock_guard lock(mu_);
  if (!loadLocked()) {
    if (offset != 0) return std::string();
    std::string message = last_path_
                              ? "Error - Invalid errors file: " + *last_path_
                              : std::string("Error - No error file specified.");
    cut(message);
    return message;
  }
  // Codes are keyed as signed 32-bit numbers, as the file writes them.
  const auto code = static_cast<std::int32_t>(base + offset);
  auto it = entries_.find(code);
  if (it == entries_.end() || it->second.empty()) return formatLocked(code);
  std::array<std::string_view, 3> args{};
  std::size_t count = 0;
  args[count++] = first ? std::string_view(first) : kNoValue;
  if (second) args[count++] = second;
  if (third) args[count++] = third;
  return formatMessage(it->second, std::span(args.data(), count));
}

ErrorCatalogue::Entries ErrorCatalogue::parse(std::string_view content) {
  Entries entries;
  std::size_t i = 0;
  const std::size_t n = content.size();
  auto skipLine = [&] {
    while (i < n && content[i] != '\n') ++i;
    if (i < n) ++i;
  };

  skipLine();  // the first line is never an entry
  while (i < n) {
    if (!isDigit(content[i])) {
      skipLine();
      continue;
    }
    // Codes wrap modulo 2^32 like the 32-bit minor codes they stand for.
    std::uint32_t code = 0;
    while (i < n && isDigit(content[i])) {
      code = code * 10 + static_cast<std::uint32_t>(content[i] - '0');
      ++i;
    }
    while (i < n &&
           (content[i] == ' ' || content[i] == '\t' || content[i] == ':')) {
      ++i;
    }
    std::string text;
    bool was_cut = false;
    while (i < n) {
      const char c = content[i];
      if (c == '\n') {
        ++i;
        break;
      }
      if (text.size() == kMaxEntryLength) {
        skipLine();
        was_cut = true;
        break;
      }
      if (c == '\\' && i + 1 < n && content[i + 1] == '\n') {
        text += '\n';
        i += 2;
        continue;
      }
      text += c;
      ++i;
    }
    // A file written with CR LF line ends keeps no CR in its texts.
    if (!was_cut && !text.empty() && text.back() == '\r') {
      text.pop_back();
    }
    entries.emplace(static_cast<std::int32_t>(code), std::move(text));
  }
  return entries;
}

std::string formatMessage(std::string_view format,
                          std::span<const std::string_view> args) {
  constexpr std::size_t kMax = ErrorCatalogue::kMaxTextLength;
  std::string out;
  auto append = [&](std::string_view piece) {
    out.append(piece.substr(0, kMax - out.size()));
  };
  auto pad = [&](std::size_t count) {
    out.append(std::min(count, kMax - out.size()), ' ');
  };
  auto readNumber = [&](std::size_t& j) {
    std::size_t value = 0;
    while (j < format.size() && isDigit(format[j])) {
      value = std::min<std::size_t>(value * 10 + (format[j] - '0'), kMax);
      ++j;
    }
    return value;
  };

  std::size_t next_arg = 0;
  std::size_t i = 0;
  while (i < format.size() && out.size() < kMax) {
    if (format[i] != '%') {
      out += format[i++];
      continue;
    }
    std::size_t j = i + 1;
    if (j < format.size() && format[j] == '%') {
      out += '%';
      i = j + 1;
      continue;
    }
    bool left = false;
    while (j < format.size() && format[j] == '-') {
      left = true;
      ++j;
    }
    const std::size_t width = readNumber(j);
    std::optional<std::size_t> precision;
    if (j < format.size() && format[j] == '.') {
      ++j;
      precision = readNumber(j);
    }
    if (j >= format.size() || format[j] != 's') {
      out += format[i++];  // not a string conversion: literal text
      continue;
    }
    std::string_view arg =
        next_arg < args.size() ? args[next_arg] : std::string_view();
    ++next_arg;
    if (precision) arg = arg.substr(0, *precision);
    const std::size_t fill = width > arg.size() ? width - arg.size() : 0;
    if (!left) pad(fill);
    append(arg);
    if (left) pad(fill);
    i = j + 1;
  }
  return out;
}

}  // namespace talvo
