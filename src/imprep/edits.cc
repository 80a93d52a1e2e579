// Edits of existing records: marker and method lines, the owner line, the
// access-list lines, and deletion. Each edit reads the record, makes the
// checks in order, builds the new text with every other line as it was, and
// replaces the file as a whole.
#include <string>

#include "imprep/names.h"
#include "imprep/repository.h"
#include "platform/file_system.h"

namespace talvo::imprep {
namespace {

// The first word of a marker line, after its leading spaces.
std::string_view firstWord(std::string_view line) {
  std::size_t i = line.find_first_not_of(' ');
  if (i == std::string_view::npos) return {};
  std::size_t end = line.find_first_of(" \r\n", i);
  return line.substr(i, end == std::string_view::npos ? end : end - i);
}

// The line without its line end.
std::string_view body(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// True when `text` still reads as a record: an edit never leaves a record
// that the reader would refuse.
bool readable(const std::string& text) {
  std::unique_ptr<ImpRepRecord> record;
  return parseRecord(text, "", "", TraceSink(), &record) == nullptr;
}

}  // namespace

Status ImpRepository::editKey(std::string_view principal, std::string_view name,
                              std::string_view key,
                              std::optional<std::string_view> command,
                              bool method) {
  const std::uint32_t keyMinor = method ? 10031 : 10030;
  if (command && !method) trace(" adding marker for cmd ");
  if (!isSafeKey(key))
    return fail<CORBA::BAD_PARAM>(keyMinor, std::string(key));
  if (command && !isSafeCommand(*command)) {
    return fail<CORBA::BAD_PARAM>(keyMinor, std::string(*command));
  }
  std::string text;
  std::unique_ptr<ImpRepRecord> record;
  RecordLayout layout;
  if (Status s = load(name, &text, &record, &layout)) return s;
  if (!isOwner(*record, principal)) {
    return fail<CORBA::NO_PERMISSION>(10126, std::string(name));
  }
  if (!method && record->mode() == kPerMethod) {
    return fail<CORBA::BAD_OPERATION>(10249, std::string(name));
  }
  if (method && record->mode() != kPerMethod) {
    return fail<CORBA::BAD_OPERATION>(10250, std::string(name));
  }
  if (!command && !record->launchInfo().lookup(key)) {
    return fail<CORBA::BAD_OPERATION>(method ? 10247 : 10246, std::string(key));
  }

  // Only lines after the head are marker lines; the head (including the
  // column header, whose first word may equal a key) is copied unchanged.
  std::vector<std::string_view> lines = splitLines(text);
  std::string out;
  out.reserve(text.size() + key.size() + (command ? command->size() : 0) + 8);
  bool replaced = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i < layout.headLines || firstWord(lines[i]) != key) {
      out += lines[i];
    } else if (command) {
      out += editedMarkerLine(key, *command);
      replaced = true;
    }
  }
  if (command && !replaced) out += editedMarkerLine(key, *command);
  if (!readable(out)) {
    // Too many marker lines or a line too long for the format.
    return fail<CORBA::BAD_PARAM>(keyMinor, std::string(key));
  }
  if (platform::rewriteFile(recordPath(name), out) != 0) {
    return fail<CORBA::INTERNAL>(10141, editFailure(name));
  }
  return nullptr;
}

Status ImpRepository::addMarker(std::string_view principal,
                                std::string_view name, std::string_view marker,
                                std::string_view command) {
  return editKey(principal, name, marker, command, false);
}

Status ImpRepository::removeMarker(std::string_view principal,
                                   std::string_view name,
                                   std::string_view marker) {
  return editKey(principal, name, marker, std::nullopt, false);
}

Status ImpRepository::addModeMarker(std::string_view principal,
                                    std::string_view name,
                                    std::string_view marker,
                                    std::string_view command,
                                    std::uint32_t mode) {
  std::unique_ptr<ImpRepRecord> record;
  if (Status s = readRecord(name, &record)) return s;
  if (record->mode() != mode) {
    return fail<CORBA::BAD_OPERATION>(10261, std::string(name));
  }
  return addMarker(principal, name, marker, command);
}

Status ImpRepository::removeModeMarker(std::string_view principal,
                                       std::string_view name,
                                       std::string_view marker,
                                       std::uint32_t mode) {
  std::unique_ptr<ImpRepRecord> record;
  if (Status s = readRecord(name, &record)) return s;
  if (record->mode() != mode) {
    return fail<CORBA::BAD_OPERATION>(10261, std::string(name));
  }
  return removeMarker(principal, name, marker);
}

Status ImpRepository::addMethod(std::string_view principal,
                                std::string_view name, std::string_view method,
                                std::string_view command) {
  return editKey(principal, name, method, command, true);
}

Status ImpRepository::removeMethod(std::string_view principal,
                                   std::string_view name,
                                   std::string_view method) {
  return editKey(principal, name, method, std::nullopt, true);
}

Status ImpRepository::changeOwnerServer(std::string_view principal,
                                        std::string_view name,
                                        std::string_view newOwner) {
  if (!isSafeUser(newOwner)) {
    return fail<CORBA::BAD_PARAM>(10032, std::string(newOwner));
  }
  std::string text;
  std::unique_ptr<ImpRepRecord> record;
  RecordLayout layout;
  if (Status s = load(name, &text, &record, &layout)) return s;
  if (!isOwner(*record, principal)) {
    return fail<CORBA::NO_PERMISSION>(10126, std::string(name));
  }
  // The fourth line is the Owner line (the reader has checked it).
  std::vector<std::string_view> lines = splitLines(text);
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == 3) {
      out += "Owner          : ";
      out += newOwner;
      out += '\n';
    } else {
      out += lines[i];
    }
  }
  if (!readable(out)) {
    return fail<CORBA::BAD_PARAM>(10032, std::string(newOwner));
  }
  if (platform::rewriteFile(recordPath(name), out) != 0) {
    return fail<CORBA::INTERNAL>(10141, editFailure(name));
  }
  return nullptr;
}

Status ImpRepository::editAccessList(std::string_view principal,
                                     std::string_view name, AccessList which,
                                     std::optional<std::string_view> add,
                                     std::optional<std::string_view> remove) {
  for (const auto& user : {add, remove}) {
    if (user && !isSafeUser(*user)) {
      return fail<CORBA::BAD_PARAM>(10032, std::string(*user));
    }
  }
  std::string text;
  std::unique_ptr<ImpRepRecord> record;
  RecordLayout layout;
  if (Status s = load(name, &text, &record, &layout)) return s;
  if (!isOwner(*record, principal)) {
    return fail<CORBA::NO_PERMISSION>(10126, std::string(name));
  }
  // Lines five and six are the Launch and Invoke lines.
  const std::size_t index = which == AccessList::kLaunch ? 4 : 5;
  std::vector<std::string_view> lines = splitLines(text);
  std::string line(body(lines[index]));
  const std::string ending(lines[index].substr(line.size()));
  if (add) {
    if (line.find(framed(*add)) == std::string::npos) {
      line += *add;
      line += ';';
    }
  }
  if (remove) {
    std::size_t at = line.find(framed(*remove));
    if (at != std::string::npos) line.erase(at + 1, remove->size() + 1);
  }
  if (line + ending == lines[index]) return nullptr;  // nothing changes
  std::string out;
  out.reserve(text.size() + 64);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == index) {
      out += line;
      out += ending;
    } else {
      out += lines[i];
    }
  }
  if (!readable(out)) {
    return fail<CORBA::BAD_PARAM>(10032, std::string(add ? *add : *remove));
  }
  if (platform::rewriteFile(recordPath(name), out) != 0) {
    return fail<CORBA::INTERNAL>(10141, editFailure(name));
  }
  return nullptr;
}

Status ImpRepository::deleteServer(std::string_view principal,
                                   std::string_view name) {
  std::unique_ptr<ImpRepRecord> record;
  if (Status s = readRecord(name, &record)) return s;
  trace("Inside the rmit");
  if (!isOwner(*record, principal)) {
    return fail<CORBA::NO_PERMISSION>(10126, std::string(name));
  }
  const std::string path = recordPath(name);
  if (platform::removeFile(path) != 0) {
    return fail<CORBA::INTERNAL>(10156, "'" + path + "'");
  }
  return nullptr;
}

}  // namespace talvo::imprep
