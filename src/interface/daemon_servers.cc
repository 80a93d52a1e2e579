// The operations of the daemon object that read and change the
// implementation repository.

#include "interface/daemon.h"

namespace talvo::interface {
namespace {

using imprep::ImpRepository;
using imprep::LaunchEntry;

const char* policyName(std::uint32_t mode) {
  switch (mode) {
    case imprep::kShared:
      return "shared";
    case imprep::kUnshared:
      return "unshared";
    default:
      return "per_method";
  }
}

// The mode flags getServer reports: a shared record's submode; an unshared
// record's when it is per client or per client process; else 0.
std::uint32_t reportedModeFlags(const imprep::ImpRepRecord& record) {
  switch (record.mode()) {
    case imprep::kShared:
      return record.submode();
    case imprep::kUnshared:
      return record.submode() == imprep::kPrivate ||
                     record.submode() == imprep::kPrivatePerPid
                 ? record.submode()
                 : 0;
    default:
      return 0;
  }
}

}  // namespace

// ---- Creating servers ------------------------------------------------------

template <class Create>
Status Daemon::createServer(const Caller& caller, std::string_view serverName,
                            const std::vector<std::string>& keys,
                            const std::vector<std::string>& commands,
                            std::uint32_t keyMinor, Create create) {
  std::string name(serverName);
  // A final BEL asks for the legacy protocol; the flag is cleared when the
  // call ends, whatever happens and whatever it was before.
  const bool bel = name.size() >= 2 && name.back() == '\a';
  if (bel) {
    name.pop_back();
    legacy_ = true;
  }
  struct ClearLegacy {
    bool on;
    bool& flag;
    ~ClearLegacy() {
      if (on) flag = false;
    }
  } clear{bel, legacy_};

  if (Status st = checkAccess(caller)) return st;
  // Entry i pairs key i with command i. A key without a command cannot be
  // written as a launch line: refuse it rather than invent one.
  if (commands.size() < keys.size()) {
    return fail<CORBA::BAD_PARAM>(keyMinor, keys[commands.size()]);
  }
  std::vector<LaunchEntry> entries;
  entries.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    entries.push_back(LaunchEntry{keys[i], commands[i]});
  }
  return create(caller.principal, name, entries, legacy_);
}

Status Daemon::newSharedServer(const Caller& caller,
                               std::string_view serverName,
                               const std::vector<std::string>& markers,
                               const std::vector<std::string>& commands,
                               std::uint32_t modeFlags) {
  return createServer(
      caller, serverName, markers, commands, 10030,
      [&](const std::string& owner, const std::string& name,
          const std::vector<LaunchEntry>& entries, bool legacy) {
        return repository_->createShared(owner, name, entries, modeFlags, 1, 0,
                                         legacy);
      });
}

Status Daemon::newSharedServer2(const Caller& caller,
                                std::string_view serverName,
                                const std::vector<std::string>& markers,
                                const std::vector<std::string>& commands,
                                std::uint32_t modeFlags, std::uint32_t nservers,
                                std::int32_t wellKnownPort) {
  return createServer(
      caller, serverName, markers, commands, 10030,
      [&](const std::string& owner, const std::string& name,
          const std::vector<LaunchEntry>& entries, bool legacy) {
        // The port travels as a long and is stored as the number given.
        return repository_->createShared(
            owner, name, entries, modeFlags, nservers,
            static_cast<std::uint32_t>(wellKnownPort), legacy);
      });
}

Status Daemon::newUnSharedServer(const Caller& caller,
                                 std::string_view serverName,
                                 const std::vector<std::string>& markers,
                                 const std::vector<std::string>& commands,
                                 std::uint32_t modeFlags) {
  return createServer(
      caller, serverName, markers, commands, 10030,
      [&](const std::string& owner, const std::string& name,
          const std::vector<LaunchEntry>& entries, bool legacy) {
        return repository_->createUnshared(owner, name, entries, modeFlags,
                                           legacy);
      });
}

Status Daemon::newPerMethodServer(const Caller& caller,
                                  std::string_view serverName,
                                  const std::vector<std::string>& methods,
                                  const std::vector<std::string>& commands) {
  return createServer(
      caller, serverName, methods, commands, 10031,
      [&](const std::string& owner, const std::string& name,
          const std::vector<LaunchEntry>& entries, bool legacy) {
        return repository_->createPerMethod(owner, name, entries, legacy);
      });
}

// ---- Reading ---------------------------------------------------------------

Status Daemon::listServers(const Caller&, std::string_view subdir,
                           std::vector<std::string>* servers) {
  servers->clear();
  Status st = repository_->listServers(subdir, servers);
  if (st) servers->clear();
  return st;
}

Status Daemon::serverExists(const Caller&, std::string_view serverName,
                            bool* exists) {
  *exists = repository_->exists(serverName);
  return nullptr;
}

Status Daemon::describe(std::string_view serverName, ServerDescription* out) {
  std::unique_ptr<imprep::ImpRepRecord> record;
  if (Status st = repository_->readRecord(serverName, &record)) return st;
  ServerDescription d;
  d.commsProtocol = record->comms();
  d.codeProtocol = record->code();
  d.activationPolicy = policyName(record->mode());
  d.modeFlags = reportedModeFlags(*record);
  d.owner = record->owner();
  d.invokeList = record->invoke();
  d.launchList = record->launch();
  d.nservers = record->nservers();
  d.port = record->port();
  std::vector<std::string>& keys =
      record->mode() == imprep::kPerMethod ? d.methods : d.markers;
  for (const LaunchEntry& e : record->launchInfo().list()) {
    keys.push_back(e.key);
    d.commands.push_back(e.command);
  }
  *out = std::move(d);
  return nullptr;
}

Status Daemon::getServer(const Caller&, std::string_view serverName,
                         ServerDescription* out) {
  Status st = describe(serverName, out);
  if (st == nullptr) {
    out->nservers = 0;
    out->port = 0;
  }
  return st;
}

Status Daemon::getServer2(const Caller&, std::string_view serverName,
                          ServerDescription* out) {
  return describe(serverName, out);
}

// ---- Changing records and directories ----------------------------------
//
// Each runs the access check and then the repository operation of the same
// name with the principal as caller.

#define TALVO_GUARDED(call)                          \
  do {                                               \
    if (Status st = checkAccess(caller)) return st;  \
    const std::string& principal = caller.principal; \
    return repository_->call;                        \
  } while (false)

Status Daemon::deleteServer(const Caller& caller, std::string_view serverName) {
  TALVO_GUARDED(deleteServer(principal, serverName));
}

Status Daemon::addMarker(const Caller& caller, std::string_view serverName,
                         std::string_view markerName,
                         std::string_view newCommand) {
  TALVO_GUARDED(addMarker(principal, serverName, markerName, newCommand));
}

Status Daemon::removeMarker(const Caller& caller, std::string_view serverName,
                            std::string_view markerName) {
  TALVO_GUARDED(removeMarker(principal, serverName, markerName));
}

Status Daemon::addUnsharedMarker(const Caller& caller,
                                 std::string_view serverName,
                                 std::string_view markerName,
                                 std::string_view newCommand) {
  TALVO_GUARDED(addModeMarker(principal, serverName, markerName, newCommand,
                              imprep::kUnshared));
}

Status Daemon::removeUnsharedMarker(const Caller& caller,
                                    std::string_view serverName,
                                    std::string_view markerName) {
  TALVO_GUARDED(
      removeModeMarker(principal, serverName, markerName, imprep::kUnshared));
}

Status Daemon::addSharedMarker(const Caller& caller,
                               std::string_view serverName,
                               std::string_view markerName,
                               std::string_view newCommand) {
  TALVO_GUARDED(addModeMarker(principal, serverName, markerName, newCommand,
                              imprep::kShared));
}

Status Daemon::removeSharedMarker(const Caller& caller,
                                  std::string_view serverName,
                                  std::string_view markerName) {
  TALVO_GUARDED(
      removeModeMarker(principal, serverName, markerName, imprep::kShared));
}

Status Daemon::addMethod(const Caller& caller, std::string_view serverName,
                         std::string_view methodName,
                         std::string_view newCommand) {
  TALVO_GUARDED(addMethod(principal, serverName, methodName, newCommand));
}

Status Daemon::removeMethod(const Caller& caller, std::string_view serverName,
                            std::string_view methodName) {
  TALVO_GUARDED(removeMethod(principal, serverName, methodName));
}

Status Daemon::newDirectory(const Caller& caller, std::string_view dirName) {
  TALVO_GUARDED(newDirectory(principal, dirName));
}

Status Daemon::deleteDirectory(const Caller& caller, std::string_view dirName,
                               bool deleteChildren) {
  TALVO_GUARDED(deleteDirectory(principal, dirName, deleteChildren));
}

Status Daemon::changeOwnerServer(const Caller& caller,
                                 std::string_view newOwner,
                                 std::string_view serverName) {
  TALVO_GUARDED(changeOwnerServer(principal, serverName, newOwner));
}

Status Daemon::changeOwnerDir(const Caller& caller, std::string_view newOwner,
                              std::string_view dirName) {
  TALVO_GUARDED(changeOwnerDir(principal, dirName, newOwner));
}

Status Daemon::addInvokeRights(const Caller& caller, std::string_view userGroup,
                               std::string_view serverName) {
  TALVO_GUARDED(addInvokeRights(principal, userGroup, serverName));
}

Status Daemon::removeInvokeRights(const Caller& caller,
                                  std::string_view userGroup,
                                  std::string_view serverName) {
  TALVO_GUARDED(removeInvokeRights(principal, userGroup, serverName));
}

Status Daemon::addLaunchRights(const Caller& caller, std::string_view userGroup,
                               std::string_view serverName) {
  TALVO_GUARDED(addLaunchRights(principal, userGroup, serverName));
}

Status Daemon::removeLaunchRights(const Caller& caller,
                                  std::string_view userGroup,
                                  std::string_view serverName) {
  TALVO_GUARDED(removeLaunchRights(principal, userGroup, serverName));
}

Status Daemon::addInvokeRightsDir(const Caller& caller,
                                  std::string_view userGroup,
                                  std::string_view dirName) {
  TALVO_GUARDED(addInvokeRightsDir(principal, userGroup, dirName));
}

Status Daemon::removeInvokeRightsDir(const Caller& caller,
                                     std::string_view userGroup,
                                     std::string_view dirName) {
  TALVO_GUARDED(removeInvokeRightsDir(principal, userGroup, dirName));
}

Status Daemon::addLaunchRightsDir(const Caller& caller,
                                  std::string_view userGroup,
                                  std::string_view dirName) {
  TALVO_GUARDED(addLaunchRightsDir(principal, userGroup, dirName));
}

Status Daemon::removeLaunchRightsDir(const Caller& caller,
                                     std::string_view userGroup,
                                     std::string_view dirName) {
  TALVO_GUARDED(removeLaunchRightsDir(principal, userGroup, dirName));
}

Status Daemon::addDirRights(const Caller& caller, std::string_view userGroup,
                            std::string_view dirName) {
  TALVO_GUARDED(addDirRights(principal, userGroup, dirName));
}

Status Daemon::removeDirRights(const Caller& caller, std::string_view userGroup,
                               std::string_view dirName) {
  TALVO_GUARDED(removeDirRights(principal, userGroup, dirName));
}

#undef TALVO_GUARDED

}  // namespace talvo::interface
