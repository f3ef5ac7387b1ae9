// The pre-empting device: switch points at platform calls and shared-word accesses, and what a
// checker reads of the device's threads and events (device/preempt.hpp).
#include "device/preempt.hpp"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>

#include "device/device.hpp"
#include "device/log.hpp"
#include "kernel.hpp"
#include "schedule.hpp"

namespace dev {
namespace {

// The core's own code, as loaded: calls it makes are never switch points.
struct CodeRange {
  uintptr_t lo = 0, hi = 0;
};

int find_segments(dl_phdr_info* info, size_t, void* data) {
  auto* range = static_cast<CodeRange*>(data);
  if (info->dlpi_addr != range->lo) return 0;
  uintptr_t lo = UINTPTR_MAX, hi = 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_X)) continue;
    lo = std::min<uintptr_t>(lo, info->dlpi_addr + ph.p_vaddr);
    hi = std::max<uintptr_t>(hi, info->dlpi_addr + ph.p_vaddr + ph.p_memsz);
  }
  range->lo = lo;
  range->hi = hi;
  return 1;
}

const CodeRange& core_code() {
  static const CodeRange range = [] {
    CodeRange r;
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&call_point), &info) == 0) return r;
    r.lo = reinterpret_cast<uintptr_t>(info.dli_fbase);
    if (dl_iterate_phdr(find_segments, &r) == 0) r = {};
    return r;
  }();
  return range;
}

bool in_core(const void* address) {
  auto a = reinterpret_cast<uintptr_t>(address);
  const CodeRange& core = core_code();
  return core.lo <= a && a < core.hi;
}

}  // namespace

void call_point(const char* call, const void* caller) {
  if (!have_device()) return;
  Device::Impl& d = impl();
  if (!d.preemptions.empty()) d.preemption_point(call);
  if (d.schedule && !in_core(caller)) d.switch_point();
}

void start_preempting(Device& device, const PreemptOptions& options) {
  Device::Impl& d = device.impl();
  d.schedule = std::make_shared<Schedule>(options.seed, options.steps);
  if (d.schedule->counting()) return;
  Fields fields = {{"seed", options.seed},
                   {"steps", options.steps},
                   {"depth", d.schedule->depth()},
                   {"changes", d.schedule->changes()}};
  log_event("schedule", fields);
}

uint64_t switch_points(Device& device) {
  const auto& s = device.impl().schedule;
  return s ? s->points() : 0;
}

uint64_t switches_made(Device& device) {
  const auto& s = device.impl().schedule;
  return s ? s->switches() : 0;
}

std::vector<WaitingThread> waiting_threads(Device& device) {
  Device::Impl& d = device.impl();
  std::vector<WaitingThread> out;
  for (const auto& t : d.threads) {
    if (t->is_host || !t->started || t->finished) continue;
    bool blocked = std::find(d.blocked.begin(), d.blocked.end(), t.get()) != d.blocked.end();
    out.push_back({t->process->name, t->name, blocked ? t->waits_on : "nothing (ready)",
                   blocked && t->deadline != kNever});
  }
  return out;
}

bool named_event_data(Device& device, const std::u16string& name, uint32_t* data) {
  auto& events = device.impl().named_events;
  auto it = events.find(name);
  if (it == events.end()) return false;
  auto ev = it->second.lock();
  if (!ev) return false;
  *data = ev->data;
  return true;
}

}  // namespace dev

// A shared-word access of a build with word points (VEXORI_PREEMPT_WORDS): a switch point.
extern "C" void vexori_word_access(const void*) {
  if (dev::have_device()) dev::impl().switch_point();
}
