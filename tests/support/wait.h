// Waiting on a condition with a deadline, in place of fixed sleeps: the
// condition is checked every couple of milliseconds until it holds or the
// time runs out.
//
// Threading: runs on the caller's thread; the condition must be safe to
// read there.

#ifndef TALVO_TESTS_SUPPORT_WAIT_H_
#define TALVO_TESTS_SUPPORT_WAIT_H_

#include <chrono>
#include <thread>

namespace talvo::testing {

inline constexpr std::chrono::milliseconds kPatience{10000};

// True as soon as `condition()` holds; false when `timeout` passed first.
template <class Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds timeout = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_WAIT_H_
