#include "checkpoint/daemon_checkpoint.h"

#include "activation/activator.h"
#include "runtime/config/trace_stream.h"

namespace talvo::checkpoint {
namespace {

std::unique_ptr<DaemonCPFile> openFile(const std::string& path,
                                       DaemonCPFile::Mode mode,
                                       CORBA::Environment& env) {
  auto file = std::make_unique<DaemonCPFile>(path, mode);
  if (Status st = file->open())
    env.set(std::move(st), CORBA::Environment::kSystem);
  return file;
}

}  // namespace

void DaemonCheckPoint::openForReading(const std::string& path,
                                      CORBA::Environment& env) {
  reading_.reset();
  reading_ = openFile(path, DaemonCPFile::Mode::kRead, env);
}

void DaemonCheckPoint::openForWriting(const std::string& path,
                                      CORBA::Environment& env) {
  writing_.reset();
  writing_ = openFile(path, DaemonCPFile::Mode::kUpdate, env);
}

void DaemonCheckPoint::checkPoint(const std::string& server,
                                  const std::string& marker, std::int32_t pid,
                                  std::uint32_t osSpecificSize,
                                  const std::string& comms,
                                  const std::string& code,
                                  const std::string& port, LaunchStatus status,
                                  const std::optional<std::string>& principal) {
  traceStream() << " DaemonCheckPoint::checkPoint " << endl;
  if (!enabled()) return;
  writing_->write_data(server, marker, pid, osSpecificSize, comms, code, port,
                       static_cast<std::int32_t>(status),
                       principal.value_or(""));
}

void DaemonCheckPoint::checkPointUpdate(const std::string&, const std::string&,
                                        const std::optional<std::string>&,
                                        LaunchStatus) {}

void DaemonCheckPoint::checkPointDelete(
    const std::string& server, const std::string& marker,
    const std::optional<std::string>& principal) {
  if (!enabled()) return;
  writing_->set_del(server, marker, principal.value_or(""));
}

void transferState(DaemonCheckPoint& checkpoint, Activator& activator,
                   const std::string& path, CORBA::Environment& env) {
  traceStream() << " Daemon::transferState " << endl;
  if (checkpoint.readingFile() == nullptr) {
    checkpoint.openForReading(path, env);
    if (env.exception() != nullptr) return;
  }
  DaemonCPFile& file = *checkpoint.readingFile();
  CheckpointEntry e;
  while (file.readEntry(&e)) {
    if (e.state != 'a') continue;
    std::optional<std::string> principal;
    if (!e.principal.empty()) principal = e.principal;
    traceStream() << " call reg act for pid :" << e.pid << endl;
    // A registration that fails is dropped; the transfer goes on.
    activator.registerActivation(
        e.server, e.marker, static_cast<LaunchStatus>(e.status), e.code,
        e.comms, e.port, "", processIdBuffer(e.pid), principal);
    if (activator.isServerAlive(e.server, e.marker, principal) == nullptr) {
      activator.deleteActivation(e.server, e.marker, principal);
    }
  }
  if (DaemonCPFile* writing = checkpoint.writingFile();
      writing != nullptr && writing->isOpen()) {
    writing->compact();
  }
}

}  // namespace talvo::checkpoint
