#include "client/daemon_operations.h"

#include <array>
#include <cstdlib>

namespace talvo::client {
namespace {

using Table = std::array<DaemonOperation, kDaemonOperationCount>;

const Table& table() {
  static const Table entries = {{
#define TALVO_DAEMON_OP_ENTRY(Type, ...)                     \
  {DaemonOp::k##Type, op::Type::name, op::Type::signature(), \
   op::Type::access_check},
      TALVO_DAEMON_OPERATIONS(TALVO_DAEMON_OP_ENTRY)
#undef TALVO_DAEMON_OP_ENTRY
  }};
  return entries;
}

}  // namespace

std::span<const DaemonOperation> daemonOperations() { return table(); }

const DaemonOperation& daemonOperation(DaemonOp op) {
  return table()[static_cast<std::size_t>(op)];
}

std::optional<DaemonOp> findDaemonOperation(std::string_view name) {
  for (const DaemonOperation& entry : table()) {
    if (entry.name == name) return entry.op;
  }
  return std::nullopt;
}

const protocol::Signature& daemonSignature(DaemonOp op) {
  static const auto parsed = [] {
    std::array<protocol::Signature, kDaemonOperationCount> out;
    for (std::size_t i = 0; i < out.size(); ++i) {
      // The texts are built from the table's types; a failure here is a
      // programming error caught on first use.
      if (protocol::parseSignature(table()[i].signature, out[i]) != nullptr) {
        std::abort();
      }
    }
    return out;
  }();
  return parsed[static_cast<std::size_t>(op)];
}

}  // namespace talvo::client
