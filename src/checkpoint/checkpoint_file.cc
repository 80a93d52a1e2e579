#include "checkpoint/checkpoint_file.h"

#include <algorithm>
#include <cstdio>

#include "activation/launch_table.h"
#include "platform/files.h"
#include "runtime/config/trace_stream.h"
#include "runtime/protocol/match_pattern.h"

namespace talvo::checkpoint {
namespace {

bool isPatternChar(char c) {
  return c == '*' || c == '?' || c == '[' || c == '\\';
}

// A field that would break the line: a separator or a control character.
bool breaksLine(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return c == ':' || u < 32 || u == 127;
  });
}

std::string makeKey(std::string_view server, std::string_view marker,
                    std::string_view principal) {
  std::string key;
  key.reserve(server.size() + marker.size() + principal.size() + 3);
  key.append(server).append(":").append(marker).append(":");
  key.append(principal).append(":");
  return key;
}

// The text of `line` without its line feed, for trace lines.
std::string_view bare(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  return line;
}

}  // namespace

std::string checkpointLine(std::string_view server, std::string_view marker,
                           std::string_view principal, std::int32_t pid,
                           std::int64_t size, std::string_view comms,
                           std::string_view code, std::string_view port,
                           std::int32_t status) {
  std::string line = makeKey(server, marker, principal);
  line += "a:" + std::to_string(pid) + ":" + std::to_string(size) + ":";
  line.append(comms).append(":").append(code).append(":").append(port);
  line += ":" + std::to_string(status) + ":\n";
  return line;
}

std::string_view entryKey(std::string_view line) {
  std::size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    pos = line.find(':', pos);
    if (pos == std::string_view::npos) return {};
    ++pos;
  }
  return line.substr(0, pos);
}

CheckpointEntry parseCheckpointLine(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (fields.size() < 10 && pos <= line.size()) {
    std::size_t end = line.find(':', pos);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(pos, end - pos));
    pos = end + 1;
  }
  fields.resize(10);
  CheckpointEntry e;
  e.server = fields[0];
  e.marker = fields[1];
  e.principal = fields[2];
  // The state is the one character after the third ":".
  std::string_view key = entryKey(line);
  if (!key.empty() && key.size() < line.size()) e.state = line[key.size()];
  e.pid = leadingInteger(fields[4]);
  e.size = leadingInteger(fields[5]);
  e.comms = fields[6];
  e.code = fields[7];
  e.port = fields[8];
  e.status = leadingInteger(fields[9]);
  return e;
}

DaemonCPFile::DaemonCPFile(std::string path, Mode mode)
    : path_(std::move(path)), mode_(mode) {}

DaemonCPFile::~DaemonCPFile() = default;

Status DaemonCPFile::open() {
  isOpen_ = false;
  if (mode_ == Mode::kRead) {
    if (!path_.empty() && !platform::pathExists(path_)) {
      mode_ = Mode::kUpdate;
    } else {
      std::optional<std::string> text = platform::readFile(path_);
      if (!text) return fail<CORBA::ASCII_FILE>(10541, path_);
      snapshot_ = std::move(*text);
      readPos_ = 0;
      isOpen_ = true;
      return nullptr;
    }
  }
  return openForUpdate(true);
}

Status DaemonCPFile::openForUpdate(bool create) {
  const bool existed = platform::pathExists(path_);
  if (platform::LineFile::open(path_, create, &file_)) {
    return fail<CORBA::ASCII_FILE>(existed ? 10541 : 10543, path_);
  }
  std::string text;
  if (file_->readAll(&text)) return fail<CORBA::ASCII_FILE>(10541, path_);
  std::size_t whole = text.rfind('\n');
  whole = whole == std::string::npos ? 0 : whole + 1;
  if (whole < text.size()) {
    // A line that lost its end when an earlier daemon was killed while
    // appending it: cut it off before anything is appended after it.
    traceStream() << " DaemonCPFile skips an incomplete last line: "
                  << std::string_view(text).substr(whole) << endl;
    text.resize(whole);
    if (file_->replace(text)) return fail<CORBA::ASCII_FILE>(10541, path_);
  }
  load(text);
  isOpen_ = true;
  return nullptr;
}

Status DaemonCPFile::close() {
  isOpen_ = false;
  if (!file_) return nullptr;
  std::error_code ec = file_->close();
  file_.reset();
  if (ec) return fail<CORBA::ASCII_FILE>(10542, path_);
  return nullptr;
}

void DaemonCPFile::load(std::string_view text) {
  lines_.clear();
  plainKeys_.clear();
  patternsByServer_.clear();
  wildPatterns_.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) break;  // cut off at open
    std::string_view line = text.substr(pos, end + 1 - pos);
    lines_.push_back({pos, static_cast<std::uint32_t>(line.size()),
                      std::string(entryKey(line))});
    index(static_cast<std::uint32_t>(lines_.size() - 1));
    pos = end + 1;
  }
}

void DaemonCPFile::index(std::uint32_t n) {
  const std::string& key = lines_[n].key;
  if (key.empty()) return;  // never matches
  auto patternAt = std::find_if(key.begin(), key.end(), isPatternChar);
  if (patternAt == key.end()) {
    plainKeys_[key].insert(n);
    return;
  }
  std::size_t colon = key.find(':');
  if (static_cast<std::size_t>(patternAt - key.begin()) > colon) {
    patternsByServer_[key.substr(0, colon)].insert(n);
  } else {
    wildPatterns_.insert(n);
  }
}

void DaemonCPFile::unindex(std::uint32_t n) {
  const std::string& key = lines_[n].key;
  auto drop = [n](std::unordered_map<std::string, LineSet>& map,
                  const std::string& k) {
    auto it = map.find(k);
    if (it == map.end()) return;
    it->second.erase(n);
    if (it->second.empty()) map.erase(it);
  };
  drop(plainKeys_, key);
  drop(patternsByServer_, key.substr(0, key.find(':')));
  wildPatterns_.erase(n);
}

std::int64_t DaemonCPFile::firstMatch(const std::string& key) const {
  std::int64_t best = -1;
  auto better = [&](std::uint32_t n) { return best < 0 || n < best; };
  if (auto it = plainKeys_.find(key); it != plainKeys_.end()) {
    best = *it->second.begin();
  }
  auto tryLines = [&](const LineSet& set) {
    for (std::uint32_t n : set) {
      if (!better(n)) return;
      const std::string& pattern = lines_[n].key;
      if (pattern == key || patternMatches(pattern, key)) {
        best = n;
        return;
      }
    }
  };
  if (auto it = patternsByServer_.find(key.substr(0, key.find(':')));
      it != patternsByServer_.end()) {
    tryLines(it->second);
  }
  tryLines(wildPatterns_);
  return best;
}

std::int64_t DaemonCPFile::lineAt(std::int64_t offset) const {
  auto it = std::lower_bound(lines_.begin(), lines_.end(), offset,
                             [](const Line& l, std::int64_t o) {
                               return static_cast<std::int64_t>(l.offset) < o;
                             });
  if (it == lines_.end() || static_cast<std::int64_t>(it->offset) != offset) {
    return -1;
  }
  return it - lines_.begin();
}

std::int64_t DaemonCPFile::find(std::string_view server,
                                std::string_view marker,
                                std::string_view principal) {
  traceStream() << " DaemonCPFile::find " << server << endl;
  if (!file_) return -1;
  const std::string key = makeKey(server, marker, principal);
  std::int64_t n = firstMatch(key);
  if (n < 0) {
    traceStream() << " DaemonCPFile::find not found no line from "
                  << static_cast<std::uint64_t>(file_->size()) << endl;
    return -1;
  }
  const Line& line = lines_[n];
  file_->readAt(line.offset, line.length, &lineBuffer_);
  const std::int64_t offset = static_cast<std::int64_t>(line.offset);
  traceStream() << " read line " << bare(lineBuffer_) << endl;
  traceStream() << " DaemonCPFile::find, key is " << key << " and i is set to:"
                << static_cast<std::uint32_t>(line.key.size()) << endl;
  traceStream() << " Found match at:" << offset
                << "   m_buf is:" << bare(lineBuffer_) << endl;
  return offset;
}

std::int32_t DaemonCPFile::read_pid(std::int64_t offset, std::size_t* length) {
  *length = 0;
  std::int64_t n = lineAt(offset);
  if (n < 0 || !file_) return 0;
  file_->readAt(lines_[n].offset, lines_[n].length, &lineBuffer_);
  *length = lineBuffer_.size();
  traceStream() << " DaemonCPFile::read_pid " << bare(lineBuffer_) << endl;
  // The positions of the third, fourth and fifth ":": the pid lies after
  // the fourth.
  std::size_t pos = entryKey(lineBuffer_).size();
  std::uint32_t found[3] = {0, 0, 0};
  found[0] = static_cast<std::uint32_t>(pos);
  for (int i = 1; i < 3 && pos != 0; ++i) {
    std::size_t next = lineBuffer_.find(':', pos);
    pos = next == std::string::npos ? 0 : next + 1;
    found[i] = static_cast<std::uint32_t>(pos);
  }
  for (std::uint32_t p : found)
    traceStream() << " pos of pid is :" << p << endl;
  return parseCheckpointLine(bare(lineBuffer_)).pid;
}

bool DaemonCPFile::write_data(std::string_view server, std::string_view marker,
                              std::int32_t pid, std::int64_t size,
                              std::string_view comms, std::string_view code,
                              std::string_view port, std::int32_t status,
                              std::string_view principal) {
  if (!file_) return false;
  if (breaksLine(server) || breaksLine(marker) || breaksLine(principal) ||
      breaksLine(comms) || breaksLine(code) || breaksLine(port)) {
    traceStream() << " DaemonCPFile::write_data() not written, a field would "
                     "break the line: "
                  << server << endl;
    return false;
  }
  std::int64_t offset = find(server, marker, principal);
  traceStream() << " DaemonCPFile::write_data() found one at:" << offset
                << endl;
  std::string text = checkpointLine(server, marker, principal, pid, size, comms,
                                    code, port, status);
  if (offset < 0) {
    traceStream() << " pid is " << pid << endl;
    const std::uint64_t at = file_->size();
    if (file_->append(text)) return false;
    lines_.push_back({at, static_cast<std::uint32_t>(text.size()),
                      std::string(entryKey(text))});
    index(static_cast<std::uint32_t>(lines_.size() - 1));
    return true;
  }
  std::size_t length = 0;
  read_pid(offset, &length);
  traceStream() << " reusing file entry at " << offset << endl;
  traceStream() << " pid is " << pid << endl;
  const auto n = static_cast<std::uint32_t>(lineAt(offset));
  if (text.size() != length) return rewriteLine(n, text);
  if (lineBuffer_ == text) return true;  // already so
  if (file_->writeAt(static_cast<std::uint64_t>(offset), text)) return false;
  std::string newKey(entryKey(text));
  if (newKey != lines_[n].key) {
    unindex(n);
    lines_[n].key = std::move(newKey);
    index(n);
  }
  return true;
}

void DaemonCPFile::set_del(std::string_view server, std::string_view marker,
                           std::string_view principal) {
  std::int64_t offset = find(server, marker, principal);
  if (offset < 0) return;
  const Line& line = lines_[lineAt(offset)];
  traceStream() << " set_del " << offset << endl;
  // The state is the character after the key; a line that ends right after
  // its key has none, and its line feed stays.
  if (line.length <= line.key.size() + 1) return;
  file_->writeAt(line.offset + line.key.size(), "d");
}

bool DaemonCPFile::rewriteLine(std::uint32_t n, const std::string& text) {
  std::string whole;
  if (file_->readAll(&whole)) return false;
  Line& line = lines_[n];
  whole.replace(line.offset, line.length, text);
  if (file_->replace(whole)) return false;
  // Only the lines after this one move; the index keeps its line numbers.
  const std::int64_t delta = static_cast<std::int64_t>(text.size()) -
                             static_cast<std::int64_t>(line.length);
  line.length = static_cast<std::uint32_t>(text.size());
  for (std::size_t i = n + 1; i < lines_.size(); ++i) {
    lines_[i].offset = static_cast<std::uint64_t>(
        static_cast<std::int64_t>(lines_[i].offset) + delta);
  }
  std::string newKey(entryKey(text));
  if (newKey != line.key) {
    unindex(n);
    lines_[n].key = std::move(newKey);
    index(n);
  }
  return true;
}

bool DaemonCPFile::compact() {
  if (!file_) return false;
  std::string whole;
  if (file_->readAll(&whole)) return false;
  std::string kept;
  kept.reserve(whole.size());
  for (const Line& line : lines_) {
    std::string_view text =
        std::string_view(whole).substr(line.offset, line.length);
    if (line.key.empty() || text.size() != line.length) continue;
    if (line.key.size() < text.size() && text[line.key.size()] == 'd') continue;
    kept.append(text);
  }
  if (kept.size() == whole.size()) return true;
  if (file_->replace(kept)) return false;
  load(kept);
  return true;
}

bool DaemonCPFile::readEntry(CheckpointEntry* entry) {
  while (readPos_ < snapshot_.size()) {
    std::size_t end = snapshot_.find('\n', readPos_);
    std::string_view text(snapshot_);
    if (end == std::string::npos) {
      traceStream() << " DaemonCPFile::readEntry skips an incomplete last "
                       "line: "
                    << text.substr(readPos_) << endl;
      readPos_ = snapshot_.size();
      return false;
    }
    std::string_view line = text.substr(readPos_, end - readPos_);
    readPos_ = end + 1;
    *entry = parseCheckpointLine(line);
    return true;
  }
  return false;
}

}  // namespace talvo::checkpoint
