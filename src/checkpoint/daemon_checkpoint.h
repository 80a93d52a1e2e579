// DaemonCheckPoint: the activator's checkpoint hooks over the checkpoint
// file, and the state transfer that hands a restarted daemon the servers
// its predecessor launched.
//
// Every daemon has one; without a file it holds nothing and every hook does
// nothing. Start-up gives it the file twice: a reading file (what the
// previous daemon left, read by the transfer) and a writing file (kept up
// to date with every registration and deletion of a launch record, each
// written at once). A failing file operation of a hook is not reported to
// the activator, whose table has changed already.
//
// Thread safety: none; the daemon's event-loop thread (and start-up, before
// the loop runs) alone uses it.

#ifndef TALVO_CHECKPOINT_DAEMON_CHECKPOINT_H_
#define TALVO_CHECKPOINT_DAEMON_CHECKPOINT_H_

#include <memory>
#include <string>

#include "activation/activator_hooks.h"
#include "checkpoint/checkpoint_file.h"
#include "runtime/except/exception.h"

namespace talvo {
class Activator;
}

namespace talvo::checkpoint {

class DaemonCheckPoint : public ActivationCheckpoint {
 public:
  DaemonCheckPoint() = default;

  // Replaces the reading / writing file by a new one on `path` and opens
  // it; a failure (ASCII_FILE 10541, 10543) is left in `env`.
  void openForReading(const std::string& path, CORBA::Environment& env);
  void openForWriting(const std::string& path, CORBA::Environment& env);

  // The files; null until opened.
  DaemonCPFile* readingFile() { return reading_.get(); }
  DaemonCPFile* writingFile() { return writing_.get(); }

  // Writes the entry of a registration (" DaemonCheckPoint::checkPoint ").
  void checkPoint(const std::string& server, const std::string& marker,
                  std::int32_t pid, std::uint32_t osSpecificSize,
                  const std::string& comms, const std::string& code,
                  const std::string& port, LaunchStatus status,
                  const std::optional<std::string>& principal);
  // A change of status: nothing is written.
  void checkPointUpdate(const std::string& server, const std::string& marker,
                        const std::optional<std::string>& principal,
                        LaunchStatus status);
  // Marks the entry deleted.
  void checkPointDelete(const std::string& server, const std::string& marker,
                        const std::optional<std::string>& principal);

  // ActivationCheckpoint: on while a writing file is open.
  bool enabled() const override { return writing_ && writing_->isOpen(); }
  void registered(const std::string& server, const std::string& marker,
                  std::int32_t pid, std::uint32_t osSpecificSize,
                  const std::string& comms, const std::string& code,
                  const std::string& port, LaunchStatus status,
                  const std::optional<std::string>& principal) override {
    checkPoint(server, marker, pid, osSpecificSize, comms, code, port, status,
               principal);
  }
  void updated(const std::string& server, const std::string& marker,
               const std::optional<std::string>& principal,
               LaunchStatus status) override {
    checkPointUpdate(server, marker, principal, status);
  }
  void deleted(const std::string& server, const std::string& marker,
               const std::optional<std::string>& principal) override {
    checkPointDelete(server, marker, principal);
  }

 private:
  std::unique_ptr<DaemonCPFile> reading_;
  std::unique_ptr<DaemonCPFile> writing_;
};

// The daemon's state transfer (" Daemon::transferState "): opens a reading
// file on `path` when the checkpoint has none (a failure left in `env` ends
// the transfer), then, for every live entry, re-registers it with the
// activator (empty IIOP port), asks whether its process still runs as the
// server it was launched as, and removes it when not. Entries in any other
// state are skipped, and a registration that fails is dropped. At the end
// the writing file is rewritten without the lines of deleted entries.
void transferState(DaemonCheckPoint& checkpoint, Activator& activator,
                   const std::string& path, CORBA::Environment& env);

}  // namespace talvo::checkpoint

#endif  // TALVO_CHECKPOINT_DAEMON_CHECKPOINT_H_
