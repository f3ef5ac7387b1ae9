#include "fiber.hpp"

#include <cxxabi.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef VEXORI_FIBER_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

#ifndef VEXORI_FIBER_UCONTEXT
// Saves the callee-saved registers, the SSE control and status word and the x87 control word on
// the current stack, stores the stack pointer in *from, loads `to` and restores the same there.
extern "C" void vexori_fiber_jump(void** from, void* to);
// Where a new fiber's first switch returns to: its Fiber in r12, its start function in r13.
extern "C" void vexori_fiber_entry();
asm(R"(
  .pushsection .text
  .p2align 4
  .globl vexori_fiber_jump
  .hidden vexori_fiber_jump
  .type vexori_fiber_jump,@function
vexori_fiber_jump:
  pushq %rbp
  pushq %rbx
  pushq %r15
  pushq %r14
  pushq %r13
  pushq %r12
  subq $16, %rsp
  stmxcsr 8(%rsp)
  fnstcw (%rsp)
  movq %rsp, (%rdi)
  movq %rsi, %rsp
  fldcw (%rsp)
  ldmxcsr 8(%rsp)
  addq $16, %rsp
  popq %r12
  popq %r13
  popq %r14
  popq %r15
  popq %rbx
  popq %rbp
  ret
  .size vexori_fiber_jump,.-vexori_fiber_jump

  .p2align 4
  .globl vexori_fiber_entry
  .hidden vexori_fiber_entry
  .type vexori_fiber_entry,@function
vexori_fiber_entry:
  movq %r12, %rdi
  callq *%r13
  ud2
  .size vexori_fiber_entry,.-vexori_fiber_entry
  .popsection
)");
#endif

namespace dev {
namespace {

// The phone gives a thread 64 KB; the host's frames are larger, the sanitizers' larger still.
// Only the pages a thread touches take memory.
const size_t kStackBytes = size_t{1} << 20;

// Stacks of fibers that have ended, kept for the next: a device starts the same few threads at
// every boot, and a stack mapped again costs system calls and a fault for every page it touches.
const size_t kKeptStacks = 32;
std::mutex g_kept_lock;
void* g_kept_stacks[kKeptStacks];
size_t g_kept_count = 0;

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
  std::unique_lock<std::mutex> kept(g_kept_lock);
  if (g_kept_count > 0) {
    mapping_ = g_kept_stacks[--g_kept_count];
  } else {
    kept.unlock();
    mapping_ = mmap(nullptr, mapping_size_, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mapping_ == MAP_FAILED) {
      std::fprintf(stderr, "vexori device: no memory for a thread's stack\n");
      std::abort();
    }
    // A page at the low end that faults: a thread that overflows its stack stops there instead
    // of writing over whatever lies below.
    mprotect(mapping_, page, PROT_NONE);
  }
  stack_bottom_ = static_cast<char*>(mapping_) + page;
  stack_size_ = kStackBytes;
  entry_ = entry;
  arg_ = arg;
#ifndef VEXORI_FIBER_UCONTEXT
  // The frame vexori_fiber_jump pops: control words, r12 to r15, rbx, rbp, then the address it
  // returns to. vexori_fiber_entry then runs with the stack aligned as a call expects.
  auto top = reinterpret_cast<uintptr_t>(stack_bottom_) + stack_size_;
  auto* frame = reinterpret_cast<uint64_t*>((top & ~uintptr_t{15}) - 88);
  std::memset(frame, 0, 88);
  uint32_t mxcsr = 0;
  uint16_t fpucw = 0;
  asm volatile("stmxcsr %0; fnstcw %1" : "=m"(mxcsr), "=m"(fpucw));
  std::memcpy(&frame[0], &fpucw, sizeof fpucw);
  std::memcpy(reinterpret_cast<char*>(&frame[1]), &mxcsr, sizeof mxcsr);
  frame[2] = reinterpret_cast<uintptr_t>(this);                 // r12
  frame[3] = reinterpret_cast<uintptr_t>(&Fiber::start);        // r13
  frame[8] = reinterpret_cast<uintptr_t>(&vexori_fiber_entry);  // return address
  sp_ = frame;
#else
  getcontext(&context_);
  context_.uc_stack.ss_sp = const_cast<void*>(stack_bottom_);
  context_.uc_stack.ss_size = stack_size_;
  context_.uc_link = nullptr;
  // makecontext passes only ints.
  auto self = reinterpret_cast<uintptr_t>(this);
  makecontext(&context_, reinterpret_cast<void (*)()>(&Fiber::trampoline), 2,
              static_cast<unsigned int>(self >> 32), static_cast<unsigned int>(self));
#endif
}

#ifdef VEXORI_FIBER_UCONTEXT
void Fiber::trampoline(unsigned int high, unsigned int low) {
  auto* self = reinterpret_cast<Fiber*>((static_cast<uintptr_t>(high) << 32) | low);
#else
void Fiber::start(Fiber* self) {
#endif
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
#ifdef VEXORI_FIBER_UCONTEXT
  swapcontext(&from.context_, &to.context_);
#else
  vexori_fiber_jump(&from.sp_, to.sp_);
#endif
  arrive(from);
}

void Fiber::finish(Fiber& from, Fiber& to) {
  g_leaving = &from;
  g_leaving_finished = true;
  start_switch(nullptr, to.stack_bottom_, to.stack_size_);  // its sanitizer frames go with it
#ifdef VEXORI_FIBER_UCONTEXT
  setcontext(&to.context_);
#else
  void* never_resumed = nullptr;
  vexori_fiber_jump(&never_resumed, to.sp_);
#endif
  std::abort();
}

void Fiber::release_stack() {
  if (mapping_ == nullptr) return;
#ifdef VEXORI_FIBER_ASAN
  // The frames the fiber never left are still marked; the next fiber on this stack, or the next
  // mapping here, must not inherit their marks.
  __asan_unpoison_memory_region(mapping_, mapping_size_);
#endif
  std::lock_guard<std::mutex> kept(g_kept_lock);
  if (g_kept_count < kKeptStacks) {
    g_kept_stacks[g_kept_count++] = mapping_;
  } else {
    munmap(mapping_, mapping_size_);
  }
  mapping_ = nullptr;
}

}  // namespace dev
