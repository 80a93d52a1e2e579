// LocatorService: what the daemon keeps to answer lookUp, the question on
// which hosts a service runs.
//
// It holds the reading locator (made on the first question, re-sourced when
// its files change on disk: a changed group file rebuilds it, a changed
// host file is reloaded alone; dropped again when the host file cannot be
// read), the local host's name and the tag counter.
//
// lookUp() answers from the host file, or, when the service is not listed
// here and hops remain, says which daemon to ask next and with which tag:
// the first host (after rotation) that the host file lists for the reserved
// service "QV_daemon". A tag records the daemons a question passed: a
// question without a tag (an empty tag counts as none) gets "<counter>:
// <host>" (":<host>" while the counter is 0; the counter then advances,
// wrapping to 1), a tagged one gets ":<host>" appended. A question is never
// passed to a daemon whose whole host name is already a piece of its tag,
// nor passed on by a daemon that is already in it.
//
// Trace lines (diagnostics level not 0): "lookup demand...", "Locator
// database has changed, re-sourcing ]", "locator initialisation failed with
// <n> ]", and the files' own diagnostics.
//
// Thread safety: none; the daemon's event-loop thread uses it.

#ifndef TALVO_LOCATOR_LOCATOR_SERVICE_H_
#define TALVO_LOCATOR_LOCATOR_SERVICE_H_

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "locator/locator.h"
#include "runtime/except/exception.h"

namespace talvo::locator {

// INITIALIZE minor of a locator that cannot be made ready.
inline constexpr std::uint32_t kMinorLocatorInit = 10183;
inline constexpr std::string_view kDaemonService = "QV_daemon";

// What to do with a question.
struct LookUpStep {
  Status failure;  // the exception of the reply, if any
  Names hosts;     // the answer (when no forward)
  bool found = false;
  // Set when the question goes on to the daemon of `next_host`.
  std::optional<std::string> next_host;
  std::string next_tag;
  std::uint8_t next_hops = 0;
};

class LocatorService {
 public:
  LocatorService(LocatorOptions options, std::string host_name);
  ~LocatorService();

  // Step 1 of a question: answers it here or says where to pass it.
  LookUpStep lookUp(std::string_view service, std::uint8_t hops,
                    std::string_view tag, std::time_t now);

  // The tag for a question passed on to `next_host`; nullopt when the
  // question has been there, or here, already. Advances the counter when
  // `tag` is empty.
  std::optional<std::string> nextTag(std::string_view tag,
                                     std::string_view next_host);

  // Makes the locator ready (see above); INITIALIZE 10183 when it cannot be.
  Status ready();

  const std::string& hostName() const { return host_name_; }
  std::uint32_t tagCounter() const { return counter_; }
  void setTagCounter(std::uint32_t value) { counter_ = value; }
  bool loaded() const { return locator_ != nullptr; }

 private:
  LocatorOptions options_;
  std::string host_name_;
  std::unique_ptr<Locator> locator_;
  std::uint32_t counter_ = 0;
};

}  // namespace talvo::locator

#endif  // TALVO_LOCATOR_LOCATOR_SERVICE_H_
