// The implementation repository: server records, directories and rights.
//
// One ImpRepository per daemon keeps the registered servers of this host as
// text record files "<name>.IMP" under its root directory (the value of
// QV_IMP_REP_PATH). Server names holding "\" (or "/") place the record in a
// repository directory: a real directory below the root with an "OWNER" file
// listing its owner and the users with rights on it.
//
// Every operation reads the files afresh, except the shared-record
// readRecord(), which serves the binding path from a RecordCache: one stat
// per call tells whether the file still is what was read. Every change is
// written to a temporary file in the same directory, flushed and renamed over
// the original, so that a crash leaves the old file or the new one. Names are
// checked before they become paths (BAD_PARAM 10032 for server names, 10033 for
// directory names): no request reads, writes or deletes outside the root. Texts
// that would break a line of a record or owner file are refused with the
// operation's BAD_PARAM minor code.
//
// Operations return a talvo::Status: null on success, otherwise a new system
// exception (completion status COMPLETED_NO) owned by the caller. Principals
// are user names, compared exactly.
//
// Thread safety: none. The daemon calls the repository from one thread.

#ifndef TALVO_IMPREP_REPOSITORY_H_
#define TALVO_IMPREP_REPOSITORY_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "imprep/launch_info.h"
#include "imprep/record.h"
#include "imprep/record_cache.h"
#include "imprep/trace.h"
#include "runtime/except/exception.h"

namespace talvo::imprep {

enum class AccessList { kLaunch, kInvoke };

class ImpRepository {
 public:
  // Makes the repository on `root` (the value of QV_IMP_REP_PATH, null when
  // unset; one trailing "/" or "\" is dropped). Fails with INTERNAL 10144
  // (no root), 10148 (root missing, detail the root) or 10149 (root is no
  // directory). Trace lines go to `trace` (empty: none).
  static Status create(const char* root, std::unique_ptr<ImpRepository>* out,
                       TraceSink trace = {});

  const std::string& root() const { return root_; }

  // ---- Records --------------------------------------------------------

  // The record file of a server: root, "/", the name with "\" as "/",
  // ".IMP". Only meaningful for a name that passes the name check.
  std::string recordPath(std::string_view name) const;
  // True when the record file exists (false for an unsafe name).
  bool exists(std::string_view name) const;
  // Reads a record. BAD_PARAM 10032 (unsafe name), BAD_OPERATION 10241 (no
  // record), INTERNAL 10158 (not readable), 10152 (cannot be opened or read)
  // or a corruption exception of parseRecord().
  Status readRecord(std::string_view name,
                    std::unique_ptr<ImpRepRecord>* out) const;
  // As readRecord(), through the record cache: the record is shared with
  // the cache and must not be changed. Fails exactly as readRecord() would
  // on the file as it is now; traces as a read from disk does.
  Status readRecord(std::string_view name,
                    std::shared_ptr<const ImpRepRecord>* out) const;
  const RecordCache::Stats& cacheStats() const { return cache_.stats(); }
  // As readRecord(), the failure dropped: null when there is no usable
  // record.
  std::unique_ptr<ImpRepRecord> readRecordQuiet(std::string_view name) const;

  // Create a record owned by `owner` (who must have rights on the parent
  // directory). A name ending in BEL (code 7) has it removed and is created
  // with the legacy protocol "xdr/tcp" whatever `legacy` says; otherwise
  // "xdr/tcp" when `legacy`, "cdr/tcp" when not. Errors: BAD_PARAM 10032
  // (name, owner), 10030 (markers or commands) or 10031 (methods or their
  // commands), BAD_OPERATION 10248 (record exists), the parent check's
  // exceptions, INTERNAL 10145 (cannot write).
  Status createShared(std::string_view owner, std::string_view name,
                      const std::vector<LaunchEntry>& markers,
                      std::uint32_t submode, std::uint32_t nservers,
                      std::uint32_t port, bool legacy);
  Status createUnshared(std::string_view owner, std::string_view name,
                        const std::vector<LaunchEntry>& markers,
                        std::uint32_t submode, bool legacy);
  Status createPerMethod(std::string_view owner, std::string_view name,
                         const std::vector<LaunchEntry>& methods, bool legacy);

  // Writes the display form of a record.
  static void displayRecord(std::ostream& out, const ImpRepRecord& record);

  // ---- Rights -----------------------------------------------------------

  static bool isOwner(const ImpRepRecord& record, std::string_view principal);
  static bool mayLaunch(const ImpRepRecord& record, std::string_view principal);
  static bool mayInvoke(const ImpRepRecord& record, std::string_view principal);
  // True when the directory's owner file lists the principal.
  bool hasDirRights(std::string_view directory,
                    std::string_view principal) const;
  // May `principal` create the server `name` (checked name)? INTERNAL 10157,
  // BAD_OPERATION 10254 or NO_PERMISSION 10127.
  Status checkParent(std::string_view principal, std::string_view name) const;

  // ---- Directories ----------------------------------------------------

  // The records ("name") and sub-directories ("name -dir-") of a directory
  // (the root for an empty name), sorted by name.
  Status listServers(std::string_view directory,
                     std::vector<std::string>* out) const;
  // A new directory appears with its owner file or not at all.
  Status newDirectory(std::string_view principal, std::string_view directory);
  // Checks the whole tree before anything goes (see checkRemovable); a
  // refusal leaves every entry in place.
  Status deleteDirectory(std::string_view principal, std::string_view directory,
                         bool deleteChildren);
  Status changeOwnerDir(std::string_view principal, std::string_view directory,
                        std::string_view newOwner);
  Status addDirRights(std::string_view principal, std::string_view user,
                      std::string_view directory);
  Status removeDirRights(std::string_view principal, std::string_view user,
                         std::string_view directory);

  // ---- Access lists ---------------------------------------------------

  Status addInvokeRights(std::string_view principal, std::string_view user,
                         std::string_view server);
  Status removeInvokeRights(std::string_view principal, std::string_view user,
                            std::string_view server);
  Status addLaunchRights(std::string_view principal, std::string_view user,
                         std::string_view server);
  Status removeLaunchRights(std::string_view principal, std::string_view user,
                            std::string_view server);
  // The same on every record directly in a directory (not its
  // sub-directories); stops at the first failure.
  Status addInvokeRightsDir(std::string_view principal, std::string_view user,
                            std::string_view directory);
  Status removeInvokeRightsDir(std::string_view principal,
                               std::string_view user,
                               std::string_view directory);
  Status addLaunchRightsDir(std::string_view principal, std::string_view user,
                            std::string_view directory);
  Status removeLaunchRightsDir(std::string_view principal,
                               std::string_view user,
                               std::string_view directory);

  // ---- Record edits ---------------------------------------------------

  Status addMarker(std::string_view principal, std::string_view name,
                   std::string_view marker, std::string_view command);
  Status removeMarker(std::string_view principal, std::string_view name,
                      std::string_view marker);
  // As above, but the record's mode must be `mode` (BAD_OPERATION 10261).
  Status addModeMarker(std::string_view principal, std::string_view name,
                       std::string_view marker, std::string_view command,
                       std::uint32_t mode);
  Status removeModeMarker(std::string_view principal, std::string_view name,
                          std::string_view marker, std::uint32_t mode);
  Status addMethod(std::string_view principal, std::string_view name,
                   std::string_view method, std::string_view command);
  Status removeMethod(std::string_view principal, std::string_view name,
                      std::string_view method);
  Status changeOwnerServer(std::string_view principal, std::string_view name,
                           std::string_view newOwner);
  // Adds `add` and/or removes `remove` on one access list of a record.
  Status editAccessList(std::string_view principal, std::string_view name,
                        AccessList which, std::optional<std::string_view> add,
                        std::optional<std::string_view> remove);
  Status deleteServer(std::string_view principal, std::string_view name);

 private:
  ImpRepository(std::string root, TraceSink trace);

  void trace(std::string_view line) const {
    if (trace_) trace_(line);
  }
  // Root, "/", relative path of a (checked) directory name.
  std::string dirPath(std::string_view directory) const;
  std::string ownerPath(std::string_view directory) const;
  Status createRecord(std::string_view owner, std::string_view name,
                      RecordContent content, bool legacy);
  // Reads a record's text and parses it (with its layout, and the stamp
  // of the file read when `stamp` is given). Parse trace lines go to
  // `trace` (the repository's sink when null).
  Status load(std::string_view name, std::string* text,
              std::unique_ptr<ImpRepRecord>* record, RecordLayout* layout,
              platform::FileStamp* stamp = nullptr,
              const TraceSink* trace = nullptr) const;
  Status editKey(std::string_view principal, std::string_view name,
                 std::string_view key, std::optional<std::string_view> command,
                 bool method);
  // Directory checks shared by the directory operations: the name, that it
  // exists (10254) and the caller's rights (10127).
  Status checkDirectory(std::string_view principal,
                        std::string_view directory) const;
  // Before a directory is deleted: the caller has rights on it and on every
  // directory below, owns every record in them, and they hold nothing the
  // repository did not make (else INTERNAL 10154 with the path).
  Status checkRemovable(std::string_view principal,
                        std::string_view directory) const;
  // addDirRights / removeDirRights: the rights line of a directory's owner
  // file gains or loses `user`.
  Status editDirRights(std::string_view principal, std::string_view user,
                       std::string_view directory, bool add);
  Status forEachServer(std::string_view principal, std::string_view user,
                       std::string_view directory, AccessList which, bool add);
  Status writeOwnerFile(std::string_view directory, const std::string& text,
                        std::uint32_t minor, std::string detail);

  std::string root_;
  TraceSink trace_;
  mutable RecordCache cache_;
};

}  // namespace talvo::imprep

#endif  // TALVO_IMPREP_REPOSITORY_H_
