#include "imprep/record.h"

#include <cctype>

namespace talvo::imprep {
namespace {

constexpr std::string_view kMarkerHeader =
    "     Marker          Launch Command";
constexpr std::string_view kMethodHeader =
    "     Method          Launch Command";

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// "     %-15s %s\n"
void appendMarkerLine(std::string& out, const LaunchEntry& e) {
  out += "     ";
  out += e.key;
  if (e.key.size() < 15) out.append(15 - e.key.size(), ' ');
  out += ' ';
  out += e.command;
  out += '\n';
}

// The first white-space-delimited word after the first ":" (empty when
// there is none).
std::string_view valueAfterColon(std::string_view line) {
  std::size_t colon = line.find(':');
  std::size_t i = colon + 1;
  while (i < line.size() && isSpace(line[i])) ++i;
  std::size_t j = i;
  while (j < line.size() && !isSpace(line[j])) ++j;
  return line.substr(i, j - i);
}

// The integer that starts two characters after the first ":", read as atoi
// and strtoul read it (leading blanks, a sign, digits); 0 when there is
// nothing to read.
std::uint32_t numberAfterColon(std::string_view line) {
  std::size_t i = line.find(':') + 2;
  if (i >= line.size()) return 0;
  while (i < line.size() && isSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  std::uint32_t value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint32_t>(line[i] - '0');
  }
  return negative ? 0u - value : value;
}

// Hands out the lines of a record text, without their line ends.
class LineReader {
 public:
  enum Result { kLine, kEnd, kCut };
  explicit LineReader(std::string_view text) : text_(text) {}

  // kCut: the text ends inside a line (no final line feed).
  Result next(std::string_view* line) {
    if (pos_ >= text_.size()) return kEnd;
    std::size_t lf = text_.find('\n', pos_);
    if (lf == std::string_view::npos) return kCut;
    *line = text_.substr(pos_, lf - pos_);
    pos_ = lf + 1;
    // Records copied from Win32 end their lines in CR LF.
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    ++count_;
    return kLine;
  }
  std::size_t count() const { return count_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t count_ = 0;
};

class Parser {
 public:
  Parser(std::string_view text, std::string_view name, std::string_view path,
         const TraceSink& trace)
      : lines_(text), name_(name), path_(path), trace_(trace) {}

  Status run(std::unique_ptr<ImpRepRecord>* out, RecordLayout* layout);

 private:
  Status corrupt(std::uint32_t minor) {
    return fail<CORBA::INTERNAL>(minor, corruptionText(name_, path_));
  }
  // Reads the next line, which must exist, be whole and fit `limit`.
  Status need(std::string_view* line, std::size_t limit) {
    switch (lines_.next(line)) {
      case LineReader::kEnd:
      case LineReader::kCut:
        return corrupt(10151);
      case LineReader::kLine:
        break;
    }
    if (line->size() > limit || line->find('\0') != std::string_view::npos) {
      return corrupt(10142);
    }
    return nullptr;
  }
  // A head line: begins with `key`, holds ":"; its value word is required
  // unless `optional`.
  Status head(std::string_view key, std::size_t limit, bool optional,
              std::string_view* line, std::string* value) {
    if (Status s = need(line, limit)) return s;
    if (!line->starts_with(key) || line->find(':') == std::string_view::npos) {
      return corrupt(10142);
    }
    *value = valueAfterColon(*line);
    if (value->empty() && !optional) return corrupt(10142);
    return nullptr;
  }
  void trace(std::string_view a, std::string_view b) {
    if (!trace_) return;
    std::string line(a);
    line += b;
    trace_(line);
  }

  LineReader lines_;
  std::string_view name_;
  std::string_view path_;
  const TraceSink& trace_;
};

Status Parser::run(std::unique_ptr<ImpRepRecord>* out, RecordLayout* layout) {
  std::string_view line;
  std::string name, protocol, activation, owner, launch, invoke;
  if (Status s = head("Name", kMaxNameLine, false, &line, &name)) return s;
  if (Status s = head("Comms", kMaxShortLine, false, &line, &protocol)) {
    return s;
  }
  if (Status s = head("Activation", kMaxShortLine, false, &line, &activation)) {
    return s;
  }
  const std::string activationLine(line);
  if (Status s = head("Owner", kMaxShortLine, false, &line, &owner)) return s;
  if (Status s = head("Launch", kMaxListLine, true, &line, &launch)) return s;
  if (Status s = head("Invoke", kMaxListLine, true, &line, &invoke)) return s;

  // A protocol text without "/" cannot tell clients how to connect.
  std::size_t slash = protocol.find('/');
  if (slash == std::string::npos) return corrupt(10142);
  std::string code = protocol.substr(0, slash);
  std::string comms = protocol.substr(slash + 1);

  std::uint32_t mode;
  if (activation == "per-method") {
    mode = kPerMethod;
  } else if (activation == "shared") {
    mode = kShared;
  } else if (activation == "unshared") {
    mode = kUnshared;
  } else {
    return fail<CORBA::INTERNAL>(10150, activation);
  }
  std::uint32_t submode = kPlain;
  if (activationLine.find("(private)(per_pid)") != std::string::npos) {
    submode = kPrivatePerPid;
  } else if (activationLine.find("(private)") != std::string::npos) {
    submode = kPrivate;
  } else if (activationLine.find("Round robin (prestart)") !=
             std::string::npos) {
    submode = kRoundRobinPrestart;
  } else if (activationLine.find("Round robin (dynamic start)") !=
             std::string::npos) {
    submode = kRoundRobinDynamic;
  }

  if (Status s = need(&line, kMaxListLine)) return s;
  trace(" read line after invoke as: ", line);
  long version = 0;
  std::uint32_t nservers = 1, port = 0;
  if (line.find("ImpRep Version :") != std::string_view::npos) {
    version = static_cast<std::int32_t>(numberAfterColon(line));
    trace(" Read a version as: ", std::to_string(version));
    if (version > 2) return corrupt(10151);
    std::string ignored;
    if (Status s =
            head("no. of servers", kMaxListLine, true, &line, &ignored)) {
      return s;
    }
    trace(" read n servers as:", line.substr(line.find(':') + 1));
    nservers = numberAfterColon(line);
    if (Status s = head("server's port", kMaxListLine, true, &line, &ignored)) {
      return s;
    }
    trace(" read port as:", line.substr(line.find(':') + 1));
    port = numberAfterColon(line);
  }
  int skip = version != 0 ? 3 : 2;
  for (int i = 0; i < skip; ++i) {
    if (Status s = need(&line, kMaxMarkerLine)) return s;
    trace(" read next line as: ", line);
  }
  if (layout != nullptr) layout->headLines = lines_.count();

  trace(" Creatting launch info object ", "");
  std::unique_ptr<LaunchInfo> table;
  if (mode == kPerMethod) {
    table = std::make_unique<PerMethodLaunchInfo>();
  } else if (mode == kShared) {
    table = std::make_unique<SharedLaunchInfo>(submode);
  } else {
    table = std::make_unique<UnsharedLaunchInfo>(submode);
  }
  std::size_t markerLines = 0;
  for (;;) {
    LineReader::Result r = lines_.next(&line);
    if (r == LineReader::kEnd) break;
    if (r == LineReader::kCut) return corrupt(10151);
    if (line.size() > kMaxMarkerLine ||
        line.find('\0') != std::string_view::npos) {
      return corrupt(10142);
    }
    std::size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    if (i == line.size()) continue;  // a blank line carries no marker
    if (++markerLines > kMaxMarkerLines) return corrupt(10151);
    std::size_t end = line.find(' ', i);
    if (end == std::string_view::npos) end = line.size();
    std::string_view key = line.substr(i, end - i);
    i = end;
    while (i < line.size() && line[i] == ' ') ++i;
    std::string_view command = line.substr(i);
    if (mode == kShared) trace(" read cmd ", command);
    table->add(key, command);
  }
  *out = std::make_unique<ImpRepRecord>(
      std::move(name), std::move(code), std::move(comms), std::move(owner),
      std::move(launch), std::move(invoke), std::move(table), nservers, port);
  return nullptr;
}

}  // namespace

ImpRepRecord::ImpRepRecord(std::string name, std::string code,
                           std::string comms, std::string owner,
                           std::string launch, std::string invoke,
                           std::unique_ptr<LaunchInfo> launchInfo,
                           std::uint32_t nservers, std::uint32_t port)
    : name_(std::move(name)),
      code_(std::move(code)),
      comms_(std::move(comms)),
      owner_(std::move(owner)),
      launch_(std::move(launch)),
      invoke_(std::move(invoke)),
      launchInfo_(std::move(launchInfo)),
      nservers_(nservers == 0 ? 1 : nservers),
      port_(port) {}

std::string_view submodeSuffix(std::uint32_t mode, std::uint32_t submode) {
  if (mode == kPerMethod) return "";
  switch (submode) {
    case kPrivate:
      return " (private)";
    case kPrivatePerPid:
      return " (private)(per_pid)";
    case kRoundRobinPrestart:
      return mode == kShared ? "Round robin (prestart)" : " ";
    case kRoundRobinDynamic:
      return mode == kShared ? "Round robin (dynamic start)" : " ";
    default:
      return mode == kShared ? "" : " ";
  }
}

std::string formatRecord(const RecordContent& c) {
  std::string out;
  out += "Name           : " + c.name + " \n";
  out += "Comms          : " + c.protocol + " \n";
  if (c.mode == kPerMethod) {
    out += "Activation     : per-method\n";
  } else {
    out += c.mode == kShared ? "Activation     : shared "
                             : "Activation     : unshared";
    out += submodeSuffix(c.mode, c.submode);
    out += '\n';
  }
  out += "Owner          : " + c.owner + "\n";
  out += "Launch         : ;\n";
  out += "Invoke         : ;\n";
  if (c.mode == kShared) {
    out += "ImpRep Version : 2\n";
    out += "no. of servers : " + std::to_string(c.nservers) + "\n";
    out += "server's port  : " + std::to_string(c.port) + "\n";
  }
  out += '\n';
  out += c.mode == kPerMethod ? kMethodHeader : kMarkerHeader;
  out += "\n\n";
  for (const LaunchEntry& e : c.entries) appendMarkerLine(out, e);
  return out;
}

std::string editedMarkerLine(std::string_view key, std::string_view command) {
  std::string line = "     ";
  line += key;
  line += ' ';
  line += command;
  line += '\n';
  return line;
}

std::string corruptionText(std::string_view name, std::string_view path) {
  std::string text = "(The server name is '";
  text += name;
  text += "'. The Full path of the record is '";
  text += path;
  text +=
      "'. This file may have been corrupted externally. Try removing it and "
      "re-entering it in the implementation repository)";
  return text;
}

Status parseRecord(std::string_view text, std::string_view name,
                   std::string_view path, const TraceSink& trace,
                   std::unique_ptr<ImpRepRecord>* out, RecordLayout* layout) {
  out->reset();
  return Parser(text, name, path, trace).run(out, layout);
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t lf = text.find('\n', pos);
    std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
    lines.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

}  // namespace talvo::imprep
