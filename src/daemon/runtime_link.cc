#include "daemon/runtime_link.h"

#include <cstdio>
#include <iostream>

#include "platform/signals.h"

#ifdef TALVO_DAEMON_USE_RUNTIME
#include "runtime/config/runtime_config.h"
#endif

namespace talvo::daemon {
namespace {

// The opaque values the entry and OnInit set on the broker object; nothing
// in the daemon reads them back.
int g_broker_option = 0;
int g_broker_setting = 0;

constexpr char kIdentification[] = "(Talvo broker run time, Linux)";

}  // namespace

#ifdef TALVO_DAEMON_USE_RUNTIME

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

#else  // The run time's configuration is not built yet: a local stand-in.

namespace {
std::uint16_t g_level = 1;
std::unique_ptr<MessageHandler> g_handler;
std::string g_handler_name;
}  // namespace

RuntimeStartupGuard::RuntimeStartupGuard() = default;
RuntimeStartupGuard::~RuntimeStartupGuard() = default;

void prepareRuntime() {
  g_broker_option = 1;
  std::cerr << " setup debug streams " << std::endl;
}

std::uint16_t diagnosticsLevel() { return g_level; }

void setDiagnosticsLevel(std::uint16_t level) {
  g_level = level;
  refreshClosedownText();
}

std::string tracePrefix(const char* name) {
  std::string shown = (name == nullptr || *name == '\0') ? "talvod" : name;
  if (g_level == 1) return "[" + shown + ": ";
  return "[00:00:00 --- " + shown + "@localhost ";
}

void setServerName(const char*) {}

void writeTraceLine(const std::string& text) {
  std::cout << text << std::endl;
  if (g_handler) g_handler->process(text);
}

MessageHandler* addTraceHandler(const std::string& name,
                                std::unique_ptr<MessageHandler> handler) {
  g_handler = std::move(handler);
  g_handler_name = name;
  return g_handler.get();
}

void removeTraceHandler(const std::string& name) {
  if (name == g_handler_name) g_handler.reset();
}

#endif

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
