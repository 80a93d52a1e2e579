#include "runtime/except/names.h"

#include <optional>

namespace talvo {

namespace {

constexpr std::string_view kSystemScopePrefix = "CORBA::StExcep::";
constexpr std::string_view kShortScopePrefix = "CORBA::";
constexpr std::string_view kSystemRepoPrefix = "IDL:omg.org/CORBA/";
constexpr std::string_view kGeneralRepoPrefix = "IDL:";
constexpr std::string_view kRepoVersion = ":1.0";

bool isRepoId(NameForm form) {
  return form == NameForm::kSystemRepoId || form == NameForm::kGeneralRepoId;
}

bool isScoped(NameForm form) {
  return form == NameForm::kSystemScoped || form == NameForm::kShortScoped;
}

// The core of `name` read with the pattern of `form`, or nothing when the
// name does not fit the pattern or leaves an empty core.
std::optional<std::string> takeCore(std::string_view name, NameForm form) {
  std::string_view prefix;
  switch (form) {
    case NameForm::kSystemScoped:
      prefix = kSystemScopePrefix;
      break;
    case NameForm::kShortScoped:
      prefix = kShortScopePrefix;
      break;
    case NameForm::kPlain:
      break;
    case NameForm::kSystemRepoId:
      prefix = kSystemRepoPrefix;
      break;
    case NameForm::kGeneralRepoId:
      prefix = kGeneralRepoPrefix;
      break;
  }
  if (!name.starts_with(prefix)) return std::nullopt;
  std::string_view core = name.substr(prefix.size());
  if (isRepoId(form)) {
    if (auto colon = core.rfind(':'); colon != std::string_view::npos) {
      core = core.substr(0, colon);
    }
  }
  if (core.empty()) return std::nullopt;
  return std::string(core);
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (auto pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
}

}  // namespace

NameForm classifyName(std::string_view name, bool scoped_mode) {
  if (scoped_mode) {
    if (name.starts_with(kSystemScopePrefix)) return NameForm::kSystemScoped;
    if (name.starts_with(kShortScopePrefix)) return NameForm::kShortScoped;
    return NameForm::kSystemRepoId;
  }
  if (name.starts_with(kGeneralRepoPrefix)) return NameForm::kGeneralRepoId;
  return NameForm::kPlain;
}

std::string convertName(std::string_view name, NameForm target,
                        bool scoped_mode) {
  const NameForm source = classifyName(name, scoped_mode);
  if (source == target) return std::string(name);
  std::optional<std::string> core = takeCore(name, source);
  if (!core) return std::string(name);

  if (isRepoId(target) && source == NameForm::kPlain) {
    replaceAll(*core, "::", "/");
  }
  if (isScoped(target) && isRepoId(source)) replaceAll(*core, "/", "::");

  switch (target) {
    case NameForm::kSystemScoped:
      return scoped_mode ? std::string(kSystemScopePrefix) + *core : *core;
    case NameForm::kShortScoped:
      return scoped_mode ? std::string(kShortScopePrefix) + *core : *core;
    case NameForm::kPlain:
      return *core;
    case NameForm::kSystemRepoId:
      return std::string(kSystemRepoPrefix) + *core + std::string(kRepoVersion);
    case NameForm::kGeneralRepoId:
      return std::string(kGeneralRepoPrefix) + *core +
             std::string(kRepoVersion);
  }
  return std::string(name);
}

}  // namespace talvo
