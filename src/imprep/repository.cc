// Records: creation of the repository, reading and creating records.
#include "imprep/repository.h"

#include <algorithm>
#include <cerrno>

#include "imprep/names.h"
#include "platform/file_system.h"
#include "platform/stamped_file.h"

namespace talvo::imprep {
namespace {

// Far above the largest record the format allows (511 lines of 1023
// characters and the head); anything longer is no record.
constexpr std::size_t kMaxRecordBytes = 1 << 20;

std::string openFailureText(std::string_view name, const std::string& path,
                            int error) {
  std::string text = " The server name is `";
  text += name;
  text += "'.\n The full path of the record is `" + path +
          "'.\n The reason for the error is `" + platform::errorText(error) +
          "'\n";
  return text;
}

bool contains(std::string_view list, std::string_view principal) {
  return list.find(framed(principal)) != std::string_view::npos;
}

}  // namespace

ImpRepository::ImpRepository(std::string root, TraceSink trace)
    : root_(std::move(root)), trace_(std::move(trace)) {}

Status ImpRepository::create(const char* root,
                             std::unique_ptr<ImpRepository>* out,
                             TraceSink trace) {
  out->reset();
  if (root == nullptr) return fail<CORBA::INTERNAL>(10144);
  std::string path = root;
  if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
    path.pop_back();
  }
  switch (platform::fileKind(path)) {
    case platform::FileKind::kNone:
      return fail<CORBA::INTERNAL>(10148, path);
    case platform::FileKind::kDirectory:
      break;
    default:
      return fail<CORBA::INTERNAL>(10149);
  }
  // Temporary files and half-made directories of a run that was cut
  // short; a rewrite or directory change leaves none when it completes.
  platform::removeLeftovers(path);
  out->reset(new ImpRepository(std::move(path), std::move(trace)));
  return nullptr;
}

std::string ImpRepository::recordPath(std::string_view name) const {
  return root_ + "/" + toRelativePath(name) + ".IMP";
}

std::string ImpRepository::dirPath(std::string_view directory) const {
  return root_ + "/" + toRelativePath(directory);
}

std::string ImpRepository::ownerPath(std::string_view directory) const {
  return dirPath(directory) + "/OWNER";
}

bool ImpRepository::exists(std::string_view name) const {
  return isSafeName(name) &&
         platform::fileKind(recordPath(name)) != platform::FileKind::kNone;
}

Status ImpRepository::load(std::string_view name, std::string* text,
                           std::unique_ptr<ImpRepRecord>* record,
                           RecordLayout* layout, platform::FileStamp* stamp,
                           const TraceSink* trace) const {
  record->reset();
  if (!isSafeName(name))
    return fail<CORBA::BAD_PARAM>(10032, std::string(name));
  const std::string path = recordPath(name);
  if (path.size() > kMaxPathLength) {
    return fail<CORBA::BAD_PARAM>(10032, std::string(name));
  }
  int error = 0;
  if (stamp != nullptr) {
    error =
        platform::readStampedFile(path, kMaxRecordBytes, text, stamp).value();
  } else {
    error = platform::readRegularFile(path, kMaxRecordBytes, text);
  }
  if (error == ENOENT || error == ENOTDIR) {
    return fail<CORBA::BAD_OPERATION>(10241, std::string(name));
  }
  if (error == EACCES) return fail<CORBA::INTERNAL>(10158, path);
  if (error == EFBIG) {
    return fail<CORBA::INTERNAL>(10151, corruptionText(name, path));
  }
  if (error != 0) {
    return fail<CORBA::INTERNAL>(10152, openFailureText(name, path, error));
  }
  return parseRecord(*text, name, path, trace != nullptr ? *trace : trace_,
                     record, layout);
}

Status ImpRepository::readRecord(std::string_view name,
                                 std::unique_ptr<ImpRepRecord>* out) const {
  std::string text;
  return load(name, &text, out, nullptr);
}

Status ImpRepository::readRecord(
    std::string_view name, std::shared_ptr<const ImpRepRecord>* out) const {
  out->reset();
  if (isSafeName(name)) {
    const std::string path = recordPath(name);
    if (const RecordCache::Entry* hit =
            cache_.find(path, platform::fileStamp(path))) {
      for (const std::string& line : hit->traceLines) trace(line);
      *out = hit->record;
      return nullptr;
    }
  }
  // Read from disk; the parse's trace lines are kept with the record.
  RecordCache::Entry entry;
  TraceSink keep;
  if (trace_) {
    keep = [&lines = entry.traceLines](std::string_view line) {
      lines.emplace_back(line);
    };
  }
  const std::int64_t start = platform::wallClockNs();
  std::string text;
  std::unique_ptr<ImpRepRecord> record;
  Status st = load(name, &text, &record, nullptr, &entry.stamp, &keep);
  for (const std::string& line : entry.traceLines) trace(line);
  if (st) return st;
  entry.record = std::move(record);
  *out = entry.record;
  cache_.put(recordPath(name), std::move(entry), start);
  return nullptr;
}

std::unique_ptr<ImpRepRecord> ImpRepository::readRecordQuiet(
    std::string_view name) const {
  std::unique_ptr<ImpRepRecord> record;
  readRecord(name, &record);
  return record;
}

Status ImpRepository::createShared(std::string_view owner,
                                   std::string_view name,
                                   const std::vector<LaunchEntry>& markers,
                                   std::uint32_t submode,
                                   std::uint32_t nservers, std::uint32_t port,
                                   bool legacy) {
  RecordContent content;
  content.mode = kShared;
  // Several servers without pre-starting are started on demand in turn.
  content.submode = (submode != kRoundRobinPrestart && nservers >= 2)
                        ? kRoundRobinDynamic
                        : submode;
  content.nservers = nservers;
  content.port = port;
  content.entries = markers;
  return createRecord(owner, name, std::move(content), legacy);
}

Status ImpRepository::createUnshared(std::string_view owner,
                                     std::string_view name,
                                     const std::vector<LaunchEntry>& markers,
                                     std::uint32_t submode, bool legacy) {
  RecordContent content;
  content.mode = kUnshared;
  content.submode = submode;
  content.entries = markers;
  return createRecord(owner, name, std::move(content), legacy);
}

Status ImpRepository::createPerMethod(std::string_view owner,
                                      std::string_view name,
                                      const std::vector<LaunchEntry>& methods,
                                      bool legacy) {
  RecordContent content;
  content.mode = kPerMethod;
  content.entries = methods;
  return createRecord(owner, name, std::move(content), legacy);
}

Status ImpRepository::createRecord(std::string_view owner,
                                   std::string_view rawName,
                                   RecordContent content, bool legacy) {
  std::string name(rawName);
  // A final BEL asks for the legacy protocol for this one record.
  if (!name.empty() && name.back() == '\a') {
    name.pop_back();
    legacy = true;
  }
  if (!isNewServerName(name) || recordPath(name).size() > kMaxPathLength ||
      name.size() + 18 > kMaxNameLine) {
    return fail<CORBA::BAD_PARAM>(10032, name);
  }
  const std::uint32_t keyMinor = content.mode == kPerMethod ? 10031 : 10030;
  for (const LaunchEntry& e : content.entries) {
    if (!isSafeKey(e.key)) return fail<CORBA::BAD_PARAM>(keyMinor, e.key);
  }
  for (const LaunchEntry& e : content.entries) {
    // Five spaces, the key in at least 15 columns, a space, the command.
    std::size_t width = 5 + std::max<std::size_t>(e.key.size(), 15) + 1;
    if (!isSafeCommand(e.command) ||
        width + e.command.size() > kMaxMarkerLine) {
      return fail<CORBA::BAD_PARAM>(keyMinor, e.command);
    }
  }
  if (content.entries.size() > kMaxMarkerLines) {
    return fail<CORBA::BAD_PARAM>(keyMinor,
                                  content.entries[kMaxMarkerLines].key);
  }
  if (!isSafeUser(owner) || owner.size() + 17 > kMaxShortLine) {
    return fail<CORBA::BAD_PARAM>(10032, std::string(owner));
  }
  if (readRecordQuiet(name)) return fail<CORBA::BAD_OPERATION>(10248, name);
  if (Status s = checkParent(owner, name)) return s;

  content.name = name;
  content.owner = owner;
  content.protocol = legacy ? "xdr/tcp" : "cdr/tcp";
  if (content.mode == kShared) {
    std::string line = " write imp record submode is:";
    line += submodeSuffix(content.mode, content.submode);
    line += " # " + std::to_string(content.nservers);
    trace(line);
  }
  const std::string text = formatRecord(content);
  if (platform::rewriteFile(recordPath(name), text) != 0) {
    return fail<CORBA::INTERNAL>(10145, "(The server name is '" + name + "')");
  }
  return nullptr;
}

void ImpRepository::displayRecord(std::ostream& out,
                                  const ImpRepRecord& record) {
  std::string name = record.name();
  if (name.size() < 28) name.append(28 - name.size(), ' ');
  out << "\n\nServer             :  " << name << " owner:" << record.owner()
      << "\n";
  out << "Launch Rights ACL  :  " << record.launch() << "\n";
  out << "Invoke Rights ACL  :  " << record.invoke() << "\n";
  out << "Configuration      :  " << record.code() << "/" << record.comms()
      << "\n";
  out << "Launch table       :  "
      << static_cast<const void*>(&record.launchInfo()) << "\n";
}

bool ImpRepository::isOwner(const ImpRepRecord& record,
                            std::string_view principal) {
  return record.owner() == "all" || record.owner() == principal;
}

bool ImpRepository::mayLaunch(const ImpRepRecord& record,
                              std::string_view principal) {
  return contains(record.launch(), "all") || record.owner() == principal ||
         contains(record.launch(), principal);
}

bool ImpRepository::mayInvoke(const ImpRepRecord& record,
                              std::string_view principal) {
  return contains(record.invoke(), "all") || record.owner() == principal ||
         contains(record.invoke(), principal);
}

}  // namespace talvo::imprep
