// Checks on the texts a request hands to the repository.
//
// Server and directory names become paths under the repository root, and
// markers, methods, commands and user names become parts of lines in
// record and owner files. Each is checked before anything is built from it,
// so that no request reaches a file outside the root or breaks a line.
//
// Thread safety: pure functions.

#ifndef TALVO_IMPREP_NAMES_H_
#define TALVO_IMPREP_NAMES_H_

#include <string>
#include <string_view>

namespace talvo::imprep {

// True for a repository name (server or directory) that is safe to turn into
// a path: not empty, not beginning with "/" or "\", no empty, "." or ".."
// component (components are separated by "\" or "/"), no component longer
// than kMaxNameComponent, no ":" and no control character (codes 0 to 31
// and 127).
bool isSafeName(std::string_view name);

// The longest component of a name: a record file adds ".IMP" and the file
// system allows 255 bytes.
inline constexpr std::size_t kMaxNameComponent = 251;

// A name a new server may take: a safe name without the pattern characters
// "*", "?" and "[" (a server named by a pattern would answer for others)
// and not ending in " -dir-" (the mark of a directory in listings).
bool isNewServerName(std::string_view name);

// The name's components joined with "/" (for a path below the root).
std::string toRelativePath(std::string_view name);

// True when `text` holds a control character (codes 0 to 31 and 127).
bool hasControlCharacter(std::string_view text);

// A marker or method usable as the first word of a record line: not empty,
// no ":", no blank and no control character.
bool isSafeKey(std::string_view key);

// A launch command that fits on a record line: no control character.
bool isSafeCommand(std::string_view command);

// A user name that fits into an access list or owner file: not empty, no
// ";", no white space and no control character.
bool isSafeUser(std::string_view user);

// The user framed by ";" on both sides, as access lists hold it.
std::string framed(std::string_view user);

// The detail of an edit that could not rewrite the record of server `name`.
std::string editFailure(std::string_view name);

}  // namespace talvo::imprep

#endif  // TALVO_IMPREP_NAMES_H_
