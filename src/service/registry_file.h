// The settings store as a text file (the registry of the local machine):
// the path in QV_REGISTRY, default "/etc/talvo/registry".
//
//     # comment lines start with '#' or ';'
//     [SOFTWARE\Brevan Technologies\Talvo\2.3c\Daemon]
//     Log=yes
//
// Key and value names compare without regard to case; a value is the text
// after the first "=" to the end of the line, a final carriage return
// dropped. The file is read afresh on each call.
//
// This is the small part of the store that the service wrapper and the
// daemon's start-up need; it stays behind these two functions so that the
// shared settings store can take its place.
//
// Thread safety: none needed; called from the service thread only.

#ifndef TALVO_SERVICE_REGISTRY_FILE_H_
#define TALVO_SERVICE_REGISTRY_FILE_H_

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvo::service {

// QV_REGISTRY, or "/etc/talvo/registry" when unset or empty.
std::string registryPath();

// The values of `key`, by lower-case name. nullopt when the file cannot be
// read or has no section for the key (the key cannot be opened).
std::optional<std::map<std::string, std::string>> readRegistryKey(
    const std::string& key);

// Sets `values` under `key`, creating the key and the file if need be and
// keeping every other line as it was. The file is rewritten through a
// temporary file and rename. Returns 0 or an errno.
int writeRegistryValues(
    const std::string& key,
    const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace talvo::service

#endif  // TALVO_SERVICE_REGISTRY_FILE_H_
