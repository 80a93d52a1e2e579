#include "orb_test_util.h"

#include <gtest/gtest.h>

namespace talvo::testing {

using protocol::Request;
using protocol::Value;

std::shared_ptr<protocol::Interface> makeAccount(Seen& seen) {
  auto account = std::make_shared<protocol::Interface>("Account");
  auto add = [&](const char* sig, protocol::OperationHandler h) {
    EXPECT_EQ(account->addOperation(sig, std::move(h)), nullptr) << sig;
  };
  add(kDeposit, [](Request& r) {
    r.args[1] = Value::ofLong(100 + r.arg(0).as<std::int32_t>());
    r.args[2] = Value::ofString(r.arg(2).text() + "!");
    r.result = Value::ofBool(true);
  });
  add(kFail, [](Request& r) {
    r.raise(CORBA::BAD_PARAM(r.arg(0).as<std::uint32_t>(), CORBA::COMPLETED_NO,
                             "no such account"));
  });
  add(kFailUser, [](Request& r) {
    protocol::TypeDesc members;
    EXPECT_EQ(protocol::parseTypeText("R~Overdrawn~by{l}", members), nullptr);
    r.raiseUser(CORBA::UserException("Account::Overdrawn"), members,
                Value::ofList({Value::ofLong(42)}));
  });
  add(kNotify, [&seen](Request& r) {
    std::lock_guard lock(seen.mu);
    seen.notes.push_back(r.arg(0).text());
  });
  add(kWhoAmI, [&seen](Request& r) {
    r.args[0] = Value::ofString(r.principal);
    r.args[1] = Value::ofULong(r.peer.pid);
    std::lock_guard lock(seen.mu);
    seen.principal = r.principal;
    seen.pid = r.peer.pid;
  });
  add(kGetName, [](Request& r) { r.result = Value::ofString("lower"); });
  return account;
}

AccountServer::AccountServer(bool optimise, std::optional<std::string> max_size)
    : config(Values{{"QV_SERVER_NAME", "bank"}}) {
  context.max_size = std::move(max_size);
  OrbOptions options;
  options.context = &context;
  options.config = &config.get();
  options.optimise = optimise;
  options.pid = 777;
  server = std::make_unique<ServerThread>(options);
  server->orb.serve("acct1", makeAccount(seen));
  EXPECT_EQ(server->orb.listen("0", &port), nullptr);
  server->start();
}

Target AccountServer::target(const std::string& marker,
                             const std::string& interface_name) const {
  Target t;
  t.host = "127.0.0.1";
  t.port = std::to_string(port);
  t.ref = protocol::ObjectRef("localhost", "bank", marker, "", "IR",
                              interface_name);
  return t;
}

OrbOptions clientOptions(TestContext& context, TestConfig& config,
                         std::uint32_t pid, bool optimise) {
  OrbOptions options;
  options.context = &context;
  options.config = &config.get();
  options.pid = pid;
  options.optimise = optimise;
  options.reply_timeout_ms = 10000;
  return options;
}

}  // namespace talvo::testing
