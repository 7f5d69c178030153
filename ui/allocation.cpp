// The program's global operator new and delete: the library's behaviour (malloc, the new
// handler asked again until it gives up, free), except that a failure throws AllocationFailure
// with the size asked for. The linker takes this file from the ui library only where nothing
// else defines operator new, so it holds these operators and nothing else; a program that
// replaces them replaces every form defined here.
#include <cstdlib>
#include <new>

#include "ui/allocation.h"

namespace {

void* Allocate(std::size_t bytes) {
  const std::size_t size = bytes == 0 ? 1 : bytes;
  for (;;) {
    if (void* p = std::malloc(size)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw tw::AllocationFailure(bytes);
    handler();
  }
}

void* AllocateOrNull(std::size_t bytes) noexcept {
  try {
    return Allocate(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t bytes) {
  return Allocate(bytes);
}
void* operator new[](std::size_t bytes) {
  return Allocate(bytes);
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return AllocateOrNull(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return AllocateOrNull(bytes);
}
// Every release goes to free: memory from these operators never meets the library's own
// operator delete (the sanitizers would report the mismatch).
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
