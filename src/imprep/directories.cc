// Repository directories, their owner files, and the walks over them.
#include <cerrno>
#include <memory>
#include <string>

#include "imprep/names.h"
#include "imprep/repository.h"
#include "platform/file_system.h"
#include "platform/files.h"

namespace talvo::imprep {
namespace {

constexpr std::string_view kDirSuffix = " -dir-";
constexpr std::size_t kMaxOwnerFileBytes = 1 << 20;

std::string ownerFileFailure(std::string_view directory) {
  std::string text = "(The directory path is '";
  text += directory;
  text +=
      "'. This directory may have been corrupted externally. Try removing it "
      "and re-entering it in the implementation repository)";
  return text;
}

std::string child(std::string_view directory, std::string_view entry) {
  std::string name(directory);
  name += '\\';
  name += entry;
  return name;
}

}  // namespace

bool ImpRepository::hasDirRights(std::string_view directory,
                                 std::string_view principal) const {
  if (!isSafeName(directory)) return false;
  std::string text;
  if (platform::readRegularFile(ownerPath(directory), kMaxOwnerFileBytes,
                                &text) != 0) {
    return false;
  }
  // The first word, its first character (the opening ";") skipped.
  std::size_t start = text.find_first_not_of(" \t\r\n\v\f");
  if (start == std::string::npos) return false;
  std::size_t end = text.find_first_of(" \t\r\n\v\f", start);
  std::string_view word = std::string_view(text).substr(
      start + 1,
      end == std::string::npos ? std::string::npos : end - start - 1);
  while (!word.empty()) {
    std::size_t semi = word.find(';');
    std::string_view entry = word.substr(0, semi);
    if (!entry.empty() && entry == principal) return true;
    if (semi == std::string_view::npos) break;
    word.remove_prefix(semi + 1);
  }
  return false;
}

Status ImpRepository::checkParent(std::string_view principal,
                                  std::string_view name) const {
  std::size_t sep = name.find_last_of("\\/");
  if (sep == std::string_view::npos) {
    if (platform::fileKind(root_) != platform::FileKind::kDirectory) {
      return fail<CORBA::INTERNAL>(10157, root_);
    }
    return nullptr;
  }
  std::string directory(name.substr(0, sep));
  if (!isSafeName(directory)) return fail<CORBA::BAD_PARAM>(10033, directory);
  if (platform::fileKind(dirPath(directory)) !=
      platform::FileKind::kDirectory) {
    return fail<CORBA::BAD_OPERATION>(10254, directory);
  }
  if (!hasDirRights(directory, principal)) {
    return fail<CORBA::NO_PERMISSION>(10127, directory);
  }
  return nullptr;
}

Status ImpRepository::checkDirectory(std::string_view principal,
                                     std::string_view directory) const {
  std::string name(directory);
  if (!isSafeName(name)) return fail<CORBA::BAD_PARAM>(10033, name);
  if (platform::fileKind(dirPath(name)) != platform::FileKind::kDirectory) {
    return fail<CORBA::BAD_OPERATION>(10254, name);
  }
  if (!hasDirRights(name, principal)) {
    return fail<CORBA::NO_PERMISSION>(10127, name);
  }
  return nullptr;
}

Status ImpRepository::listServers(std::string_view directory,
                                  std::vector<std::string>* out) const {
  out->clear();
  std::string path = root_;
  if (!directory.empty()) {
    if (!isSafeName(directory)) {
      return fail<CORBA::BAD_PARAM>(10033, std::string(directory));
    }
    path = dirPath(directory);
  }
  std::vector<platform::DirEntry> entries;
  if (platform::fileKind(path) != platform::FileKind::kDirectory ||
      platform::listDirectory(path, &entries) != 0) {
    if (directory.empty()) return fail<CORBA::INTERNAL>(10157, root_);
    return fail<CORBA::BAD_OPERATION>(10254, std::string(directory));
  }
  out->reserve(entries.size());
  for (platform::DirEntry& e : entries) {
    // Directories being made or removed are not there yet, or no longer.
    if (platform::isStagingName(e.name, nullptr)) continue;
    if (e.isDirectory) {
      out->push_back(e.name + std::string(kDirSuffix));
      continue;
    }
    // A record file: its first ".IMP" ends the name.
    std::size_t imp = e.name.find(".IMP");
    if (imp != std::string::npos && imp > 0 && imp + 4 == e.name.size()) {
      e.name.resize(imp);
      out->push_back(std::move(e.name));
    }
  }
  return nullptr;
}

Status ImpRepository::newDirectory(std::string_view principal,
                                   std::string_view directory) {
  std::string name(directory);
  if (!isSafeName(name)) return fail<CORBA::BAD_PARAM>(10033, name);
  if (!isSafeUser(principal)) {
    return fail<CORBA::BAD_PARAM>(10033, std::string(principal));
  }
  const std::string path = dirPath(name);
  if (platform::fileKind(path) != platform::FileKind::kNone) {
    return fail<CORBA::BAD_OPERATION>(10253, name);
  }
  std::size_t sep = name.find_last_of("\\/");
  if (sep != std::string::npos) {
    std::string parent = name.substr(0, sep);
    if (platform::fileKind(dirPath(parent)) != platform::FileKind::kDirectory) {
      return fail<CORBA::BAD_OPERATION>(10254, parent);
    }
    if (!hasDirRights(parent, principal)) {
      return fail<CORBA::NO_PERMISSION>(10127, parent);
    }
  }
  // The directory is made aside with its owner file and renamed into
  // place, so that it never exists without one, whenever the daemon stops.
  const std::size_t slash = path.rfind('/');
  const std::string aside =
      path.substr(0, slash + 1) + platform::stagingName("new");
  if (platform::makeDirectory(aside) != 0) {
    return fail<CORBA::INTERNAL>(10153, path);
  }
  if (platform::rewriteFile(aside + "/OWNER", framed(principal)) != 0) {
    platform::removeTree(aside);
    return fail<CORBA::INTERNAL>(10153, path);
  }
  if (int error = platform::renameNoReplace(aside, path)) {
    platform::removeTree(aside);
    if (error == EEXIST || error == ENOTEMPTY) {
      return fail<CORBA::BAD_OPERATION>(10253, name);
    }
    return fail<CORBA::INTERNAL>(10153, path);
  }
  return nullptr;
}

Status ImpRepository::deleteDirectory(std::string_view principal,
                                      std::string_view directory,
                                      bool deleteChildren) {
  if (Status s = checkDirectory(principal, directory)) return s;
  std::vector<std::string> entries;
  if (Status s = listServers(directory, &entries)) return s;
  if (!entries.empty() && !deleteChildren) {
    return fail<CORBA::BAD_OPERATION>(10256, std::string(directory));
  }
  // Everything is checked before anything is removed: a refusal anywhere
  // in the tree leaves all of it as it was.
  if (Status s = checkRemovable(principal, directory)) return s;
  // Moved aside in one step, then removed: a directory is there whole or
  // not at all, and what an interrupted removal leaves goes at the next
  // start.
  const std::string path = dirPath(directory);
  const std::size_t slash = path.rfind('/');
  const std::string aside =
      path.substr(0, slash + 1) + platform::stagingName("del");
  if (platform::renameNoReplace(path, aside) != 0) {
    return fail<CORBA::INTERNAL>(10154, path);
  }
  platform::removeTree(aside);
  return nullptr;
}

Status ImpRepository::checkRemovable(std::string_view principal,
                                     std::string_view directory) const {
  if (Status s = checkDirectory(principal, directory)) return s;
  const std::string path = dirPath(directory);
  std::vector<platform::DirEntry> entries;
  if (platform::listDirectory(path, &entries) != 0) {
    return fail<CORBA::INTERNAL>(10154, path);
  }
  for (const platform::DirEntry& e : entries) {
    const std::string name = child(directory, e.name);
    if (e.isDirectory) {
      if (platform::isStagingName(e.name, nullptr)) continue;
      if (Status s = checkRemovable(principal, name)) return s;
      continue;
    }
    if (e.name == "OWNER" || platform::isTemporaryName(e.name, nullptr)) {
      continue;
    }
    std::size_t imp = e.name.find(".IMP");
    if (e.isFile && imp != std::string::npos && imp > 0 &&
        imp + 4 == e.name.size()) {
      const std::string server = name.substr(0, name.size() - 4);
      std::unique_ptr<ImpRepRecord> record;
      if (Status s = readRecord(server, &record)) return s;
      if (!isOwner(*record, principal)) {
        return fail<CORBA::NO_PERMISSION>(10126, server);
      }
      continue;
    }
    // Something the repository did not make: it is not removed unasked.
    return fail<CORBA::INTERNAL>(10154, path + "/" + e.name);
  }
  return nullptr;
}

Status ImpRepository::writeOwnerFile(std::string_view directory,
                                     const std::string& text,
                                     std::uint32_t minor, std::string detail) {
  if (platform::rewriteFile(ownerPath(directory), text) != 0) {
    return fail<CORBA::INTERNAL>(minor, std::move(detail));
  }
  return nullptr;
}

Status ImpRepository::changeOwnerDir(std::string_view principal,
                                     std::string_view directory,
                                     std::string_view newOwner) {
  if (Status s = checkDirectory(principal, directory)) return s;
  if (!isSafeUser(newOwner)) {
    return fail<CORBA::BAD_PARAM>(10033, std::string(newOwner));
  }
  if (Status s = writeOwnerFile(directory, framed(newOwner), 10155,
                                ownerFileFailure(directory))) {
    return s;
  }
  std::vector<std::string> entries;
  if (Status s = listServers(directory, &entries)) return s;
  for (const std::string& entry : entries) {
    Status s;
    if (entry.ends_with(kDirSuffix)) {
      s = changeOwnerDir(
          principal,
          child(directory, entry.substr(0, entry.size() - kDirSuffix.size())),
          newOwner);
    } else {
      s = changeOwnerServer(principal, child(directory, entry), newOwner);
    }
    if (s) return s;
  }
  return nullptr;
}

namespace {

// Adds `user` to, or removes it from, the rights line (the first line) of
// an owner file's text; false when nothing changes.
bool editRightsLine(std::string& text, std::string_view user, bool add) {
  std::size_t lf = text.find('\n');
  std::string first = text.substr(0, lf);
  std::string rest = lf == std::string::npos ? "" : text.substr(lf);
  std::size_t at = first.find(framed(user));
  if (add == (at != std::string::npos)) return false;
  if (add) {
    first += user;
    first += ';';
  } else {
    first.erase(at + 1, user.size() + 1);
  }
  text = first + rest;
  return true;
}

}  // namespace

Status ImpRepository::addDirRights(std::string_view principal,
                                   std::string_view user,
                                   std::string_view directory) {
  return editDirRights(principal, user, directory, /*add=*/true);
}

Status ImpRepository::removeDirRights(std::string_view principal,
                                      std::string_view user,
                                      std::string_view directory) {
  return editDirRights(principal, user, directory, /*add=*/false);
}

Status ImpRepository::editDirRights(std::string_view principal,
                                    std::string_view user,
                                    std::string_view directory, bool add) {
  if (Status s = checkDirectory(principal, directory)) return s;
  if (!isSafeUser(user))
    return fail<CORBA::BAD_PARAM>(10033, std::string(user));
  std::string text;
  if (platform::readRegularFile(ownerPath(directory), kMaxOwnerFileBytes,
                                &text) != 0) {
    return fail<CORBA::INTERNAL>(10141, editFailure(directory));
  }
  if (!editRightsLine(text, user, add)) return nullptr;
  return writeOwnerFile(directory, text, 10141, editFailure(directory));
}

Status ImpRepository::forEachServer(std::string_view principal,
                                    std::string_view user,
                                    std::string_view directory,
                                    AccessList which, bool add) {
  if (Status s = checkDirectory(principal, directory)) return s;
  if (!isSafeUser(user))
    return fail<CORBA::BAD_PARAM>(10033, std::string(user));
  std::vector<std::string> entries;
  if (Status s = listServers(directory, &entries)) return s;
  for (const std::string& entry : entries) {
    if (entry.ends_with(kDirSuffix)) continue;
    std::optional<std::string_view> added, removed;
    (add ? added : removed) = user;
    if (Status s = editAccessList(principal, child(directory, entry), which,
                                  added, removed)) {
      return s;
    }
  }
  return nullptr;
}

Status ImpRepository::addInvokeRights(std::string_view principal,
                                      std::string_view user,
                                      std::string_view server) {
  return editAccessList(principal, server, AccessList::kInvoke, user, {});
}
Status ImpRepository::removeInvokeRights(std::string_view principal,
                                         std::string_view user,
                                         std::string_view server) {
  return editAccessList(principal, server, AccessList::kInvoke, {}, user);
}
Status ImpRepository::addLaunchRights(std::string_view principal,
                                      std::string_view user,
                                      std::string_view server) {
  return editAccessList(principal, server, AccessList::kLaunch, user, {});
}
Status ImpRepository::removeLaunchRights(std::string_view principal,
                                         std::string_view user,
                                         std::string_view server) {
  return editAccessList(principal, server, AccessList::kLaunch, {}, user);
}
Status ImpRepository::addInvokeRightsDir(std::string_view principal,
                                         std::string_view user,
                                         std::string_view directory) {
  return forEachServer(principal, user, directory, AccessList::kInvoke, true);
}
Status ImpRepository::removeInvokeRightsDir(std::string_view principal,
                                            std::string_view user,
                                            std::string_view directory) {
  return forEachServer(principal, user, directory, AccessList::kInvoke, false);
}
Status ImpRepository::addLaunchRightsDir(std::string_view principal,
                                         std::string_view user,
                                         std::string_view directory) {
  return forEachServer(principal, user, directory, AccessList::kLaunch, true);
}
Status ImpRepository::removeLaunchRightsDir(std::string_view principal,
                                            std::string_view user,
                                            std::string_view directory) {
  return forEachServer(principal, user, directory, AccessList::kLaunch, false);
}

}  // namespace talvo::imprep
