// A daemon object on a fresh temporary repository, registered with a
// request dispatcher behind the daemon's filter, and a way to call its
// operations with request bodies made by the protocol's encoders.
#ifndef TALVO_TESTS_INTERFACE_DAEMON_FIXTURE_H_
#define TALVO_TESTS_INTERFACE_DAEMON_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "activation/port_allocator.h"
#include "activation/posix_activator.h"
#include "interface/daemon.h"
#include "interface/daemon_dispatch.h"
#include "interface/daemon_filter.h"
#include "interface/daemon_operations.h"
#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"
#include "runtime/protocol/xdr_codec.h"

namespace talvo::interface {

using protocol::Value;

// Configuration values from a map only.
class MapConfigHandler : public ConfigHandler {
 public:
  explicit MapConfigHandler(std::map<std::string, std::string> values)
      : values_(std::move(values)) {}
  std::optional<std::string> lookup(const std::string& name) override {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::string> values_;
};

// Name-service answers chosen by the test.
class FakeLookups : public HostLookups {
 public:
  bool peerAddress(int, std::uint32_t& address) override {
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

// What a call answered.
struct Reply {
  std::unique_ptr<CORBA::Exception> exception;
  std::vector<Value> args;
  Value result;

  bool ok() const { return exception == nullptr; }
  const CORBA::SystemException* system() const {
    return dynamic_cast<const CORBA::SystemException*>(exception.get());
  }
  std::string name() const {
    return exception ? exception->bareName() : "success";
  }
  std::uint32_t minor() const { return system() ? system()->minor() : 0; }
  std::string detail() const {
    return system() && system()->detail() ? *system()->detail() : "";
  }
  std::vector<std::string> strings(std::size_t i) const {
    std::vector<std::string> out;
    for (const Value& v : args.at(i).as<Value::List>()) out.push_back(v.text());
    return out;
  }
};

inline Value S(std::string s) { return Value::ofString(std::move(s)); }
inline Value L(const std::vector<std::string>& v) {
  return Value::ofStrings(v);
}
inline Value U(std::uint32_t v) { return Value::ofULong(v); }
inline Value B(bool v) { return Value::ofBool(v); }

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "daemonXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    root_ = base_ + "/rep";
    std::filesystem::create_directory(root_);
    chain_.add(
        "map",
        std::make_unique<MapConfigHandler>(
            std::map<std::string, std::string>{{"QV_DAEMON_PORT", "7591"}}));
    config_ = std::make_unique<RuntimeConfig>(chain_);
    lookups_ = std::make_shared<FakeLookups>();
    peer_.user_name = "alice";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }

  // Makes the daemon (protected mode as given, running as `user`).
  void start(bool protected_mode = false, std::string user = "talvoadm") {
    DaemonOptions o;
    o.protected_mode = protected_mode;
    o.daemon_user = std::move(user);
    o.config = config_.get();
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

  // Calls `name` with its in arguments in signature order.
  Reply call(std::string_view name, std::vector<Value> ins) {
    auto op = findDaemonOperation(name);
    EXPECT_TRUE(op.has_value()) << name;
    const protocol::Signature& sig = daemonSignature(*op);
    std::vector<Value> args(sig.parameters.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (sig.parameters[i].sent() && next < ins.size()) {
        args[i] = std::move(ins[next++]);
      }
    }
    EXPECT_EQ(next, ins.size()) << name;
    return send(sig, args);
  }

  // Sends a request for `sig` with `args`; decodes the reply by `sig`.
  Reply send(const protocol::Signature& sig, const std::vector<Value>& args) {
    protocol::RequestHeader h;
    h.request_id = 7;
    h.marker = "";
    h.server = "QV_daemon";
    h.interface_name = std::string(kDaemonInterfaceName);
    h.operation = sig.operation;
    protocol::XdrEncoder e;
    EXPECT_EQ(protocol::encodeRequest(e, h, sig, args), nullptr);
    auto body = dispatcher_.handleRequest(peer_, e.take());
    Reply reply;
    EXPECT_TRUE(body.has_value());
    if (!body) return reply;
    protocol::XdrDecoder d(*body);
    protocol::ReplyOutcome outcome;
    reply.args.resize(sig.parameters.size());
    EXPECT_EQ(protocol::decodeReply(d, sig, outcome, reply.args, reply.result),
              nullptr);
    EXPECT_EQ(outcome.request_id, 7u);
    reply.exception = std::move(outcome.exception);
    return reply;
  }

  std::string recordFile(const std::string& name) const {
    std::ifstream in(daemon_->repository().recordPath(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string base_;
  std::string root_;
  ConfigChain chain_;
  std::unique_ptr<RuntimeConfig> config_;
  std::shared_ptr<FakeLookups> lookups_;
  std::ostringstream out_;
  std::ostringstream err_;
  std::unique_ptr<Daemon> daemon_;
  protocol::Dispatcher dispatcher_;
  protocol::PeerInfo peer_;
  std::vector<std::string> trace_;
  Activator* activator_ = nullptr;
  PortAllocator* ports_ = nullptr;
};

}  // namespace talvo::interface

#endif  // TALVO_TESTS_INTERFACE_DAEMON_FIXTURE_H_
