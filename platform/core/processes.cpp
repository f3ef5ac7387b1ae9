// Programs: CreateProcessW starts a program module of \Windows in a device process of its own,
// its WinMain on the process's main thread; when WinMain returns the process ends as on the
// platform. The help viewer "peghelp.exe" is built into the device: it logs the page it was
// asked to show and ends.
#include <fmt/format.h>

#include <algorithm>
#include <filesystem>

#include "kernel.hpp"

namespace dev {
namespace {

using WinMainFn = int (*)(HINSTANCE, HINSTANCE, LPWSTR, int);

const char16_t kHelpViewer[] = u"peghelp.exe";

std::u16string file_name_of(LPCWSTR path) {
  std::u16string name(path);
  auto pos = name.find_last_of(u"\\/");
  return pos == std::u16string::npos ? name : name.substr(pos + 1);
}

Window* top_level_of(const Process* p) {
  for (Window* w : impl().top_levels) {
    if (w->thread->process == p) return w;
  }
  return nullptr;
}

DWORD run_program(Process* p, std::u16string module, std::u16string command_line) {
  HMODULE instance = LoadLibraryW(module.c_str());
  FARPROC entry = instance ? GetProcAddressW(instance, u"WinMain") : nullptr;
  if (entry == nullptr) {
    impl().end_process(p, 1);
    return 1;
  }
  command_line.push_back(u'\0');
  auto win_main = reinterpret_cast<WinMainFn>(reinterpret_cast<void (*)()>(entry));
  auto code = static_cast<DWORD>(win_main(instance, nullptr, command_line.data(), SW_SHOW));
  impl().end_process(p, code);
  return code;
}

DWORD run_help_viewer(Process* p, const std::u16string& command_line) {
  log_event("help-viewer", dev::fields("command_line", to_utf8(command_line)));
  impl().end_process(p, 0);
  return 0;
}

}  // namespace

void Device::Impl::end_process(Process* p, DWORD code) {
  while (Window* w = top_level_of(p)) DestroyWindow(reinterpret_cast<HWND>(w->handle));
  classes.erase(std::remove_if(classes.begin(), classes.end(),
                               [p](const WindowClass& c) { return c.process == p; }),
                classes.end());
  for (size_t i = p->modules.size(); i-- > 0;) {
    if (!p->modules[i]->detached) detach(p->modules[i], true);
  }
  for (Module* m : p->modules) m->refs = 0;
  p->modules.clear();
  p->ended = true;
  p->exit_code = code;
  log_event("process-end", dev::fields("name", p->name, "id", hex(p->id), "code", code));
  auto before = windows.find(p->previous_foreground);
  if (foreground == nullptr && before != windows.end()) {
    SetForegroundWindow(reinterpret_cast<HWND>(before->second->handle));
  }
}

}  // namespace dev

using dev::impl;

extern "C" {

BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                           LPPROCESS_INFORMATION info) {
  DEVICE_CALL_POINT("CreateProcessW");
  auto& d = impl();
  if (application == nullptr || application[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string name = dev::file_name_of(application);
  std::u16string arguments = command_line ? command_line : u"";
  bool help = dev::fold(name) == dev::fold(std::u16string(dev::kHelpViewer));
  std::string file = help ? "" : dev::windows_file(name);
  if (!help && file.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::string process_name =
      help ? dev::to_utf8(name) : std::filesystem::path(file).filename().string();
  dev::Process* p = d.create_process(process_name);
  p->object = std::make_shared<dev::ProcessObj>();
  p->object->process = p;
  p->previous_foreground = d.foreground ? d.foreground->handle : 0;
  dev::log_event("process-start", dev::fields("name", p->name, "id", dev::hex(p->id),
                                              "command_line", dev::to_utf8(arguments)));
  std::function<DWORD()> body;
  if (help) {
    body = [p, arguments] { return dev::run_help_viewer(p, arguments); };
  } else {
    body = [p, name, arguments] { return dev::run_program(p, name, arguments); };
  }
  dev::Thread* t = d.create_thread(p, std::move(body), "main");
  if (info != nullptr) {
    info->hProcess = d.add_handle(p->object);
    info->hThread = d.add_handle(t->object);
    info->dwProcessId = p->id;
    info->dwThreadId = t->id;
  }
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE h, LPDWORD code) {
  auto obj = impl().lookup(h, "GetExitCodeProcess");
  if (!obj || obj->type != dev::ObjType::Process || code == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *code = static_cast<dev::ProcessObj*>(obj.get())->process->exit_code;
  return TRUE;
}

}  // extern "C"
