// Locator: the host and group files of one directory together, the
// service lookup, and the nine management operations that edit and list
// them.
//
// The files are "Talvo.hst" and "Talvo.grp" in the directory given
// (QV_LOCATOR_PATH; "" makes them "/Talvo.hst" and "/Talvo.grp"). A
// reading locator loads the group file and then the host file, whose
// entries get the hosts of their groups appended (own hosts first, then
// each group's hosts not yet listed). serviceHosts() answers a service's
// host list rotated by the time: the item at position i goes to position
// (t + i) mod n for t the time in seconds.
//
// The management operations each make a locator for one operation: an
// edit loads the one file it changes for update, applies its edit to every
// item in order (an item that fails raises CORBA::LOCATOR with the
// operation's minor code and the item, once; later items are still
// applied), and saves the file when an edit succeeded; a listing loads
// both files for reading. Items and names that the reader would not read
// back are refused before any file is touched. A save that fails is
// ASCII_FILE 10543 with the path and answers false; the file is unchanged.
//
// Thread safety: none; one thread uses a locator.

#ifndef TALVO_LOCATOR_LOCATOR_H_
#define TALVO_LOCATOR_LOCATOR_H_

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "locator/locator_file.h"
#include "platform/stamped_file.h"
#include "runtime/except/exception.h"

namespace talvo::locator {

// CORBA::LOCATOR minor codes.
inline constexpr std::uint32_t kMinorHostListed = 10521;
inline constexpr std::uint32_t kMinorGroupListed = 10522;
inline constexpr std::uint32_t kMinorNoServer = 10523;
inline constexpr std::uint32_t kMinorHostNotListed = 10524;
inline constexpr std::uint32_t kMinorGroupNotListed = 10525;

struct LocatorOptions {
  std::string directory;  // the value of QV_LOCATOR_PATH ("" when unset)
  Diagnostics diagnostics;
  platform::BackupHook save_hook;  // faults injected into saves (tests)
};

std::string hostFilePath(const std::string& directory);
std::string groupFilePath(const std::string& directory);

class Locator {
 public:
  enum class Files { kBoth, kHostOnly, kGroupOnly };
  // What changed on disk.
  enum Change : int { kUnchanged = 0, kHostFile = 2, kGroupFile = 3 };

  // Makes and loads the files chosen. The first failure of a load is
  // returned (the locator is still made; see initFailure()).
  static std::unique_ptr<Locator> make(Files files, OpenMode mode,
                                       const LocatorOptions& options,
                                       Status* failure);

  // 1 when the host file could not be loaded, else 0.
  int initFailure() const;
  LocatorFile* hostFile() { return host_.get(); }
  LocatorFile* groupFile() { return group_.get(); }

  Change changed() const;
  // Loads the host file again (groups resolved against the loaded group
  // file).
  Status reloadHostFile();

  // The service's hosts rotated by `now` (seconds); empty when the service
  // has no entry or no hosts.
  Names serviceHosts(std::string_view service, std::time_t now) const;

 private:
  explicit Locator(const LocatorOptions& options) : options_(options) {}
  LocatorOptions options_;
  std::unique_ptr<LocatorFile> host_;
  std::unique_ptr<LocatorFile> group_;
};

// The six edits and the three listings.
enum class Edit {
  kAddHostsToServer,
  kAddHostsToGroup,
  kAddGroupsToServer,
  kDelHostsFromServer,
  kDelHostsFromGroup,
  kDelGroupsFromServer,
};
enum class Listing { kHostsInServer, kHostsInGroup, kGroupsInServer };

// `*ok` is the operation's result; the Status, when not null, is the
// exception of the reply (it may come with `*ok` true: some items were
// applied, others failed).
Status editLocator(const LocatorOptions& options, Edit edit,
                   std::string_view name, const Names& items, bool* ok);
Status listLocator(const LocatorOptions& options, Listing listing,
                   std::string_view name, Names* out, bool* ok);

}  // namespace talvo::locator

#endif  // TALVO_LOCATOR_LOCATOR_H_
