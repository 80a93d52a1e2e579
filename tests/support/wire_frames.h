// Raw broker-protocol frames for tests and benches that play misbehaving
// or greedy clients on plain sockets: a request to the daemon object, and
// a process's memory as the kernel counts it. Header only; a user links
// talvo_protocol.
//
// Threading: none.

#ifndef TALVO_TESTS_SUPPORT_WIRE_FRAMES_H_
#define TALVO_TESTS_SUPPORT_WIRE_FRAMES_H_

#include <sys/types.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/protocol/codec.h"
#include "runtime/protocol/frame.h"
#include "runtime/protocol/message.h"
#include "runtime/protocol/signature.h"

namespace talvo::testing {

// A whole frame (length included) calling `signature` on the daemon object
// with `args`; empty when the signature or arguments do not encode.
inline Bytes daemonRequestFrame(const std::string& signature,
                                const std::vector<protocol::Value>& args,
                                std::uint32_t id = 1) {
  protocol::Signature sig;
  if (protocol::parseSignature(signature, sig) != nullptr) return {};
  protocol::RequestHeader h;
  h.request_id = id;
  h.marker = "";
  h.interface_name = "QV_daemon";
  h.operation = sig.operation;
  auto enc = protocol::makeEncoder(protocol::CodecKind::kXdr);
  if (protocol::encodeRequest(*enc, h, sig, args) != nullptr) return {};
  return makeTalvoFrame(enc->bytes());
}

// `field` ("VmRSS", "VmHWM") of /proc/`pid`/status in KiB, or -1.
inline long memoryKiB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::stol(line.substr(field.size() + 1));
    }
  }
  return -1;
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_WIRE_FRAMES_H_
