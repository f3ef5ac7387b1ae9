// The loader: LoadLibraryW of real shared objects from the device's \Windows folder.
//
// Every process gets its own instance of a library, as on the phone: the loader copies the file
// (into memory, or to a name of its own in the device's folder) before it maps it, so two
// processes never share a library's module-wide state. A copy in memory outlives its device for
// the next one, which gets it as it was first mapped (kept_libraries.hpp). Libraries are
// mapped with local binding, so two libraries that define the same class never bind to each other's
// symbols.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

// gcc says AddressSanitizer (and its leak check) is on one way, clang another.
#if defined(__SANITIZE_ADDRESS__)
#define VEXORI_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXORI_LEAK_CHECK 1
#endif
#endif
#ifdef VEXORI_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

#include <fmt/format.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "device/hardware.hpp"
#include "kept_libraries.hpp"
#include "kernel.hpp"

namespace dev {
namespace {

using DllMainFn = BOOL (*)(HANDLE, DWORD, LPVOID);

// The file part of a device path: "\Windows\touch.dll" -> "touch.dll".
std::u16string file_part(const std::u16string& name) {
  auto pos = name.find_last_of(u"\\/");
  return pos == std::u16string::npos ? name : name.substr(pos + 1);
}

Module* module_of(HMODULE h) {
  auto raw = reinterpret_cast<uintptr_t>(h);
  for (auto& m : impl().modules) {
    if (m->handle == raw && m->refs > 0) return m.get();
  }
  return nullptr;
}

BOOL call_main(Module* mod, DWORD reason, LPVOID reserved) {
  auto fn = reinterpret_cast<DllMainFn>(dlsym(mod->dl, "DllMain"));
  if (fn == nullptr) return TRUE;
#ifdef VEXORI_LEAK_CHECK
  // What a library allocates as its process attaches lives as long as the process, and the
  // phone frees it with the process. Here the host's heap keeps it, and once the device has
  // unmapped the library nothing points at it any more: the leak check would take it for a leak.
  std::optional<__lsan::ScopedDisabler> process_lifetime;
  if (reason == DLL_PROCESS_ATTACH) process_lifetime.emplace();
#endif
  return fn(reinterpret_cast<HANDLE>(mod->handle), reason, reserved);
}

}  // namespace

namespace {

// The files of a \Windows folder by their folded names, in the order the folder lists them. A
// listing is kept for the next look-up while the folder's status is the same, and only when the
// folder had not changed for a while before it was listed: a change within the file system's
// time stamp's granularity of the listing could leave its status as it was.
struct FolderListing {
  std::string dir;
  struct stat status {};
  std::vector<std::pair<std::u16string, std::string>> files;
};

bool same_status(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

const std::vector<std::pair<std::u16string, std::string>>& folder_files(const std::string& dir) {
  static FolderListing kept;
  static std::vector<std::pair<std::u16string, std::string>> listed;
  struct stat now {};
  bool known = stat(dir.c_str(), &now) == 0;
  if (known && kept.dir == dir && same_status(kept.status, now)) return kept.files;
  listed.clear();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    listed.emplace_back(fold(to_utf16(entry.path().filename().string())), entry.path().string());
  const time_t kSettled = 2;  // seconds
  kept.dir.clear();
  if (known && now.st_mtim.tv_sec + kSettled < time(nullptr) &&
      now.st_ctim.tv_sec + kSettled < time(nullptr)) {
    kept.dir = dir;
    kept.status = now;
    kept.files = listed;
  }
  return listed;
}

}  // namespace

std::string windows_file(const std::u16string& name) {
  auto& d = impl();
  std::u16string wanted = fold(file_part(name));
  for (const auto& out : d.config.left_out) {
    if (fold(to_utf16(out)) == wanted) return "";
  }
  std::string found;
  for (const auto& [folded, path] : folder_files(d.config.windows_dir)) {
    if (folded == wanted) found = path;
  }
  return found;
}

// A library that exports its debug-zone table starts with the zones the registry turns on, so
// that even its DllMain prints under them. Only the library's own handle is searched, so the
// table of another library or of the host program is never taken.
void set_zones(Module* mod) {
  auto* zones = static_cast<DBGPARAM*>(dlsym(mod->dl, "dpCurSettings"));
  if (zones == nullptr || !zones_from_registry(zones)) return;
  log_event("debug-zones", dev::fields("module", to_utf8(mod->name), "name",
                                       to_utf8(zones_name(zones)), "mask", hex(zones->ulZoneMask)));
}

namespace {

// The host's dynamic linker knows a library by its path as well as by its file: while a copy it
// was asked to close is still mapped (one it could not unload), its /proc/PID/fd/N must not
// come to name another copy, so its descriptor stays open.
void drop_copy(Module* mod) {
  if (mod->memory < 0) {
    std::error_code ec;
    std::filesystem::remove(mod->host_path, ec);
    return;
  }
  void* still = dlopen(mod->host_path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (still != nullptr) {
    dlclose(still);
    return;
  }
  close(mod->memory);
  mod->memory = -1;
}

void unmap(Module* mod) {
  auto& procs = mod->process->modules;
  procs.erase(std::remove(procs.begin(), procs.end(), mod), procs.end());
  give_back_library(mod->dl, true);  // unmapped while the device runs: no longer kept
  dlclose(mod->dl);
  mod->dl = nullptr;
  mod->refs = 0;
  drop_copy(mod);
}

// Copies `from` into memory; the descriptor, or -1 (with errno) when it cannot.
int memory_copy(const std::string& from, const std::string& name) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  int out = memfd_create(name.c_str(), MFD_CLOEXEC);
  struct stat st {};
  bool ok = out >= 0 && fstat(in, &st) == 0;
  for (off_t done = 0; ok && done < st.st_size;) {
    ssize_t n = sendfile(out, in, &done, static_cast<size_t>(st.st_size - done));
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
  }
  int err = errno;
  close(in);
  if (!ok && out >= 0) close(out);
  errno = err;
  return ok ? out : -1;
}

// The device's own copy of `found` for `mod`, named in mod->host_path; false when it cannot be
// made.
bool copy_module(Device::Impl& d, const std::filesystem::path& found, Module* mod) {
  std::string file = found.filename().string();
  if (d.module_dir.empty()) {
    mod->memory = memory_copy(found.string(), file);
    if (mod->memory < 0) return false;
    mod->host_path = fmt::format("/proc/{}/fd/{}", getpid(), mod->memory);
    return true;
  }
  mod->host_path = fmt::format("{}/{}-{}", d.module_dir, ++d.module_copies, file);
  std::error_code ec;
  if (std::filesystem::copy_file(found, mod->host_path, ec) && !ec) return true;
  std::filesystem::remove(mod->host_path, ec);
  return false;
}

}  // namespace

void Device::Impl::detach(Module* mod, bool process_exit) {
  log_event("module-unload", dev::fields("module", to_utf8(mod->name)));
  mod->detached = true;
  // The reserved argument tells a library whether its process is ending (non-null) or it is
  // being unloaded while the process goes on (null).
  call_main(mod, DLL_PROCESS_DETACH, process_exit ? reinterpret_cast<LPVOID>(1) : nullptr);
  if (!process_exit) unmap(mod);
}

void Device::Impl::unload_all() {
  // Processes end in the reverse order of their start. Each tells its libraries, newest first,
  // that it ends (a library may still free others then).
  for (auto it = processes.rbegin(); it != processes.rend(); ++it) {
    Process* p = it->get();
    host->process = p;
    for (size_t i = p->modules.size(); i-- > 0;) {
      if (i < p->modules.size() && !p->modules[i]->detached) detach(p->modules[i], true);
    }
    // The process's libraries stay mapped while the device lives, so that what they kept for
    // their process's lifetime stays reachable; a later load maps a fresh copy.
    for (Module* m : p->modules) m->refs = 0;
    p->modules.clear();
  }
  host->process = host_process;
}

void Device::Impl::unmap_all() {
  // A host program boots device after device (a replay boots one per stroke): a library left
  // mapped would keep its file's pages and its place in the dynamic linker's list for good.
  // A library kept for the next device stays mapped, as it is, with its copy.
  for (size_t i = modules.size(); i-- > 0;) {
    Module* m = modules[i].get();
    if (m->dl != nullptr && give_back_library(m->dl, false)) {
      m->dl = nullptr;
      m->memory = -1;
      continue;
    }
    if (m->dl != nullptr) dlclose(m->dl);
    m->dl = nullptr;
    if (m->memory >= 0) drop_copy(m);
  }
}

bool module_copies_in_memory() {
#ifdef VEXORI_LEAK_CHECK
  return false;
#else
  // Once per process: a host without memfd_create or /proc gets files.
  static const bool works = [] {
    int fd = memfd_create("vexori-probe", MFD_CLOEXEC);
    if (fd < 0) return false;
    bool seen = access(fmt::format("/proc/{}/fd/{}", getpid(), fd).c_str(), R_OK) == 0;
    close(fd);
    return seen;
  }();
  return works && std::getenv("VEXORI_DEVICE_FILES") == nullptr;
#endif
}

namespace hw {

std::string module_of_address(const void* address) {
  Dl_info info{};
  if (address == nullptr) return "none";
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "unknown";
  for (auto& m : impl().modules) {
    if (m->host_path == info.dli_fname) return to_utf8(m->name);
  }
  return "core";
}

}  // namespace hw
}  // namespace dev

using dev::impl;

extern "C" {

HINSTANCE WINAPI LoadLibraryW(LPCWSTR name) {
  DEVICE_CALL_POINT("LoadLibraryW");
  auto& d = impl();
  if (name == nullptr || name[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  dev::Process* p = d.current()->process;
  std::u16string wanted = dev::fold(dev::file_part(name));
  for (dev::Module* m : p->modules) {
    if (dev::fold(m->name) == wanted) {
      ++m->refs;
      return reinterpret_cast<HINSTANCE>(m->handle);
    }
  }
  // Look the file up in \Windows without regard to case.
  std::filesystem::path found = dev::windows_file(name);
  if (found.empty()) {
    dev::log_event("module-missing", dev::fields("module", dev::to_utf8(dev::file_part(name))));
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto mod = std::make_unique<dev::Module>();
  mod->name = dev::to_utf16(found.filename().string());
  mod->process = p;
  mod->handle = 0x10000000u + static_cast<uintptr_t>(d.modules.size()) * 0x10000u;
  // A copy an earlier device left (in memory only), as it was mapped; else a fresh one.
  bool keep = d.module_dir.empty() && dev::keeping_libraries();
  if (!keep || !dev::take_kept_library(found.string(), &mod->dl, &mod->memory, &mod->host_path)) {
    bool copied = dev::copy_module(d, found, mod.get());
    mod->dl = copied ? dlopen(mod->host_path.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (mod->dl == nullptr) {
      const char* why = copied ? dlerror() : "cannot copy";
      dev::log_event("module-bad",
                     dev::fields("module", dev::to_utf8(mod->name), "error", why ? why : ""));
      if (copied) dev::drop_copy(mod.get());
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    if (keep) dev::keep_library(found.string(), mod->dl, mod->memory, mod->host_path);
  }
  mod->refs = 1;
  dev::Module* m = mod.get();
  d.modules.push_back(std::move(mod));
  p->modules.push_back(m);
  dev::log_event("module-load",
                 dev::fields("module", dev::to_utf8(m->name), "handle", dev::hex(m->handle)));
  dev::set_zones(m);
  if (!dev::call_main(m, DLL_PROCESS_ATTACH, nullptr)) {
    dev::log_event("module-attach-failed", dev::fields("module", dev::to_utf8(m->name)));
    d.detach(m, false);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HINSTANCE>(m->handle);
}

FARPROC WINAPI GetProcAddressW(HMODULE h, LPCWSTR name) {
  DEVICE_CALL_POINT("GetProcAddressW");
  dev::Module* m = dev::module_of(h);
  if (m == nullptr) {
    impl().bad_handle("GetProcAddressW", reinterpret_cast<uintptr_t>(h));
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* sym = dlsym(m->dl, dev::to_utf8(name).c_str());
  if (sym == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(sym);
}

BOOL WINAPI FreeLibrary(HMODULE h) {
  DEVICE_CALL_POINT("FreeLibrary");
  dev::Module* m = dev::module_of(h);
  if (m == nullptr) {
    impl().bad_handle("FreeLibrary", reinterpret_cast<uintptr_t>(h));
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (m->refs == 1 && !m->detached) {
    impl().detach(m, false);  // still counted while its DllMain runs
  } else if (m->refs > 1) {
    --m->refs;
  }
  return TRUE;
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE h) {
  DEVICE_CALL_POINT("DisableThreadLibraryCalls");
  dev::Module* m = dev::module_of(h);
  dev::log_event("kernel", dev::fields("call", "DisableThreadLibraryCalls", "module",
                                       dev::hex(reinterpret_cast<uintptr_t>(h))));
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  m->thread_calls = false;
  return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE h, LPWSTR out, DWORD size) {
  dev::Module* m = dev::module_of(h);
  if (m == nullptr || out == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::u16string path = u"\\Windows\\" + m->name;
  size_t n = std::min<size_t>(path.size(), size - 1);
  std::copy(path.begin(), path.begin() + static_cast<long>(n), out);
  out[n] = 0;
  return static_cast<DWORD>(n);
}

}  // extern "C"
