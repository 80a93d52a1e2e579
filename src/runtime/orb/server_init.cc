// Server initialisation: the server announces that its implementation is
// ready and opens its port.

#include <string>

#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"

namespace talvo {
namespace {

std::string orEmpty(const char* s) { return s != nullptr ? s : ""; }

}  // namespace

Status Orb::initialiseServer(const std::string& server_name,
                             bool registration) {
  // There is nothing for the transports to learn here: the loop reads what
  // it needs when it is built.
  initialised_ = true;

  if (!registration) {
    const char* configured = config_.serverName();
    if (!server_name.empty() &&
        (configured == nullptr || server_name != configured)) {
      return fail<CORBA::BAD_PARAM>(kMinorServerNameMismatch, server_name);
    }
  } else {
    if (!registrar_) {
      // The daemon's client registers the hook; without it the daemon
      // cannot be asked.
      return fail<CORBA::INITIALIZE>(0, "no registrar for " + server_name);
    }
    ServerRegistration answer;
    if (Status st = registrar_(server_name, answer)) return st;
    config_.setServerName(server_name.c_str());
    config_.setServerPort(answer.port.c_str());
    config_.setServerComms(answer.comms.c_str());
    config_.setServerCode(answer.code.c_str());
  }

  const std::string name = orEmpty(config_.serverName());
  const char* port = config_.serverPort();
  const bool chosen = port == nullptr || *port == '\0';
  std::uint16_t bound = 0;
  if (Status st = listen(chosen ? "0" : port, &bound)) {
    trace("Initialisation of server \"" +
              (server_name.empty() ? name : server_name) + "\" failed... ]",
          true);
    return st;
  }
  if (chosen) config_.setServerPort(std::to_string(bound).c_str());
  // The port the daemon assigned for IIOP, unless it is the same one.
  const char* iiop = config_.iiopPort();
  if (iiop != nullptr && *iiop != '\0' && iiop != std::to_string(bound)) {
    if (Status st = listen(iiop)) {
      trace("Initialisation of server \"" +
                (server_name.empty() ? name : server_name) + "\" failed... ]",
            true);
      return st;
    }
  }

  const char* comms = config_.serverComms();
  const char* code = config_.serverCode();
  trace("Server \"" + name + "\" is now available to the network ]", true);
  trace("[ Configuration " +
            orEmpty(comms != nullptr ? comms : config_.defaultComms()) + "/" +
            orEmpty(config_.serverPort()) + "/" +
            orEmpty(code != nullptr ? code : config_.defaultCode()) + " ]",
        false);
  return nullptr;
}

}  // namespace talvo
