// A server record in memory, and its text form in a record file.
//
// ImpRepRecord is what the reader makes of a record file: name, protocols,
// owner, the launch and invoke access lists, the launch table, and for
// shared servers the number of server processes and the well-known port.
// formatRecord() writes the three layouts (shared, unshared, per-method)
// exactly as users and other tools expect them; parseRecord() reads any of
// them back, refusing a malformed file with the repository's corruption
// exceptions. The parser never reads past the text it is given.
//
// Thread safety: records are plain values owned by whoever read them; the
// functions hold no state.

#ifndef TALVO_IMPREP_RECORD_H_
#define TALVO_IMPREP_RECORD_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imprep/launch_info.h"
#include "imprep/trace.h"
#include "runtime/except/exception.h"

namespace talvo::imprep {

// Limits of the record format (line lengths without the line end).
inline constexpr std::size_t kMaxPathLength = 399;
inline constexpr std::size_t kMaxNameLine = 399;
inline constexpr std::size_t kMaxShortLine = 99;  // Comms, Activation, Owner
inline constexpr std::size_t kMaxListLine = 255;  // Launch, Invoke, numbers
inline constexpr std::size_t kMaxMarkerLine = 1023;
inline constexpr std::size_t kMaxMarkerLines = 511;

class ImpRepRecord {
 public:
  // `nservers` 0 is stored as 1.
  ImpRepRecord(std::string name, std::string code, std::string comms,
               std::string owner, std::string launch, std::string invoke,
               std::unique_ptr<LaunchInfo> launchInfo, std::uint32_t nservers,
               std::uint32_t port);

  const std::string& name() const { return name_; }
  const std::string& code() const { return code_; }
  const std::string& comms() const { return comms_; }
  const std::string& owner() const { return owner_; }
  const std::string& launch() const { return launch_; }
  const std::string& invoke() const { return invoke_; }
  const LaunchInfo& launchInfo() const { return *launchInfo_; }
  std::uint32_t mode() const { return launchInfo_->mode(); }
  std::uint32_t submode() const { return launchInfo_->submode(); }
  std::uint32_t nservers() const { return nservers_; }
  std::uint32_t port() const { return port_; }

 private:
  std::string name_;
  std::string code_;
  std::string comms_;
  std::string owner_;
  std::string launch_;
  std::string invoke_;
  std::unique_ptr<LaunchInfo> launchInfo_;
  std::uint32_t nservers_;
  std::uint32_t port_;
};

// What is written for a new record.
struct RecordContent {
  std::uint32_t mode = kShared;
  std::uint32_t submode = kPlain;
  std::string name;
  std::string protocol;  // "cdr/tcp" or "xdr/tcp"
  std::string owner;
  std::uint32_t nservers = 1;        // shared only
  std::uint32_t port = 0;            // shared only
  std::vector<LaunchEntry> entries;  // in the order given
};

// The record file text of the layout of `content.mode`, character for
// character, with empty access lists.
std::string formatRecord(const RecordContent& content);

// The text after the mode word on the Activation line for a submode.
std::string_view submodeSuffix(std::uint32_t mode, std::uint32_t submode);

// The marker line written by an edit: "     %s %s\n" (no column padding).
std::string editedMarkerLine(std::string_view key, std::string_view command);

// The corruption text of minors 10142 and 10151.
std::string corruptionText(std::string_view name, std::string_view path);

// Where the parts of a parsed record file lie.
struct RecordLayout {
  std::size_t headLines = 0;  // lines before the first marker or method line
};

// Reads a record file's text. `name` and `path` go into the exception texts.
// On success `*out` holds the record (and `*layout`, when given, where its
// marker lines start); on failure `*out` is null and the exception is
// INTERNAL 10142 (malformed or over-long line), 10150 (unknown activation
// word) or 10151 (the text ends early, is cut off inside a line, carries a
// version above 2 or more than 511 marker lines). Trace lines go to `trace`
// when it is set.
Status parseRecord(std::string_view text, std::string_view name,
                   std::string_view path, const TraceSink& trace,
                   std::unique_ptr<ImpRepRecord>* out,
                   RecordLayout* layout = nullptr);

// `text` split into lines, each with its line end; a last piece without a
// line end is a line as well.
std::vector<std::string_view> splitLines(std::string_view text);

}  // namespace talvo::imprep

#endif  // TALVO_IMPREP_RECORD_H_
