// The device manager's process (device.exe): at boot it loads the stream drivers listed under
// HKEY_LOCAL_MACHINE\Drivers\BuiltIn and calls their Init; the host can later have it call a
// driver's Deinit, after which it frees the driver's load of its library.
//
// Each subkey names one driver: "Dll" (string, required), "Prefix" (string; none means entry
// points without a prefix, "Init"), "Order" (DWORD, default 0), "Index" (DWORD, optional).
// Drivers load in ascending Order, ties by key name.
#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "kernel.hpp"

namespace dev {
namespace {

using InitFn = DWORD (*)(LPCWSTR active_key, LPCVOID bus_context);

const char kBuiltIn[] = "HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn";

struct BuiltIn {
  std::u16string key;
  std::optional<std::u16string> dll;
  std::u16string prefix;
  DWORD order = 0;
  std::optional<DWORD> index;
};

const RegValue* value_of(const RegKey& key, const char16_t* name, DWORD type) {
  auto it = key.values.find(fold(name));
  return it == key.values.end() || it->second.type != type ? nullptr : &it->second;
}

std::optional<std::u16string> string_of(const RegKey& key, const char16_t* name) {
  const RegValue* v = value_of(key, name, REG_SZ);
  if (v == nullptr) return std::nullopt;
  std::u16string s(reinterpret_cast<const char16_t*>(v->data.data()), v->data.size() / 2);
  return s.substr(0, s.find(u'\0'));
}

std::optional<DWORD> dword_of(const RegKey& key, const char16_t* name) {
  const RegValue* v = value_of(key, name, REG_DWORD);
  if (v == nullptr || v->data.size() != 4) return std::nullopt;
  DWORD d;
  std::memcpy(&d, v->data.data(), 4);
  return d;
}

// The drivers to load, in load order.
std::vector<BuiltIn> builtin_drivers(Device::Impl& d) {
  std::vector<BuiltIn> out;
  RegKey* root = d.reg_host_key(kBuiltIn, false);
  if (root == nullptr) return out;
  for (const auto& [folded, key] : root->subkeys) {  // by folded name: the tie order
    BuiltIn b;
    b.key = key->name;
    b.dll = string_of(*key, u"Dll");
    b.prefix = string_of(*key, u"Prefix").value_or(u"");
    b.order = dword_of(*key, u"Order").value_or(0);
    b.index = dword_of(*key, u"Index");
    out.push_back(std::move(b));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const BuiltIn& a, const BuiltIn& b) { return a.order < b.order; });
  return out;
}

std::u16string entry_name(const std::u16string& prefix, const char16_t* entry) {
  return prefix.empty() ? entry : prefix + u"_" + entry;
}

FARPROC entry_point(HMODULE module, const std::u16string& prefix, const char16_t* entry) {
  return GetProcAddressW(module, entry_name(prefix, entry).c_str());
}

template <typename Fn>
Fn as_fn(FARPROC p) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
}

bool load_driver(Device::Impl& d, const BuiltIn& b) {
  Fields f = {{"key", to_utf8(b.key)},
              {"dll", to_utf8(b.dll.value_or(u""))},
              {"prefix", to_utf8(b.prefix)},
              {"order", b.order}};
  if (b.index) f["index"] = *b.index;
  auto fail = [&f](const std::string& reason) {
    f["reason"] = reason;
    log_event("driver-failed", f);
    return false;
  };
  if (!b.dll || b.dll->empty()) return fail("no Dll");
  HMODULE module = LoadLibraryW(b.dll->c_str());
  if (module == nullptr) return fail(fmt::format("cannot load, error {}", GetLastError()));
  auto init = as_fn<InitFn>(entry_point(module, b.prefix, u"Init"));
  if (init == nullptr) {
    fail("no " + to_utf8(entry_name(b.prefix, u"Init")));
    FreeLibrary(module);
    return false;
  }
  // Active keys are numbered in the order Init is called.
  std::u16string active = to_utf16(fmt::format("Drivers\\Active\\{:02}", ++d.active_drivers));
  f["active"] = to_utf8(active);
  DWORD context = init(active.c_str(), nullptr);
  if (context == 0) {
    fail(to_utf8(entry_name(b.prefix, u"Init")) + " returned 0");
    FreeLibrary(module);
    return false;
  }
  f["context"] = hex(context);
  d.drivers.push_back({b.key, b.prefix, context,
                       as_fn<DriverDeinitFn>(entry_point(module, b.prefix, u"Deinit")), module});
  log_event("driver-loaded", f);
  return true;
}

}  // namespace

DWORD devmgr_main() {
  auto& d = impl();
  for (const BuiltIn& b : builtin_drivers(d)) load_driver(d, b);
  // Signals the boot that the window system may start.
  d.devmgr_started = true;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
  }
  return 0;
}

bool Device::load_driver(const std::string& key, const std::string& dll,
                         const std::string& prefix) {
  BuiltIn b;
  b.key = to_utf16(key);
  b.dll = to_utf16(dll);
  b.prefix = to_utf16(prefix);
  bool loaded = false;
  as_process("device.exe", [&] { loaded = dev::load_driver(*impl_, b); });
  return loaded;
}

bool Device::deinit_driver(const std::string& prefix) {
  Impl& d = *impl_;
  auto it = std::find_if(d.drivers.begin(), d.drivers.end(), [&](const Driver& drv) {
    return fold(drv.prefix) == fold(to_utf16(prefix));
  });
  if (it == d.drivers.end()) return false;
  Driver drv = *it;
  d.drivers.erase(it);
  BOOL result = FALSE;
  as_process("device.exe", [&] {
    Fields f = {
        {"key", to_utf8(drv.key)}, {"prefix", to_utf8(drv.prefix)}, {"context", hex(drv.context)}};
    if (drv.deinit == nullptr) {
      f["reason"] = "no " + to_utf8(entry_name(drv.prefix, u"Deinit"));
      log_event("driver-deinit-failed", f);
    } else {
      result = drv.deinit(drv.context);
      f["result"] = result;
      log_event("driver-deinit", f);
    }
    // As the phone's device manager does once it has deactivated a driver, whatever Deinit
    // answered: a thread the library left running goes on in unmapped code.
    FreeLibrary(drv.module);
  });
  return result != FALSE;
}

}  // namespace dev
