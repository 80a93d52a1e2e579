// The error catalogue: the texts of minor codes, read from the errors file.
//
// The errors file holds one message text per code. Its first line is never
// an entry (it is free for a comment); an entry is a line that starts with a
// decimal digit: the code, then blanks, tabs or colons, then the text up to
// the end of the line. A backslash at the end of a line continues the text
// on the next line with a line end in it; any other backslash stays in the
// text. A text stops after 511 characters (the rest of its line is skipped).
// When a code is given twice the first text counts.
//
// Every text is a printf-style format for up to three string arguments. It
// comes from a file, so it is never handed to printf: formatMessage() knows
// only "%s" (with optional "-", width and precision) and "%%"; every other
// "%" is copied as it stands, and a "%s" beyond the arguments given takes the
// empty string. A result is at most kMaxTextLength bytes.
//
// A catalogue loads on first use. A failed load (no path, or a file that
// does not open) leaves it unavailable and is tried again on the next use;
// once loaded it is never reloaded.
//
// Thread safety: every public member may be called from any thread; loading
// and lookups are serialised by an internal mutex.

#ifndef TALVO_RUNTIME_EXCEPT_CATALOGUE_H_
#define TALVO_RUNTIME_EXCEPT_CATALOGUE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace talvo {

class ErrorCatalogue {
 public:
  // Where the errors file is: asked again at every load attempt; nullopt or
  // an empty path means that no file is named.
  using PathSource = std::function<std::optional<std::string>()>;

  // Longest text of an entry; longer ones are cut.
  static constexpr std::size_t kMaxEntryLength = 511;
  // Longest formatted text (the 4096-byte buffer less its terminator).
  static constexpr std::size_t kMaxTextLength = 4095;

  // A catalogue of the file at `path` (nullopt: no file named).
  explicit ErrorCatalogue(std::optional<std::string> path);
  // A catalogue of the file that `source` names at each load attempt.
  explicit ErrorCatalogue(PathSource source);
  ErrorCatalogue(const ErrorCatalogue&) = delete;
  ErrorCatalogue& operator=(const ErrorCatalogue&) = delete;

  // Loads the file unless it is loaded already. Returns whether the
  // catalogue is loaded; a failure is not remembered.
  bool load();
  bool loaded() const;

  // The format of `code`: its first entry, or "Unknown Error Code: <code>"
  // when it has none or an empty one (also while the catalogue is
  // unavailable). Loads first.
  std::string format(std::int32_t code);

  // The catalogue text of code base + offset: its format filled with
  // `first` (or "[no value available]" when null) and, when not null,
  // `second` and `third`. While the catalogue is unavailable: for offset 0
  // "Error - Invalid errors file: <path>" or "Error - No error file
  // specified."; for any other offset the empty string. Loads first.
  std::string text(std::uint32_t base, std::uint32_t offset,
                   const char* first = nullptr, const char* second = nullptr,
                   const char* third = nullptr);

  // The entries of a file's content by code, first entry of each code kept.
  using Entries = std::unordered_map<std::int32_t, std::string>;
  static Entries parse(std::string_view content);

 private:
  bool loadLocked();
  std::string formatLocked(std::int32_t code) const;

  PathSource source_;
  mutable std::mutex mu_;
  bool loaded_ = false;
  std::optional<std::string> last_path_;  // path of the last load attempt
  Entries entries_;
};

// Fills `format` with `args` as described above; the result is cut to
// ErrorCatalogue::kMaxTextLength bytes.
std::string formatMessage(std::string_view format,
                          std::span<const std::string_view> args);

// The process-wide catalogue of the file named by QV_ERRORS (created on
// first use, lives until the process ends).
ErrorCatalogue& processCatalogue();

}  // namespace talvo

#endif  // TALVO_RUNTIME_EXCEPT_CATALOGUE_H_
