// Device threads as fibers: contexts of execution with stacks of their own that take turns on the
// one host thread that made the device. A switch is a user-space jump, not a hand-over between
// host threads through the host's scheduler.
//
// On x86-64 Linux a switch saves the registers a call must keep and swaps stack pointers, and
// nothing else: swapcontext also saves and restores the signal mask, a system call at every
// switch, and the device never changes a thread's signal mask. Elsewhere, and under the address
// sanitizer (which follows swapcontext as well as the fiber calls), the switch is swapcontext's.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define VEXORI_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXORI_FIBER_ASAN 1
#endif
#endif

#if !defined(__x86_64__) || !defined(__linux__) || defined(VEXORI_FIBER_ASAN)
#define VEXORI_FIBER_UCONTEXT 1
#include <ucontext.h>
#endif

#include <cstddef>

namespace dev {

class Fiber {
 public:
  // As made, a fiber stands for the host thread's own stack, whatever runs on it now.
  Fiber() = default;
  ~Fiber();
  Fiber(const Fiber&) = delete;
  Fiber& operator=(const Fiber&) = delete;

  // Gives the fiber a stack of its own on which entry(arg) starts the first time it is switched
  // to. The entry must never return: it ends with finish().
  void prepare(void (*entry)(void*), void* arg);

  // Suspends `from`, the caller's fiber, and resumes `to`; returns when a switch comes back.
  static void switch_to(Fiber& from, Fiber& to);
  // The last switch of a fiber whose work is done; the fiber that runs next frees its stack.
  [[noreturn]] static void finish(Fiber& from, Fiber& to);

 private:
#ifdef VEXORI_FIBER_UCONTEXT
  static void trampoline(unsigned int high, unsigned int low);
#else
  static void start(Fiber* self);
#endif
  // What every switch does once it lands in `self`.
  static void arrive(Fiber& self);
  void release_stack();

#ifdef VEXORI_FIBER_UCONTEXT
  ucontext_t context_{};
#else
  void* sp_ = nullptr;  // the saved stack pointer of a suspended fiber, its registers below it
#endif
  void* mapping_ = nullptr;  // the stack with its guard page; null for the host thread's stack
  size_t mapping_size_ = 0;
  void (*entry_)(void*) = nullptr;
  void* arg_ = nullptr;
  // The stack as the sanitizer knows it; learned on the first switch away for the host's.
  const void* stack_bottom_ = nullptr;
  size_t stack_size_ = 0;
  void* fake_stack_ = nullptr;  // the sanitizer's frames for this fiber while it is suspended
  // The C++ runtime keeps the exceptions being handled per host thread; each fiber keeps its own,
  // so that a fiber suspended inside a handler finds its exception again.
  alignas(void*) unsigned char exceptions_[16] = {};
};

}  // namespace dev
