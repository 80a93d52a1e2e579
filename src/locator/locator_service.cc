#include "locator/locator_service.h"

#include <vector>

namespace talvo::locator {

LocatorService::LocatorService(LocatorOptions options, std::string host_name)
    : options_(std::move(options)), host_name_(std::move(host_name)) {}

LocatorService::~LocatorService() = default;

Status LocatorService::ready() {
  const Diagnostics& diag = options_.diagnostics;
  if (locator_ != nullptr) {
    Locator::Change change = locator_->changed();
    if (change != Locator::kUnchanged) {
      diag.write("Locator database has changed, re-sourcing ]");
    }
    if (change == Locator::kGroupFile) {
      locator_.reset();
    } else if (change == Locator::kHostFile) {
      locator_->reloadHostFile();  // a failure shows in initFailure()
    }
  }
  if (locator_ == nullptr) {
    Status ignored;  // failures of the making are the daemon's own
    locator_ = Locator::make(Locator::Files::kBoth, OpenMode::kRead, options_,
                             &ignored);
  }
  if (int failure = locator_->initFailure()) {
    diag.write("locator initialisation failed with " + std::to_string(failure) +
               " ]");
    locator_.reset();
    return fail<CORBA::INITIALIZE>(kMinorLocatorInit);
  }
  return nullptr;
}

LookUpStep LocatorService::lookUp(std::string_view service, std::uint8_t hops,
                                  std::string_view tag, std::time_t now) {
  options_.diagnostics.write(
      "lookup demand..." + std::string(service) + " from " +
      (tag.empty() ? std::string("client") : std::string(tag)) + " with " +
      std::to_string(hops) + " hops ]");
  LookUpStep step;
  if ((step.failure = ready())) return step;
  step.hosts = locator_->serviceHosts(service, now);
  step.found = !step.hosts.empty();
  if (step.found || hops == 0) return step;
  Names daemons = locator_->serviceHosts(kDaemonService, now);
  if (daemons.empty()) return step;
  std::optional<std::string> next = nextTag(tag, daemons.front());
  if (!next) return step;
  step.next_host = daemons.front();
  step.next_tag = std::move(*next);
  step.next_hops = static_cast<std::uint8_t>(hops - 1);
  return step;
}

std::optional<std::string> LocatorService::nextTag(std::string_view tag,
                                                   std::string_view next_host) {
  if (tag.empty()) {
    std::string first = counter_ == 0
                            ? ":" + host_name_
                            : std::to_string(counter_) + ":" + host_name_;
    if (++counter_ == 0) counter_ = 1;
    return first;
  }
  // The pieces after the first (the counter) are the daemons passed, each
  // compared as a whole name.
  std::size_t pos = tag.find(':');
  while (pos != std::string_view::npos) {
    std::size_t end = tag.find(':', pos + 1);
    std::string_view piece = tag.substr(pos + 1, end - pos - 1);
    if (piece == next_host || piece == host_name_) return std::nullopt;
    pos = end;
  }
  return std::string(tag) + ":" + host_name_;
}

}  // namespace talvo::locator
