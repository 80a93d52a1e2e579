// The sample server's object: the interface "Greeter" with the operations
// `greet` (a greeting that names the serving process) and `environment`
// (the launch environment as the process read it), plus the pieces the
// sample programs share: the signatures, the identity of a serving process,
// and the printed form of a failure.
//
// Thread safety: none; the interface's handlers run on the thread of the Orb
// that serves them.

#ifndef TALVO_EXAMPLES_GREETER_H_
#define TALVO_EXAMPLES_GREETER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/except/exception.h"
#include "runtime/protocol/request.h"

namespace talvo {
class RuntimeConfig;
}

namespace talvo::examples {

inline constexpr const char* kGreeterInterface = "Greeter";
// greet(in name) -> greeting text.
inline constexpr const char* kGreetSignature = "Ro~greet~+name{0},>{0},N{}";
// environment() -> one "NAME=value" per launch variable, in launch order.
inline constexpr const char* kEnvironmentSignature =
    "Ro~environment~,>{S{0},0},N{}";

// Who answers: fixed when the process starts.
struct ServerIdentity {
  std::string server_name;  // QV_SERVER_NAME (or the persistent name)
  // QV_SERVER_MARKER: the marker the process was launched for ("" for the
  // null marker; "*" when launched for a server serving every marker).
  std::string marker;
  std::uint32_t pid = 0;
};

// The identity of this process as `config` reads it, with `pid`.
ServerIdentity identityFrom(RuntimeConfig& config, std::uint32_t pid);

// The greeting `greet` of the object `object_marker` answers for `name` (an
// empty name greets "stranger"): "Hello, NAME! This is server SERVER
// (marker 'OBJECT_MARKER', launch marker 'MARKER', pid PID)."
std::string greetingFor(const ServerIdentity& who,
                        const std::string& object_marker,
                        const std::string& name);

// The launch variables as `config` reads them, in launch order, each as
// "NAME=value" ("NAME=" when unset).
std::vector<std::string> launchEnvironment(RuntimeConfig& config);

// The Greeter object answering for `who`. `environment` is what the
// environment operation answers.
std::shared_ptr<protocol::Interface> makeGreeter(
    ServerIdentity who, std::vector<std::string> environment);

// One line for a failure: "BAD_PARAM minor 10022 (detail)".
std::string describe(const CORBA::SystemException& e);

}  // namespace talvo::examples

#endif  // TALVO_EXAMPLES_GREETER_H_
