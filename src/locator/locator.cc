#include "locator/locator.h"

namespace talvo::locator {

std::string hostFilePath(const std::string& directory) {
  return directory + "/Talvo.hst";
}

std::string groupFilePath(const std::string& directory) {
  return directory + "/Talvo.grp";
}

std::unique_ptr<Locator> Locator::make(Files files, OpenMode mode,
                                       const LocatorOptions& options,
                                       Status* failure) {
  std::unique_ptr<Locator> l(new Locator(options));
  auto note = [&](Status st) {
    if (st && failure != nullptr && *failure == nullptr)
      *failure = std::move(st);
  };
  if (files != Files::kHostOnly) {
    l->group_ = std::make_unique<LocatorFile>(
        FileKind::kGroup, groupFilePath(options.directory), mode);
    note(l->group_->load(options.diagnostics));
  }
  if (files != Files::kGroupOnly) {
    l->host_ = std::make_unique<LocatorFile>(
        FileKind::kHost, hostFilePath(options.directory), mode);
    note(l->host_->load(options.diagnostics, l->group_ && !l->group_->failed()
                                                 ? l->group_.get()
                                                 : nullptr));
  }
  return l;
}

int Locator::initFailure() const {
  return host_ != nullptr && host_->failed() ? 1 : 0;
}

Locator::Change Locator::changed() const {
  if (group_ != nullptr && group_->changedOnDisk()) return kGroupFile;
  if (host_ != nullptr && host_->changedOnDisk()) return kHostFile;
  return kUnchanged;
}

Status Locator::reloadHostFile() {
  return host_->load(options_.diagnostics,
                     group_ && !group_->failed() ? group_.get() : nullptr);
}

Names Locator::serviceHosts(std::string_view service, std::time_t now) const {
  const Names* list = host_ != nullptr ? host_->first(service) : nullptr;
  if (list == nullptr || list->empty()) return {};
  const std::size_t n = list->size();
  const std::size_t t = static_cast<std::size_t>(now) % n;
  Names out(n);
  for (std::size_t i = 0; i < n; ++i) out[(t + i) % n] = (*list)[i];
  return out;
}

namespace {

struct EditRule {
  bool group_file;  // the group file, else the host file
  bool add;
  bool second;  // the second list (groups), else the first (hosts)
  std::uint32_t minor;
};

EditRule ruleOf(Edit edit) {
  switch (edit) {
    case Edit::kAddHostsToServer:
      return {false, true, false, kMinorHostListed};
    case Edit::kAddHostsToGroup:
      return {true, true, false, kMinorHostListed};
    case Edit::kAddGroupsToServer:
      return {false, true, true, kMinorGroupListed};
    case Edit::kDelHostsFromServer:
      return {false, false, false, kMinorHostNotListed};
    case Edit::kDelHostsFromGroup:
      return {true, false, false, kMinorHostNotListed};
    case Edit::kDelGroupsFromServer:
      return {false, false, true, kMinorGroupNotListed};
  }
  return {};
}

}  // namespace

Status editLocator(const LocatorOptions& options, Edit edit,
                   std::string_view name, const Names& items, bool* ok) {
  *ok = false;
  const EditRule rule = ruleOf(edit);
  if (rule.add) {
    // What the reader could not read back would be lost on the next load.
    if (!validName(name)) {
      return fail<CORBA::LOCATOR>(rule.minor, std::string(name));
    }
    for (const std::string& item : items) {
      if (!validItem(item)) return fail<CORBA::LOCATOR>(rule.minor, item);
    }
  }
  Status st;
  std::unique_ptr<Locator> l = Locator::make(
      rule.group_file ? Locator::Files::kGroupOnly : Locator::Files::kHostOnly,
      OpenMode::kUpdate, options, &st);
  if (st) return st;
  LocatorFile& file = rule.group_file ? *l->groupFile() : *l->hostFile();
  for (const std::string& item : items) {
    bool done = rule.add ? (rule.second ? file.addSecond(name, item)
                                        : file.addFirst(name, item))
                         : (rule.second ? file.removeSecond(name, item)
                                        : file.removeFirst(name, item));
    if (!done && st == nullptr) st = fail<CORBA::LOCATOR>(rule.minor, item);
  }
  if (Status saved = file.save(options.save_hook)) return saved;
  *ok = true;
  return st;
}

Status listLocator(const LocatorOptions& options, Listing listing,
                   std::string_view name, Names* out, bool* ok) {
  *ok = false;
  out->clear();
  Status st;
  std::unique_ptr<Locator> l =
      Locator::make(Locator::Files::kBoth, OpenMode::kRead, options, &st);
  // A group file that cannot be read leaves the groups missing; the host
  // file is needed.
  if (l->initFailure() != 0) return st;
  if (listing == Listing::kHostsInGroup && l->groupFile()->failed()) return st;
  const Names* list = nullptr;
  std::uint32_t minor = kMinorNoServer;
  switch (listing) {
    case Listing::kHostsInServer:
      list = l->hostFile()->first(name);
      break;
    case Listing::kHostsInGroup:
      list = l->groupFile()->first(name);
      minor = kMinorGroupNotListed;
      break;
    case Listing::kGroupsInServer:
      list = l->hostFile()->second(name);
      break;
  }
  if (list == nullptr || list->empty()) {
    return fail<CORBA::LOCATOR>(minor, std::string(name));
  }
  *out = *list;
  *ok = true;
  return nullptr;
}

}  // namespace talvo::locator
