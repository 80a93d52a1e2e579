#include "runtime/except/new_handler.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

#include "platform/message_box.h"
#include "runtime/config/trace_stream.h"

namespace talvo {

namespace {

constexpr std::size_t kReserveSize = 64 * 1024;

std::unique_ptr<char[]>& reserve() {
  static std::unique_ptr<char[]> block;
  return block;
}

[[noreturn]] void outOfMemory() {
  // Running out again while reporting ends the process at once; another
  // thread that runs out waits for the first one's report to end it.
  thread_local bool t_reporting = false;
  static std::atomic<bool> reporting{false};
  if (t_reporting) std::_Exit(-1);
  t_reporting = true;
  if (reporting.exchange(true)) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  reserve().reset();

  const std::size_t size = failedAllocationSize();
  TalvoStream& trace = traceStream();
  trace << talvo::endl << talvo::endl;
  trace << "[Talvo:: No more virtual memory left...]" << talvo::endl;
  trace << "[     Can you increase your swap space to help me ?]"
        << talvo::endl;
  trace << "[Talvo:: I am actually short by "
        << static_cast<std::uint64_t>(size) << " bytes" << talvo::endl;
  platform::showMessageBox("Talvo: Unrecoverable Error",
                           "Talvo:: Insufficient Memory ");
  std::fflush(nullptr);
  // Static destructors are not run: they could need memory there is none of.
  std::_Exit(-1);
}

}  // namespace

void installNewHandler() {
  if (!reserve()) reserve() = std::make_unique<char[]>(kReserveSize);
  std::set_new_handler(outOfMemory);
}

}  // namespace talvo
