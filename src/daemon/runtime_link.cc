#include "daemon/runtime_link.h"

#include <iostream>

#include "platform/signals.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"

namespace talvo::daemon {
namespace {

// The opaque values the entry and the start-up set on the broker object;
// nothing in the daemon reads them back.
int g_broker_option = 0;
int g_broker_setting = 0;

constexpr char kIdentification[] = "(Talvo broker run time, Linux)";

}  // namespace

RuntimeStartupGuard::RuntimeStartupGuard() { runtimeStartup(); }
RuntimeStartupGuard::~RuntimeStartupGuard() = default;

void prepareRuntime(RuntimeConfig& config) {
  config.setFlagByte(0);
  g_broker_option = 1;
  std::cerr << " setup debug streams " << std::endl;
}

void setDiagnosticsLevel(RuntimeConfig& config, std::uint16_t level) {
  config.setDiagnosticsLevel(level);
  refreshClosedownText(config);
}

void refreshClosedownText(RuntimeConfig& config) {
  const std::uint16_t level = config.diagnosticsLevel();
  // At any level but 1 the prefix starts with "[hh:mm:ss ": the handler
  // puts the time of the signal there.
  platform::setClosedownText(level != 0, config.tracePrefix("talvod"),
                             level == 1 ? -1 : 1);
}

void writeBanner(TalvoStream& trace, const std::string& title) {
  trace << title + " v2.3c " + kIdentification << endl;
}

void setBrokerSetting(int value) { g_broker_setting = value; }

}  // namespace talvo::daemon
