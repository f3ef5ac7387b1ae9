// Boot (the registry, then the device's processes), and the touch panel's sample queue.
#include <fmt/format.h>

#include <algorithm>

#include "device/hardware.hpp"
#include "kernel.hpp"

namespace dev {

namespace {

void start_process(Device::Impl& d, const std::string& name, DWORD (*main)()) {
  Process* p = d.create_process(name);
  log_event("process-start", dev::fields("name", p->name, "id", hex(p->id)));
  d.create_thread(p, main, "main");
}

}  // namespace

void Device::boot() {
  Impl& d = *impl_;
  log_event("boot",
            {{"boot_tick", d.config.boot_tick},
             {"screen", fmt::format("{}x{}", d.config.screen.width, d.config.screen.height)},
             {"dpi", d.config.screen.dpi}});
  for (const auto& file : d.config.reg_files) load_reg_file(file);
  if (d.config.before_start) d.config.before_start(*this);
  d.booted = true;
  d.hw_deadlines.push_back([&d] { return d.panel.empty() ? kNever : d.panel.front().time; });
  d.hw_deadlines.push_back(next_timer_due);
  if (d.config.start_device_manager) {
    start_process(d, "device.exe", devmgr_main);
    // The window system depends on the device manager: it starts once the boot drivers are in.
    d.block([&d] { return d.devmgr_started; }, kNever, "the device manager");
  }
  if (d.config.start_window_system) start_process(d, "gwes.exe", gwes_main);
  settle();
}

void Device::queue_samples(const std::vector<PanelSample>& samples) {
  auto& panel = impl_->panel;
  for (const auto& s : samples) {
    auto at = std::upper_bound(panel.begin(), panel.end(), s.time,
                               [](uint64_t t, const PanelSample& p) { return t < p.time; });
    panel.insert(at, s);
  }
}

size_t Device::pending_samples() const {
  return impl_->panel.size();
}

const std::vector<ReceivedSample>& Device::received_samples() const {
  return impl_->received;
}

namespace hw {

PanelSample panel_next() {
  auto& d = impl();
  auto due = [&d] { return !d.panel.empty() && d.panel.front().time <= d.clock; };
  // Another driver's sample thread woken by the same sample may have taken it first.
  while (!due()) d.block(due, kNever, "touch panel");
  PanelSample s = d.panel.front();
  d.panel.pop_front();
  return s;
}

}  // namespace hw
}  // namespace dev
