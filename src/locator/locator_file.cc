#include "locator/locator_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <tuple>
#include <unordered_set>

#include "platform/files.h"

namespace talvo::locator {
namespace {

// Files larger than this are not read (a host file of 100,000 services is
// a few megabytes).
constexpr std::size_t kFileLimit = 64u << 20;

bool alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}
bool nameChar(char c) {
  return alnum(c) || c == '_' || c == '/' || c == '.' || c == '-';
}
bool listChar(char c) {
  return alnum(c) || c == '_' || c == '-' || c == '.' || c == ',' || c == '+' ||
         c == '=';
}

// A character as the diagnostic shows it: itself when printable.
std::string shown(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7f) return std::string(1, c);
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", u);
  return buf;
}

struct ListSpan {
  Names items;
  std::size_t end = 0;    // where the span stopped
  bool accepted = false;  // non-empty and ended at ":" or the line's end
};

ListSpan readList(std::string_view line, std::size_t start) {
  ListSpan s;
  std::size_t i = start;
  while (i < line.size() && listChar(line[i])) ++i;
  s.end = i;
  if (i == start || (i < line.size() && line[i] != ':')) return s;
  s.accepted = true;
  std::string_view span = line.substr(start, i - start);
  for (std::size_t pos = 0;;) {
    std::size_t comma = span.find(',', pos);
    std::string_view item = span.substr(pos, comma - pos);
    if (item.empty()) break;  // an empty item ends the list
    s.items.emplace_back(item);
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return s;
}

void join(std::string& out, const Names& items) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += items[i];
  }
}

std::string lineOf(std::string_view name, const Names& first,
                   const Names& second) {
  std::string out(name);
  out += ':';
  join(out, first);
  out += ':';
  join(out, second);
  return out;
}

}  // namespace

void Diagnostics::write(std::string_view text,
                        std::initializer_list<std::string_view> more) const {
  if (!prefix || !line) return;
  std::optional<std::string> p = prefix();
  if (!p) return;
  line(*p + std::string(text));
  for (std::string_view m : more) line(m);
}

bool validName(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), nameChar);
}

bool validItem(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c != ',' && listChar(c);
  });
}

int locatorBucket(std::string_view name) {
  std::uint32_t h = 1;
  for (char c : name) {
    h = 2 * h + static_cast<std::uint32_t>(
                    static_cast<std::int32_t>(static_cast<signed char>(c)));
  }
  int b = static_cast<int>(h % kLocatorBuckets);
  return b == 0 ? 1 : b;
}

ParsedText parseLocatorText(std::string_view text, FileKind kind,
                            std::string_view path, const Diagnostics& diag) {
  ParsedText out;
  std::unordered_set<std::string_view> seen;
  const std::string heading =
      "Formatting error in locator file " + std::string(path) + " ]";
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    ++number;
    std::size_t lf = text.find('\n', start);
    const bool has_lf = lf != std::string_view::npos;
    std::string_view line =
        text.substr(start, has_lf ? lf - start : std::string_view::npos);
    start = has_lf ? lf + 1 : text.size();
    if (line.empty()) continue;  // a line holding only its line feed

    auto refuse = [&](std::string detail) {
      if (!detail.empty()) diag.write(heading, {detail});
      out.refused.emplace_back(line);
    };
    // The line feed counts whether or not the file's last line has one:
    // an entry read must still fit once an edit writes it back with one.
    if (line.size() + 1 > kLineLimit) {
      refuse("line too long, line " + std::to_string(number) + " ]");
      continue;
    }
    std::size_t p = 0;
    while (p < line.size() && nameChar(line[p])) ++p;
    if (p < line.size() && line[p] != ':') {
      refuse("illegal character (" + shown(line[p]) + "), line " +
             std::to_string(number) + " ]");
      continue;
    }
    std::string_view name = line.substr(0, p);
    if (name.empty()) {
      refuse("");
      continue;
    }
    if (!seen.insert(name).second) {
      refuse("[ name repetition (" + std::string(name) + ") ]");
      continue;
    }
    ParsedEntry e;
    e.name = std::string(name);
    if (p < line.size()) {  // a ":" follows the name
      ListSpan first = readList(line, p + 1);
      e.first = std::move(first.items);
      // The second list starts after the character that ended the first
      // list's span, or one character in when the first list was empty or
      // refused.
      const std::size_t second = first.accepted ? first.end + 1 : p + 2;
      if (kind == FileKind::kHost && second <= line.size()) {
        e.second = readList(line, second).items;
      }
    }
    if (lineOf(e.name, e.first, e.second) != line) e.raw = std::string(line);
    out.entries.push_back(std::move(e));
  }
  return out;
}

LocatorFile::LocatorFile(FileKind kind, std::string path, OpenMode mode)
    : kind_(kind), path_(std::move(path)), mode_(mode) {}

Status LocatorFile::load(const Diagnostics& diag, const LocatorFile* groups) {
  entries_.clear();
  refused_.clear();
  failed_ = false;
  edited_ = false;
  next_order_ = 0;
  std::string content;
  std::error_code ec =
      platform::readStampedFile(path_, kFileLimit, &content, &stamp_);
  if (ec == std::errc::no_such_file_or_directory &&
      mode_ == OpenMode::kUpdate) {
    if (platform::writeFileAtomically(path_, "")) {
      failed_ = true;
      return fail<CORBA::ASCII_FILE>(kMinorFileWrite, path_);
    }
    stamp_ = platform::fileStamp(path_);
    return nullptr;
  }
  if (ec) {
    failed_ = true;
    stamp_ = platform::fileStamp(path_);
    const int e = ec.value();
    if (e != ENOENT && e != EACCES && e != EPERM && e != ENOTDIR &&
        e != ELOOP && e != ENAMETOOLONG) {
      diag.write("locator read failed on file \"" + path_ + "with 32\" ]");
    }
    return fail<CORBA::ASCII_FILE>(kMinorFileOpen, path_);
  }
  ParsedText parsed = parseLocatorText(content, kind_, path_, diag);
  entries_.reserve(parsed.entries.size());
  for (ParsedEntry& p : parsed.entries) {
    Entry e{std::move(p.first), std::move(p.second), next_order_++,
            std::move(p.raw)};
    if (kind_ == FileKind::kHost && mode_ == OpenMode::kRead) {
      resolveGroups(e, groups, diag);
    }
    entries_.emplace(std::move(p.name), std::move(e));
  }
  refused_ = std::move(parsed.refused);
  return nullptr;
}

void LocatorFile::resolveGroups(Entry& e, const LocatorFile* groups,
                                const Diagnostics& diag) const {
  if (e.second.empty()) return;
  std::unordered_set<std::string> seen(e.first.begin(), e.first.end());
  for (const std::string& g : e.second) {
    const Names* hosts = groups != nullptr ? groups->first(g) : nullptr;
    if (hosts == nullptr) {
      diag.write(" locator: group " + g + " doesn't exist ]");
      continue;
    }
    for (const std::string& h : *hosts) {
      if (seen.insert(h).second) e.first.push_back(h);
    }
  }
}

const Names* LocatorFile::first(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second.first;
}

const Names* LocatorFile::second(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second.second;
}

LocatorFile::Entry& LocatorFile::entry(std::string_view name) {
  auto [it, made] = entries_.try_emplace(std::string(name));
  if (made) it->second.order = next_order_++;
  return it->second;
}

namespace {

bool addIfAbsent(Names& list, std::string_view item) {
  if (std::find(list.begin(), list.end(), item) != list.end()) return false;
  list.emplace_back(item);
  return true;
}

bool removeItem(Names& list, std::string_view item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

}  // namespace

bool LocatorFile::addFirst(std::string_view name, std::string_view item) {
  if (name.empty() || item.empty()) return false;
  Entry& e = entry(name);
  if (!addIfAbsent(e.first, item)) return false;
  e.raw.reset();
  return edited_ = true;
}

bool LocatorFile::addSecond(std::string_view name, std::string_view item) {
  if (name.empty() || item.empty()) return false;
  Entry& e = entry(name);
  if (!addIfAbsent(e.second, item)) return false;
  e.raw.reset();
  return edited_ = true;
}

bool LocatorFile::removeFirst(std::string_view name, std::string_view item) {
  auto it = entries_.find(name);
  if (it == entries_.end() || !removeItem(it->second.first, item)) return false;
  it->second.raw.reset();
  return edited_ = true;
}

bool LocatorFile::removeSecond(std::string_view name, std::string_view item) {
  auto it = entries_.find(name);
  if (it == entries_.end() || !removeItem(it->second.second, item)) {
    return false;
  }
  it->second.raw.reset();
  return edited_ = true;
}

std::string LocatorFile::text() const {
  std::vector<std::tuple<int, std::uint64_t, const std::string*, const Entry*>>
      order;
  order.reserve(entries_.size());
  for (const auto& [name, e] : entries_) {
    order.emplace_back(locatorBucket(name), e.order, &name, &e);
  }
  std::sort(order.begin(), order.end());
  std::string out;
  for (const auto& [bucket, seq, name, e] : order) {
    out += e->raw ? *e->raw
                  : lineOf(*name, e->first,
                           kind_ == FileKind::kHost ? e->second : Names{});
    out += '\n';
  }
  for (const std::string& line : refused_) {
    out += line;
    out += '\n';
  }
  return out;
}

Status LocatorFile::save(const platform::BackupHook& hook) {
  if (mode_ != OpenMode::kUpdate || !edited_) return nullptr;
  if (platform::writeFileWithBackup(path_, text(), path_ + ".bak", hook)) {
    return fail<CORBA::ASCII_FILE>(kMinorFileWrite, path_);
  }
  edited_ = false;
  stamp_ = platform::fileStamp(path_);
  return nullptr;
}

bool LocatorFile::changedOnDisk() const {
  platform::FileStamp now = platform::fileStamp(path_);
  if (kind_ == FileKind::kHost && !now.exists) return false;
  return !(now == stamp_);
}

}  // namespace talvo::locator
