#include "interface/listener_set.h"

#include <cerrno>
#include <sstream>

#include "platform/files.h"
#include "runtime/orb/orb.h"

namespace talvo::interface {
namespace {

Status cannotListen() {
  return fail<CORBA::COMM_FAILURE>(kMinorCannotListen,
                                   "Cant listen on port specified");
}

// Orb::listenIiop() opens the socket, learns its port and registers it
// in one step; the later steps have nothing left to do.
class OrbListening : public IiopListening {
 public:
  explicit OrbListening(Orb& orb) : orb_(orb) {}
  bool available() override { return orb_.hasProtocol("IIOP"); }
  Status createEndpoint(const std::string& port, int* descriptor) override {
    if (port.size() > 5 || std::stoul(port) > 65535) return cannotListen();
    Orb::IiopListener listener;
    if (Status st = orb_.listenIiop(port, listener)) return st;
    *descriptor = listener.descriptor;
    return nullptr;
  }
  bool localAddress(int descriptor) override { return descriptor >= 0; }
  Status registerListener(int) override { return nullptr; }

 private:
  Orb& orb_;
};

}  // namespace

std::unique_ptr<IiopListening> orbIiopListening(Orb& orb) {
  return std::make_unique<OrbListening>(orb);
}

Status ListenerSet::build(const std::string& root,
                          const imprep::ImpRepository& repository,
                          IiopListening* runtime, imprep::TraceSink trace,
                          ListenerSet& out) {
  out = ListenerSet();
  out.runtime_ = runtime;
  out.trace_ = std::move(trace);
  const std::string path = root + "/" + kPortsListFile;
  std::error_code error;
  std::optional<std::string> text = platform::readFile(path, &error);
  // A ports list that is there but may not be read stops the start; one
  // that is not there is an empty set.
  if (!text && (error.value() == EPERM || error.value() == EACCES)) {
    return fail<CORBA::NO_PERMISSION>(kMinorPortsListDenied);
  }
  out.trace(" ctor listener, file: " + path + " len " +
            std::to_string(out.entries_.size()));
  Status result;
  std::istringstream pairs(text.value_or(""));
  std::string name;
  std::uint32_t port = 0;
  while (pairs >> name >> port) {
    out.trace(" reading " + name);
    if (!repository.exists(name)) continue;
    out.entries_.push_back(Listener{name, port, -1});
    // A port that does not open leaves the rest to be read.
    if (Status st = out.openListener(out.entries_.back())) {
      result = std::move(st);
    }
  }
  out.trace(" len " + std::to_string(out.entries_.size()));
  return result;
}

Status ListenerSet::openListener(Listener& entry) {
  trace(" open port " + entry.serverName + " " + std::to_string(entry.port));
  if (runtime_ != nullptr && runtime_->available()) {
    const std::string port = std::to_string(entry.port);
    trace(" create listener ");
    Status st = runtime_->createEndpoint(port, &entry.descriptor);
    std::ostringstream got;
    got << " got fd listner as " << entry.descriptor << " ex: ";
    if (st) st->print(got);
    trace(got.str());
    if (st) {
      trace(" set to zero ");
      entry.port = 0;
      return st;
    }
    trace(" get sock name " + std::to_string(entry.descriptor));
    if (runtime_->localAddress(entry.descriptor)) {
      trace(" call reg listener ");
      if (runtime_->registerListener(entry.descriptor) == nullptr) {
        trace("  reged listener ");
        return nullptr;
      }
    }
  }
  entry.port = 0;
  return cannotListen();
}

}  // namespace talvo::interface
