// What the process does when memory runs out.
//
// installNewHandler() (called once at start-up) makes every failed
// allocation end the process: the trace stream gets two empty lines and
//   "[Talvo:: No more virtual memory left...]"
//   "[     Can you increase your swap space to help me ?]"
//   "[Talvo:: I am actually short by <size> bytes"
// a message box "Talvo:: Insufficient Memory " titled "Talvo: Unrecoverable
// Error" is shown, and the process exits with code -1 (255).
//
// std::new_handler gets no size, so this library replaces the global
// operator new and new[] (operator_new.cc, with their nothrow forms and the
// matching deletes): they allocate with malloc and, when that fails, record
// the size asked for on the calling thread before calling the new-handler.
// Apart from that they behave as the standard ones.
// A reserve block allocated at install time is freed first thing in the
// handler, so that writing the messages has memory to work with.
//
// Thread safety: the handler may run on any thread. A thread that runs out
// of memory while another is reporting waits for that report to end the
// process; running out again during the report exits at once.

#ifndef TALVO_RUNTIME_EXCEPT_NEW_HANDLER_H_
#define TALVO_RUNTIME_EXCEPT_NEW_HANDLER_H_

#include <cstddef>

namespace talvo {

// Installs the out-of-memory handler (idempotent).
void installNewHandler();

// The size of the last allocation that failed on this thread (0 when none).
std::size_t failedAllocationSize();

}  // namespace talvo

#endif  // TALVO_RUNTIME_EXCEPT_NEW_HANDLER_H_
