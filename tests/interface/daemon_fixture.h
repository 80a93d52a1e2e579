// A daemon object on a fresh temporary repository, registered with a
// request dispatcher behind the daemon's filter, and a DaemonClient whose
// transport encodes each request as on a connection, hands it to that
// dispatcher as coming from `peer_`, and decodes the reply: the client
// stubs and the daemon's dispatch meet over the real encoding, with the
// caller's principal chosen by the test.
#ifndef TALVO_TESTS_INTERFACE_DAEMON_FIXTURE_H_
#define TALVO_TESTS_INTERFACE_DAEMON_FIXTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "activation/port_allocator.h"
#include "activation/posix_activator.h"
#include "client/daemon_client.h"
#include "interface/daemon.h"
#include "interface/daemon_dispatch.h"
#include "interface/daemon_filter.h"
#include "interface/daemon_operations.h"
#include "runtime/protocol/xdr_codec.h"
#include "support/config_support.h"
#include "support/temp_dir.h"

namespace talvo::interface {

using protocol::Value;
using Strings = std::vector<std::string>;

// Name-service answers chosen by the test.
class FakeLookups : public HostLookups {
 public:
  bool peerAddress(const platform::PeerIdentity&,
                   std::uint32_t& address) override {
    if (!peer) return false;
    address = *peer;
    return true;
  }
  bool hostName(std::uint32_t, std::string& name) override {
    if (!name_of_peer) return false;
    name = *name_of_peer;
    return true;
  }
  std::vector<std::uint32_t> addresses(const std::string&) override {
    return forward;
  }

  std::optional<std::uint32_t> peer;
  std::optional<std::string> name_of_peer;
  std::vector<std::uint32_t> forward;
};

// The name, minor code and detail of a call's outcome ("success", 0, "").
inline std::string nameOf(const Status& st) {
  return st ? st->bareName() : "success";
}
inline std::uint32_t minorOf(const Status& st) { return st ? st->minor() : 0; }
inline std::string detailOf(const Status& st) {
  return st && st->detail() ? *st->detail() : "";
}

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.file("rep");
    std::filesystem::create_directory(root_);
    peer_.user_name = "alice";
  }

  // Makes the daemon (protected mode as given, running as `user`).
  void start(bool protected_mode = false, std::string user = "talvoadm") {
    DaemonOptions o;
    o.protected_mode = protected_mode;
    o.daemon_user = std::move(user);
    o.config = config_;
    o.out = &out_;
    o.err = &err_;
    o.lookups = lookups_;
    o.trace = [this](std::string_view line) { trace_.emplace_back(line); };
    o.activator = activator_;
    o.ports = ports_;
    ASSERT_EQ(Daemon::create(root_.c_str(), o, &daemon_), nullptr);
    registerDaemon(*daemon_, dispatcher_);
    dispatcher_.filters().add(std::make_shared<DaemonFilter>(daemon_.get()));
  }

  client::DaemonClient& client() { return client_; }

  // Sends a request for `sig` with `args` (one value per parameter) to the
  // dispatcher and reads the reply into `reply`.
  Status send(std::string_view signature, const std::vector<Value>& args,
              CallReply& reply) {
    protocol::Signature sig;
    if (Status st = protocol::parseSignature(signature, sig)) return st;
    protocol::RequestHeader h;
    h.request_id = 7;
    h.server = "QV_daemon";
    h.interface_name = std::string(kDaemonInterfaceName);
    h.operation = sig.operation;
    protocol::XdrEncoder e;
    EXPECT_EQ(protocol::encodeRequest(e, h, sig, args), nullptr);
    auto body = dispatcher_.handleRequest(peer_, e.take());
    if (!body) return fail<CORBA::COMM_FAILURE>(0, "no reply");
    protocol::XdrDecoder d(*body);
    protocol::ReplyOutcome outcome;
    reply.args.resize(sig.parameters.size());
    if (Status st =
            protocol::decodeReply(d, sig, outcome, reply.args, reply.result)) {
      return st;
    }
    EXPECT_EQ(outcome.request_id, 7u);
    if (auto* sys =
            dynamic_cast<CORBA::SystemException*>(outcome.exception.get())) {
      return sys->cloneSystem();
    }
    reply.user_exception = std::move(outcome.exception);
    return nullptr;
  }

  // Creates a shared server with two markers as `peer_`.
  Status newShared(const std::string& name) {
    return client_.newSharedServer(name, Strings{"m1", "m*"},
                                   Strings{"srv1 -a", "srvall"}, 0u);
  }
  ServerDescription show(const std::string& name) {
    ServerDescription s;
    EXPECT_EQ(client_.getServer2(name, &s), nullptr) << name;
    return s;
  }
  bool exists(const std::string& name) {
    bool found = false;
    EXPECT_EQ(client_.serverExists(name, &found), nullptr);
    return found;
  }

  talvo::testing::TempDir dir_;
  std::string root_;
  talvo::testing::TestConfig config_store_{{{"QV_DAEMON_PORT", "7591"}}};
  RuntimeConfig* config_ = &config_store_.get();
  std::shared_ptr<FakeLookups> lookups_ = std::make_shared<FakeLookups>();
  std::ostringstream out_;
  std::ostringstream err_;
  std::unique_ptr<Daemon> daemon_;
  protocol::Dispatcher dispatcher_;
  protocol::PeerInfo peer_;
  std::vector<std::string> trace_;
  Activator* activator_ = nullptr;
  PortAllocator* ports_ = nullptr;
  client::DaemonClient client_{
      [this](const Target&, std::string_view sig, std::vector<Value> args,
             CallReply& reply) { return send(sig, args, reply); },
      Target{}};
};

}  // namespace talvo::interface

#endif  // TALVO_TESTS_INTERFACE_DAEMON_FIXTURE_H_
