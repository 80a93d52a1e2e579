#include "daemon/runtime_link.h"

#include <cstdio>
#include <iostream>

#include "platform/signals.h"
#include "runtime/config/runtime_config.h"

namespace talvo::daemon {
namespace {

// The opaque values the entry and OnInit set on the broker object; nothing
// in the daemon reads them back.
int g_broker_option = 0;
int g_broker_setting = 0;

constexpr char kIdentification[] = "(Talvo broker run time, Linux)";

}  // namespace

RuntimeStartupGuard::RuntimeStartupGuard() { runtimeStartup(); }
RuntimeStartupGuard::~RuntimeStartupGuard() = default;

void prepareRuntime() {
  runtimeConfig().setFlagByte(0);
  g_broker_option = 1;
  std::cerr << " setup debug streams " << std::endl;
}

std::uint16_t diagnosticsLevel() { return runtimeConfig().diagnosticsLevel(); }

void setDiagnosticsLevel(std::uint16_t level) {
  runtimeConfig().setDiagnosticsLevel(level);
  refreshClosedownText();
}

std::string tracePrefix(const char* name) {
  return runtimeConfig().tracePrefix(name);
}

void setServerName(const char* name) { runtimeConfig().setServerName(name); }

void writeTraceLine(const std::string& text) { traceStream() << text << endl; }

MessageHandler* addTraceHandler(const std::string& name,
                                std::unique_ptr<MessageHandler> handler) {
  MessageHandler* raw = handler.get();
  traceDispatcher().add(name, std::move(handler));
  return raw;
}

void removeTraceHandler(const std::string& name) {
  traceDispatcher().remove(name);
}

void refreshClosedownText() {
  std::uint16_t level = diagnosticsLevel();
  // At any level but 1 the prefix starts with "[hh:mm:ss ": the handler
  // puts the time of the signal there.
  platform::setClosedownText(level != 0, tracePrefix("talvod"),
                             level == 1 ? -1 : 1);
}

void writeBanner(const std::string& title) {
  writeTraceLine(title + " v2.3c " + kIdentification);
}

void setBrokerSetting(int value) { g_broker_setting = value; }

}  // namespace talvo::daemon
