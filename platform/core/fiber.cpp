#include "fiber.hpp"

#include <cxxabi.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define VEXORI_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXORI_FIBER_ASAN 1
#endif
#endif
#ifdef VEXORI_FIBER_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

namespace dev {
namespace {

// The phone gives a thread 64 KB; the host's frames are larger, the sanitizers' larger still.
// Only the pages a thread touches take memory.
const size_t kStackBytes = size_t{1} << 20;

// The fiber a switch in progress leaves, and whether it left for good.
Fiber* g_leaving = nullptr;
bool g_leaving_finished = false;

unsigned char* exception_globals() {
  return reinterpret_cast<unsigned char*>(abi::__cxa_get_globals());
}

// Tells the address sanitizer which stack the next instructions run on, so that it checks
// accesses against that stack and keeps each fiber's frames apart.
void start_switch([[maybe_unused]] void** fake_stack, [[maybe_unused]] const void* bottom,
                  [[maybe_unused]] size_t size) {
#ifdef VEXORI_FIBER_ASAN
  __sanitizer_start_switch_fiber(fake_stack, bottom, size);
#endif
}

}  // namespace

Fiber::~Fiber() {
  release_stack();
}

void Fiber::prepare(void (*entry)(void*), void* arg) {
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  mapping_size_ = kStackBytes + page;
  mapping_ = mmap(nullptr, mapping_size_, PROT_READ | PROT_WRITE,
                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (mapping_ == MAP_FAILED) {
    std::fprintf(stderr, "vexori device: no memory for a thread's stack\n");
    std::abort();
  }
  // A page at the low end that faults: a thread that overflows its stack stops there instead of
  // writing over whatever lies below.
  mprotect(mapping_, page, PROT_NONE);
  stack_bottom_ = static_cast<char*>(mapping_) + page;
  stack_size_ = kStackBytes;
  entry_ = entry;
  arg_ = arg;
  getcontext(&context_);
  context_.uc_stack.ss_sp = const_cast<void*>(stack_bottom_);
  context_.uc_stack.ss_size = stack_size_;
  context_.uc_link = nullptr;
  // makecontext passes only ints.
  auto self = reinterpret_cast<uintptr_t>(this);
  makecontext(&context_, reinterpret_cast<void (*)()>(&Fiber::trampoline), 2,
              static_cast<unsigned int>(self >> 32), static_cast<unsigned int>(self));
}

void Fiber::trampoline(unsigned int high, unsigned int low) {
  auto* self = reinterpret_cast<Fiber*>((static_cast<uintptr_t>(high) << 32) | low);
  arrive(*self);
  self->entry_(self->arg_);
  std::fprintf(stderr, "vexori device: a thread's fiber returned\n");
  std::abort();
}

void Fiber::arrive(Fiber& self) {
#ifdef VEXORI_FIBER_ASAN
  const void* bottom = nullptr;
  size_t size = 0;
  __sanitizer_finish_switch_fiber(self.fake_stack_, &bottom, &size);
  if (g_leaving != nullptr && g_leaving->stack_bottom_ == nullptr) {
    g_leaving->stack_bottom_ = bottom;
    g_leaving->stack_size_ = size;
  }
#endif
  std::memcpy(exception_globals(), self.exceptions_, sizeof self.exceptions_);
  if (g_leaving_finished) {
    g_leaving->release_stack();
    g_leaving_finished = false;
  }
  g_leaving = nullptr;
}

void Fiber::switch_to(Fiber& from, Fiber& to) {
  std::memcpy(from.exceptions_, exception_globals(), sizeof from.exceptions_);
  g_leaving = &from;
  start_switch(&from.fake_stack_, to.stack_bottom_, to.stack_size_);
  swapcontext(&from.context_, &to.context_);
  arrive(from);
}

void Fiber::finish(Fiber& from, Fiber& to) {
  g_leaving = &from;
  g_leaving_finished = true;
  start_switch(nullptr, to.stack_bottom_, to.stack_size_);  // its sanitizer frames go with it
  setcontext(&to.context_);
  std::abort();
}

void Fiber::release_stack() {
  if (mapping_ == nullptr) return;
#ifdef VEXORI_FIBER_ASAN
  // The frames the fiber never left are still marked; the next mapping here must not inherit
  // their marks.
  __asan_unpoison_memory_region(mapping_, mapping_size_);
#endif
  munmap(mapping_, mapping_size_);
  mapping_ = nullptr;
}

}  // namespace dev
