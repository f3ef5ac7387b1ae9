// The registry: keys and values with case-insensitive names, the Reg* calls, the shell's
// Registry* helpers, and change notifications delivered on a thread of the registering process.
#include <fmt/format.h>

#include <cstring>

#include "kernel.hpp"

namespace dev {

std::u16string fold(const std::u16string& s) {
  std::u16string r(s);
  for (auto& c : r) c = fold_char(c);
  return r;
}

std::u16string fold(const WCHAR* s) {
  return fold(std::u16string(s ? s : u""));
}

namespace {

const char* root_name(const std::string& root) {
  if (root == "hklm") return "HKEY_LOCAL_MACHINE";
  if (root == "hkcu") return "HKEY_CURRENT_USER";
  if (root == "hkcr") return "HKEY_CLASSES_ROOT";
  return "HKEY_USERS";
}

// Display path with the names as they were created: "HKEY_LOCAL_MACHINE\Software\Quob".
std::string display_path(const RegKey* k) {
  std::string path;
  for (; k->parent != nullptr; k = k->parent) path = "\\" + to_utf8(k->name) + path;
  return root_name(to_utf8(k->name)) + path;
}

std::vector<std::u16string> split_path(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// A key path as faults name it: folded, the root spelled out, "hkey_local_machine\software\quob".
std::string fault_path(const RegKey* base, const WCHAR* subkey) {
  std::u16string path = fold(to_utf16(display_path(base)));
  for (const auto& part : split_path(subkey ? subkey : u"")) path += u"\\" + fold(part);
  return to_utf8(path);
}

HRESULT hr_from(LONG err) {
  return err == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(err);
}

std::vector<BYTE> wide_bytes(const WCHAR* s) {
  size_t n = (wcslen(s) + 1) * sizeof(WCHAR);
  std::vector<BYTE> data(n);
  std::memcpy(data.data(), s, n);
  return data;
}

const RegValue* find_value(const RegKey* k, const WCHAR* name) {
  auto it = k->values.find(std::u16string_view(name ? name : u""));
  return it == k->values.end() ? nullptr : &it->second;
}

Fields value_fields(const RegValue& v) {
  Fields f;
  if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.data.data(), 4);
    f = d;
  } else if (v.type == REG_SZ) {
    std::u16string s(reinterpret_cast<const char16_t*>(v.data.data()), v.data.size() / 2);
    while (!s.empty() && s.back() == 0) s.pop_back();
    f = to_utf8(s);
  } else {
    f = fmt::format("<{} bytes of type {}>", v.data.size(), v.type);
  }
  return f;
}

}  // namespace

RegKey* Device::Impl::reg_root(HKEY h) {
  const char* name = nullptr;
  if (h == HKEY_LOCAL_MACHINE) name = "hklm";
  if (h == HKEY_CURRENT_USER) name = "hkcu";
  if (h == HKEY_CLASSES_ROOT) name = "hkcr";
  if (h == HKEY_USERS) name = "hku";
  if (name == nullptr) {
    const OpenKey* open = open_keys.find(reinterpret_cast<uintptr_t>(h));
    return open == nullptr ? nullptr : open->key;
  }
  auto& root = roots[name];
  if (!root) {
    root = std::make_unique<RegKey>();
    root->name = to_utf16(name);
    root->path = name;
  }
  return root.get();
}

// Each name of the path is looked up where it stands in it: only a key created makes strings.
RegKey* Device::Impl::reg_walk(RegKey* base, std::u16string_view path, bool create) {
  RegKey* k = base;
  for (size_t at = 0; at < path.size();) {
    size_t end = std::min(path.find(u'\\', at), path.size());
    std::u16string_view part = path.substr(at, end - at);
    at = end + 1;
    if (part.empty()) continue;
    auto it = k->subkeys.find(part);
    if (it == k->subkeys.end()) {
      if (!create) return nullptr;
      auto folded = fold(std::u16string(part));
      auto child = std::make_unique<RegKey>();
      child->name = part;
      child->parent = k;
      child->path = k->path + "\\" + to_utf8(folded);
      it = k->subkeys.emplace(folded, std::move(child)).first;
    }
    k = it->second.get();
  }
  return k;
}

RegKey* Device::Impl::reg_resolve(HKEY h, LPCWSTR subkey, bool create, const char* call) {
  RegKey* base = reg_root(h);
  if (base == nullptr) {
    bad_handle(call, reinterpret_cast<uintptr_t>(h));
    return nullptr;
  }
  return subkey == nullptr ? base : reg_walk(base, subkey, create);
}

bool Device::Impl::reg_access_refused(HKEY h, REGSAM needed, const char* call) {
  if (!config.desktop_registry_access) return false;
  const OpenKey* open = open_keys.find(reinterpret_cast<uintptr_t>(h));
  if (open == nullptr || (open->access & needed) == needed) return false;
  log_event("call-refused",
            dev::fields("call", call, "key", display_path(open->key), "access", hex(open->access)));
  SetLastError(ERROR_ACCESS_DENIED);
  return true;
}

void Device::Impl::reg_write(RegKey* key, const std::u16string& value, DWORD type,
                             std::vector<BYTE> data, bool quiet) {
  auto folded = fold(value);
  auto it = key->values.find(folded);
  if (it != key->values.end() && it->second.type == type && it->second.data == data) {
    // The write is seen, but nothing changed: nobody is notified.
    if (!quiet) {
      log_event("reg-write", dev::fields("key", display_path(key), "value", to_utf8(value), "data",
                                         value_fields(it->second), "unchanged", true));
    }
    return;
  }
  RegValue& v = key->values[folded];
  v.name = value;
  v.type = type;
  v.data = std::move(data);
  if (!quiet) {
    log_event("reg-write", dev::fields("key", display_path(key), "value", to_utf8(value), "data",
                                       value_fields(v)));
  }
  reg_notify(key, folded, &v);
  // As a debugger would, a change under DebugZones reaches the loaded libraries at once.
  if (key->path == "hklm\\debugzones") {
    for (const auto& mod : modules) {
      if (mod->dl != nullptr && !mod->detached) set_zones(mod.get());
    }
  }
}

bool Device::Impl::reg_delete(RegKey* key, const std::u16string& value) {
  auto it = key->values.find(fold(value));
  if (it == key->values.end()) return false;
  key->values.erase(it);
  log_event("reg-delete", dev::fields("key", display_path(key), "value", to_utf8(value)));
  reg_notify(key, fold(value), nullptr);
  return true;
}

void Device::Impl::reg_notify(RegKey* key, const std::u16string& folded_value,
                              const RegValue* now) {
  for (auto& [id, n] : notifications) {
    if (!n.open || n.key_path != key->path || n.value != folded_value) continue;
    PendingNotification p;
    p.notify_id = id;
    if (now != nullptr) {
      p.data = now->data;
    } else {
      p.deleted = true;
    }
    n.process->notifications.push_back(std::move(p));
  }
}

DWORD notify_thread_main(Process* p) {
  set_thread_name("regnotify");
  auto& d = impl();
  for (;;) {
    d.block([p] { return !p->notifications.empty(); }, kNever, "registry notifications");
    PendingNotification pending = std::move(p->notifications.front());
    p->notifications.pop_front();
    auto it = d.notifications.find(pending.notify_id);
    if (it == d.notifications.end() || !it->second.open) continue;  // closed since the change
    Notification& n = it->second;
    log_event("reg-notify", dev::fields("value", to_utf8(n.value), "user", n.user_data));
    n.callback(reinterpret_cast<HREGNOTIFY>(static_cast<uintptr_t>(0x30000 + n.id * 4)),
               n.user_data, pending.deleted ? nullptr : pending.data.data(),
               pending.deleted ? 0 : static_cast<UINT>(pending.data.size()));
  }
}

RegKey* Device::Impl::reg_host_key(const std::string& path, bool create) const {
  auto* self = const_cast<Impl*>(this);
  auto sep = path.find('\\');
  std::string root = path.substr(0, sep);
  std::string rest = sep == std::string::npos ? "" : path.substr(sep + 1);
  for (auto& c : root) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  HKEY h = nullptr;
  if (root == "HKEY_LOCAL_MACHINE" || root == "HKLM") h = HKEY_LOCAL_MACHINE;
  if (root == "HKEY_CURRENT_USER" || root == "HKCU") h = HKEY_CURRENT_USER;
  if (root == "HKEY_CLASSES_ROOT" || root == "HKCR") h = HKEY_CLASSES_ROOT;
  if (root == "HKEY_USERS" || root == "HKU") h = HKEY_USERS;
  if (h == nullptr) throw std::invalid_argument("unknown registry root: " + root);
  return self->reg_walk(self->reg_root(h), to_utf16(rest), create);
}

// ---- Host access ----------------------------------------------------------------------------

std::string fault_subject(const std::string& call, const std::string& subject) {
  if (call != "RegCreateKeyExW" || subject.empty()) return to_utf8(fold(to_utf16(subject)));
  const RegKey* root = impl().reg_host_key(subject.substr(0, subject.find('\\')), false);
  auto sep = subject.find('\\');
  std::string rest = sep == std::string::npos ? "" : subject.substr(sep);
  return fault_path(root, to_utf16(rest).c_str());
}

void Device::reg_set_dword(const std::string& key, const std::string& value, uint32_t data) {
  std::vector<BYTE> bytes(4);
  std::memcpy(bytes.data(), &data, 4);
  impl_->reg_write(impl_->reg_host_key(key, true), to_utf16(value), REG_DWORD, bytes);
}

void Device::reg_set_string(const std::string& key, const std::string& value,
                            const std::string& data) {
  auto wide = to_utf16(data);
  impl_->reg_write(impl_->reg_host_key(key, true), to_utf16(value), REG_SZ,
                   wide_bytes(wide.c_str()));
}

void Device::reg_delete_value(const std::string& key, const std::string& value) {
  if (RegKey* k = impl_->reg_host_key(key, false)) impl_->reg_delete(k, to_utf16(value));
}

bool Device::reg_delete_key(const std::string& key) {
  RegKey* k = impl_->reg_host_key(key, false);
  if (k == nullptr || k->parent == nullptr) return false;
  for (auto& [name, v] : k->values) impl_->reg_notify(k, name, nullptr);
  k->parent->subkeys.erase(fold(k->name));
  return true;
}

bool Device::reg_get_dword(const std::string& key, const std::string& value, uint32_t* data) const {
  RegKey* k = impl_->reg_host_key(key, false);
  if (k == nullptr) return false;
  const RegValue* v = find_value(k, to_utf16(value).c_str());
  if (v == nullptr || v->type != REG_DWORD || v->data.size() != 4) return false;
  std::memcpy(data, v->data.data(), 4);
  return true;
}

}  // namespace dev

// ---- Platform calls -------------------------------------------------------------------------

using dev::impl;

extern "C" {

LONG WINAPI RegOpenKeyExW(HKEY h, LPCWSTR subkey, DWORD, REGSAM access, PHKEY out) {
  DEVICE_CALL_POINT("RegOpenKeyExW");
  auto& d = impl();
  if (out == nullptr) return ERROR_INVALID_PARAMETER;
  dev::RegKey* k = d.reg_resolve(h, subkey, false, "RegOpenKeyExW");
  if (k == nullptr) return d.reg_root(h) ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
  uintptr_t id = d.next_handle;
  d.next_handle += 4;
  d.open_keys.add(id, k, access);
  *out = reinterpret_cast<HKEY>(id);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExW(HKEY h, LPCWSTR subkey, DWORD, LPWSTR, DWORD, REGSAM access,
                            LPSECURITY_ATTRIBUTES, PHKEY out, LPDWORD disposition) {
  DEVICE_CALL_POINT("RegCreateKeyExW");
  auto& d = impl();
  if (out == nullptr) return ERROR_INVALID_PARAMETER;
  if (dev::RegKey* base = d.reg_resolve(h, nullptr, false, "RegCreateKeyExW")) {
    if (d.injected_failure("RegCreateKeyExW", dev::fault_path(base, subkey)))
      return static_cast<LONG>(d.current()->last_error);
  }
  bool existed = d.reg_resolve(h, subkey, false, "RegCreateKeyExW") != nullptr;
  dev::RegKey* k = d.reg_resolve(h, subkey, true, "RegCreateKeyExW");
  if (k == nullptr) return ERROR_INVALID_HANDLE;
  uintptr_t id = d.next_handle;
  d.next_handle += 4;
  d.open_keys.add(id, k, access);
  *out = reinterpret_cast<HKEY>(id);
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY h) {
  DEVICE_CALL_POINT("RegCloseKey");
  auto& d = impl();
  if (h == HKEY_LOCAL_MACHINE || h == HKEY_CURRENT_USER || h == HKEY_CLASSES_ROOT ||
      h == HKEY_USERS) {
    return ERROR_SUCCESS;
  }
  if (!d.open_keys.erase(reinterpret_cast<uintptr_t>(h))) {
    d.bad_handle("RegCloseKey", reinterpret_cast<uintptr_t>(h));
    return ERROR_INVALID_HANDLE;
  }
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExW(HKEY h, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
  DEVICE_CALL_POINT("RegQueryValueExW");
  auto& d = impl();
  dev::RegKey* k = d.reg_resolve(h, nullptr, false, "RegQueryValueExW");
  if (k == nullptr) return ERROR_INVALID_HANDLE;
  if (d.reg_access_refused(h, KEY_QUERY_VALUE, "RegQueryValueExW")) return ERROR_ACCESS_DENIED;
  // The subject is spelled out only when some failure is asked for.
  if (!d.faults.empty() && d.injected_failure("RegQueryValueExW", dev::to_utf8(dev::fold(name))))
    return static_cast<LONG>(d.current()->last_error);
  const dev::RegValue* v = dev::find_value(k, name);
  if (v == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = v->type;
  DWORD need = static_cast<DWORD>(v->data.size());
  if (data != nullptr) {
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size < need) {
      // What the buffer then holds is left undefined: here, as much of the data as fits.
      std::memcpy(data, v->data.data(), *size);
      *size = need;
      return ERROR_MORE_DATA;
    }
    if (need > 0) std::memcpy(data, v->data.data(), need);
  }
  if (size != nullptr) *size = need;
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExW(HKEY h, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  DEVICE_CALL_POINT("RegSetValueExW");
  auto& d = impl();
  dev::RegKey* k = d.reg_resolve(h, nullptr, false, "RegSetValueExW");
  if (k == nullptr) return ERROR_INVALID_HANDLE;
  if (d.reg_access_refused(h, KEY_SET_VALUE, "RegSetValueExW")) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> bytes(data, data + size);
  d.reg_write(k, name ? name : u"", type, std::move(bytes));
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueW(HKEY h, LPCWSTR name) {
  DEVICE_CALL_POINT("RegDeleteValueW");
  auto& d = impl();
  dev::RegKey* k = d.reg_resolve(h, nullptr, false, "RegDeleteValueW");
  if (k == nullptr) return ERROR_INVALID_HANDLE;
  if (d.reg_access_refused(h, KEY_SET_VALUE, "RegDeleteValueW")) return ERROR_ACCESS_DENIED;
  return d.reg_delete(k, name ? name : u"") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegDeleteKeyW(HKEY h, LPCWSTR subkey) {
  auto& d = impl();
  dev::RegKey* k = d.reg_resolve(h, subkey, false, "RegDeleteKeyW");
  if (k == nullptr) return ERROR_FILE_NOT_FOUND;
  if (k->parent == nullptr) return ERROR_INVALID_PARAMETER;
  for (const auto& open : d.open_keys) {
    if (open.key == k) return ERROR_INVALID_PARAMETER;  // still open somewhere
  }
  for (auto& [name, v] : k->values) d.reg_notify(k, name, nullptr);
  k->parent->subkeys.erase(dev::fold(k->name));
  return ERROR_SUCCESS;
}

// The registry is kept in memory and nothing is lost at a reset, so a flush only checks its key.
LONG WINAPI RegFlushKey(HKEY h) {
  DEVICE_CALL_POINT("RegFlushKey");
  auto& d = impl();
  dev::RegKey* k = d.reg_resolve(h, nullptr, false, "RegFlushKey");
  if (k == nullptr) return ERROR_INVALID_HANDLE;
  dev::log_event("reg-flush", dev::fields("key", dev::display_path(k)));
  return ERROR_SUCCESS;
}

// Desktop has no shell helpers; the desktop layer's open the subkey with the access they need, or
// go through the key given when there is none, so only then does the key's own access count.
static bool helper_refused(HKEY h, LPCTSTR subkey, REGSAM needed, const char* call) {
  return (subkey == nullptr || subkey[0] == 0) && impl().reg_access_refused(h, needed, call);
}

HRESULT WINAPI RegistryGetDWORD(HKEY h, LPCTSTR subkey, LPCTSTR name, DWORD* out) {
  DEVICE_CALL_POINT("RegistryGetDWORD");
  auto& d = impl();
  if (out == nullptr) return E_INVALIDARG;
  dev::RegKey* k = d.reg_resolve(h, subkey, false, "RegistryGetDWORD");
  if (k == nullptr) return dev::hr_from(ERROR_FILE_NOT_FOUND);
  if (helper_refused(h, subkey, KEY_QUERY_VALUE, "RegistryGetDWORD"))
    return dev::hr_from(ERROR_ACCESS_DENIED);
  const dev::RegValue* v = dev::find_value(k, name);
  if (v == nullptr) return dev::hr_from(ERROR_FILE_NOT_FOUND);
  if (v->type != REG_DWORD || v->data.size() != 4) return E_INVALIDARG;
  std::memcpy(out, v->data.data(), 4);
  return S_OK;
}

HRESULT WINAPI RegistryGetString(HKEY h, LPCTSTR subkey, LPCTSTR name, LPTSTR out, UINT cch) {
  DEVICE_CALL_POINT("RegistryGetString");
  auto& d = impl();
  if (out == nullptr || cch == 0) return E_INVALIDARG;
  dev::RegKey* k = d.reg_resolve(h, subkey, false, "RegistryGetString");
  if (k == nullptr) return dev::hr_from(ERROR_FILE_NOT_FOUND);
  if (helper_refused(h, subkey, KEY_QUERY_VALUE, "RegistryGetString"))
    return dev::hr_from(ERROR_ACCESS_DENIED);
  const dev::RegValue* v = dev::find_value(k, name);
  if (v == nullptr) return dev::hr_from(ERROR_FILE_NOT_FOUND);
  if (v->type != REG_SZ && v->type != REG_EXPAND_SZ) return E_INVALIDARG;
  // The stored data need not be terminated; the text ends at its first zero or at its end.
  std::u16string text(reinterpret_cast<const char16_t*>(v->data.data()), v->data.size() / 2);
  text = text.substr(0, text.find(u'\0'));
  if (text.size() + 1 > cch) return dev::hr_from(ERROR_MORE_DATA);  // buffer left untouched
  std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return S_OK;
}

HRESULT WINAPI RegistrySetDWORD(HKEY h, LPCTSTR subkey, LPCTSTR name, DWORD value) {
  DEVICE_CALL_POINT("RegistrySetDWORD");
  auto& d = impl();
  dev::RegKey* k = d.reg_resolve(h, subkey, true, "RegistrySetDWORD");
  if (k == nullptr) return E_INVALIDARG;
  if (helper_refused(h, subkey, KEY_SET_VALUE, "RegistrySetDWORD"))
    return dev::hr_from(ERROR_ACCESS_DENIED);
  std::vector<BYTE> bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  d.reg_write(k, name ? name : u"", REG_DWORD, std::move(bytes));
  return S_OK;
}

HRESULT WINAPI RegistrySetString(HKEY h, LPCTSTR subkey, LPCTSTR name, LPCTSTR value) {
  auto& d = impl();
  if (value == nullptr) return E_INVALIDARG;
  dev::RegKey* k = d.reg_resolve(h, subkey, true, "RegistrySetString");
  if (k == nullptr) return E_INVALIDARG;
  if (helper_refused(h, subkey, KEY_SET_VALUE, "RegistrySetString"))
    return dev::hr_from(ERROR_ACCESS_DENIED);
  d.reg_write(k, name ? name : u"", REG_SZ, dev::wide_bytes(value));
  return S_OK;
}

HRESULT WINAPI RegistryNotifyCallback(HKEY h, LPCTSTR subkey, LPCTSTR name,
                                      REGISTRYNOTIFYCALLBACK callback, DWORD user,
                                      NOTIFICATIONCONDITION* condition, HREGNOTIFY* out) {
  DEVICE_CALL_POINT("RegistryNotifyCallback");
  auto& d = impl();
  if (callback == nullptr || out == nullptr) return E_INVALIDARG;
  if (condition != nullptr && condition->ctComparisonType != REG_CT_ANYCHANGE) return E_INVALIDARG;
  dev::RegKey* base = d.reg_root(h);
  if (base == nullptr) {
    d.bad_handle("RegistryNotifyCallback", reinterpret_cast<uintptr_t>(h));
    return E_INVALIDARG;
  }
  // The key need not exist yet: the request names a path and is kept until it is closed.
  std::string path = base->path;
  if (subkey != nullptr) {
    // Its parts folded, each after one backslash, as split_path gives them.
    std::u16string folded = dev::fold(subkey);
    for (size_t i = 0; i < folded.size();) {
      size_t end = std::min(folded.find(u'\\', i), folded.size());
      if (end > i) {
        path += '\\';
        dev::append_utf8(path, std::u16string_view(folded).substr(i, end - i));
      }
      i = end + 1;
    }
  }
  dev::Process* p = d.current()->process;
  dev::Notification n;
  n.id = d.next_notify++;
  n.process = p;
  n.key_path = path;
  n.value = dev::fold(name);
  n.callback = callback;
  n.user_data = user;
  d.notifications[n.id] = n;
  if (p->notify_thread == nullptr) {
    p->notify_thread = d.create_thread(
        p, [p] { return dev::notify_thread_main(p); }, "");
  }
  *out = reinterpret_cast<HREGNOTIFY>(static_cast<uintptr_t>(0x30000 + n.id * 4));
  return S_OK;
}

HRESULT WINAPI RegistryCloseNotification(HREGNOTIFY h) {
  DEVICE_CALL_POINT("RegistryCloseNotification");
  auto& d = impl();
  auto raw = reinterpret_cast<uintptr_t>(h);
  uint32_t id = raw >= 0x30000 ? static_cast<uint32_t>((raw - 0x30000) / 4) : 0;
  auto it = d.notifications.find(id);
  if (raw < 0x30000 || (raw & 3) != 0 || it == d.notifications.end()) {
    d.bad_handle("RegistryCloseNotification", raw);
    return E_INVALIDARG;
  }
  d.notifications.erase(it);
  return S_OK;
}

}  // extern "C"
