// Replacements of the global allocation functions.
//
// They behave as the standard ones (malloc, then the new-handler until
// malloc succeeds or bad_alloc when there is no handler), and in addition
// record the size of a failed request on the calling thread before the
// new-handler runs, so that the out-of-memory handler can say how much was
// missing. The deletes free what these operators allocate. The aligned
// forms are left to the standard library. This file uses nothing else of
// the run time, so it can be linked into every program of the project.
//
// Under AddressSanitizer the replacement is left out: the sanitizer's own
// operators check that every delete matches its new, and it reports failed
// allocations itself (the out-of-memory report then says 0 bytes).
#include <cstdlib>
#include <new>

#include "runtime/except/new_handler.h"

#if defined(__SANITIZE_ADDRESS__)
#define TALVO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALVO_ADDRESS_SANITIZER 1
#endif
#endif

namespace talvo {

namespace {

thread_local std::size_t t_failed_size = 0;

}  // namespace

std::size_t failedAllocationSize() { return t_failed_size; }

}  // namespace talvo

#if !defined(TALVO_ADDRESS_SANITIZER)

namespace talvo {

namespace {

void* allocate(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* p = std::malloc(size)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    t_failed_size = size;
    handler();
  }
}

void* allocateOrNull(std::size_t size) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

}  // namespace talvo

void* operator new(std::size_t size) { return talvo::allocate(size); }
void* operator new[](std::size_t size) { return talvo::allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return talvo::allocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return talvo::allocateOrNull(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

#endif  // !TALVO_ADDRESS_SANITIZER
