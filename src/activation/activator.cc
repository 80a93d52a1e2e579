#include "activation/activator.h"

#include <iostream>
#include <sstream>

#include "platform/process.h"
#include "runtime/config/trace_stream.h"

namespace talvo {

bool isNumericPrincipal(const OptionalText& principal) {
  return principal && leadingInteger(*principal) != 0;
}

Activator::Activator(ActivationRuntime& runtime,
                     ActivationCheckpoint* checkpoint)
    : runtime_(runtime),
      checkpoint_(checkpoint ? checkpoint : &defaultCheckpoint_) {
  traceStream() << " new has tab " << describeTable() << endl;
}

Activator::~Activator() { clearLaunchEnvironment(); }

std::string Activator::describeTable() const {
  return "LaunchTable(" + std::to_string(table_.size()) + " records in " +
         std::to_string(LaunchTable::kBuckets) + " buckets)";
}

LaunchRecord* Activator::getLaunchRecord(const std::string& server,
                                         const std::string& marker,
                                         const OptionalText& principal) {
  std::string key = makeLaunchKey(server, marker, principal);
  // Every binding request comes here: its trace text is only built when
  // someone reads it.
  const bool traced = traceStream().active();
  if (traced) traceStream() << " has tab " << describeTable() << endl;
  if (LaunchRecord* record = table_.find(key)) {
    if (traced) {
      traceStream() << "Activator::getLaunchRecord found key " << key
                    << " as: " << describeRecord(*record) << endl;
    }
    return record;
  }
  if (LaunchRecord* record = table_.findMatch(key)) {
    if (traced) {
      traceStream() << " found match " << describeRecord(*record) << endl;
    }
    return record;
  }
  return nullptr;
}

Status Activator::registerActivation(
    const std::string& server, const std::string& marker, LaunchStatus status,
    const std::string& code, const std::string& comms, const std::string& port,
    const std::string& iiopPort, std::vector<std::uint8_t> osSpecific,
    const OptionalText& principal) {
  traceStream() << " Activator::registerActivation " << endl;
  LaunchRecord* record = getLaunchRecord(server, marker, principal);
  if (record != nullptr) {
    traceStream() << "    re-use old launch record " << endl;
    record->osSpecific = std::move(osSpecific);
    record->code = code;
    record->comms = comms;
    record->port = port;
    record->iiopPort = iiopPort;
    record->status = status;
    record->principal = principal;
  } else {
    auto fresh = std::make_unique<LaunchRecord>();
    fresh->code = code;
    fresh->comms = comms;
    fresh->port = port;
    fresh->iiopPort = iiopPort;
    fresh->status = status;
    fresh->osSpecific = std::move(osSpecific);
    fresh->principal = principal;
    traceStream() << " make new launch record, cant reuse "
                  << describeRecord(*fresh) << endl;
    record = fresh.get();
    if (!table_.insert(makeLaunchKey(server, marker, principal),
                       std::move(fresh))) {
      return fail<CORBA::INTERNAL>(10146);
    }
  }
  if (checkpoint_->enabled()) {
    checkpoint_->registered(server, marker, record->processId(),
                            record->osSpecificSize(), record->comms,
                            record->code, record->port, record->status,
                            record->principal);
  }
  return nullptr;
}

bool Activator::updateActivation(const std::string& server,
                                 const std::string& marker,
                                 const OptionalText& principal,
                                 LaunchStatus status) {
  traceStream() << " Activator::updateActivation " << endl;
  LaunchRecord* record = getLaunchRecord(server, marker, principal);
  if (record != nullptr) record->status = status;
  if (checkpoint_->enabled()) {
    checkpoint_->updated(server, marker, principal, status);
  }
  return record != nullptr;
}

bool Activator::deleteActivation(const std::string& server,
                                 const std::string& marker,
                                 const OptionalText& principal) {
  traceStream() << " Activator::deleteActivation lookup " << server << endl;
  bool removed =
      table_.removeFirstMatch(makeLaunchKey(server, marker, principal));
  if (checkpoint_->enabled()) checkpoint_->deleted(server, marker, principal);
  return removed;
}

std::vector<std::string> Activator::splitArguments(std::string_view command) {
  return platform::splitCommand(command);
}

std::size_t Activator::countArguments(std::string_view command) {
  return platform::splitCommand(command).size();
}

bool Activator::isRegisteredProcess(const std::string& server,
                                    std::int32_t pid) const {
  for (const std::string& key : table_.keys()) {
    if (splitLaunchKey(key).server != server) continue;
    const LaunchRecord* record = table_.find(key);
    if (record != nullptr && record->status == LaunchStatus::manualLaunch &&
        record->processId() == pid) {
      return true;
    }
  }
  return false;
}

Status Activator::listActive(std::vector<ServerDetails>& out) {
  // The walk runs over a snapshot of the keys: isServerAlive may remove
  // records (its own or, through a pattern, another one) on the way.
  for (const std::string& key : table_.keys()) {
    if (table_.find(key) == nullptr) continue;  // removed during the walk
    LaunchKeyParts parts = splitLaunchKey(key);
    std::string marker = parts.marker.value_or("");
    LaunchRecord* record = isServerAlive(parts.server, marker, parts.principal);
    if (record == nullptr) continue;
    if (out.size() == out.capacity()) out.reserve(out.size() + 100);
    ServerDetails details;
    details.server = parts.server;
    details.marker = marker;
    if (!isNumericPrincipal(parts.principal)) {
      details.principal = parts.principal.value_or("");
    }
    details.code = record->code;
    details.comms = record->comms;
    details.port = record->port;
    details.osSpecific = static_cast<std::uint32_t>(record->processId());
    details.status = record->status;
    out.push_back(std::move(details));
  }
  return nullptr;
}

Status Activator::killServer(const std::string& server,
                             const std::string& marker,
                             const OptionalText& principal) {
  traceStream() << " Activator::killServer " << endl;
  if (server.empty()) {
    return fail<CORBA::BAD_OPERATION>(10241,
                                      makeLaunchKey(server, marker, principal));
  }
  if (Status error = terminateServer(server, marker, principal)) return error;
  deleteActivation(server, marker, principal);
  LaunchRecord* left = getLaunchRecord(server, marker, principal);
  traceStream() << " got launch record after removal? "
                << (left ? describeRecord(*left) : std::string("none")) << endl;
  return nullptr;
}

bool Activator::pingObject(const std::string& server, const std::string& marker,
                           const OptionalText& /*unused*/) {
  Status error = runtime_.pingObject(runtime_.localHostName(), server, marker);
  if (!error) return true;
  std::ostringstream text;
  error->print(text);
  traceStream() << text.str() << endl;
  return false;
}

bool Activator::pingServer(const OptionalText& /*unused*/) {
  std::cerr << " pingServer is not yet implemented for this platform "
            << std::endl;
  return false;
}

}  // namespace talvo
