// Registry change notifications. As on the phone, one thread per process calls every callback, and
// only when a watched value really changed: each request keeps the value as it was last seen, and
// the thread compares after each change the registry reports for the keys being watched. A key
// that does not exist yet is looked for again every kRetryMs.
#include <regext.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

const DWORD kRetryMs = 250;
const uintptr_t kHandleBase = 0x30000;

struct Value {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const Value& o) const {
    return present == o.present && type == o.type && data == o.data;
  }
};

struct Watch {
  HKEY root;
  std::wstring subKey;
  std::wstring name;
  REGISTRYNOTIFYCALLBACK callback;
  DWORD user;
  Value seen;
  bool ownsRoot = false;
};

bool IsRootKey(HKEY key) {
  return reinterpret_cast<uintptr_t>(key) >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) &&
         reinterpret_cast<uintptr_t>(key) <= reinterpret_cast<uintptr_t>(HKEY_CURRENT_CONFIG);
}

// A key the thread has asked the registry to report changes of.
struct KeyWatch {
  HKEY key = nullptr;
  HANDLE changed = nullptr;
};

std::mutex Lock;
std::condition_variable Idle;
std::map<uintptr_t, Watch> Watches;
uintptr_t NextId = 1;
uintptr_t Running = 0;  // the request whose callback is being called, 0 for none
DWORD ThreadId = 0;
HANDLE Wake = nullptr;

Value ReadValue(HKEY root, const std::wstring& subKey, const std::wstring& name) {
  Value v;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
    v.data.resize(size);
    if (RegQueryValueExW(key, name.c_str(), nullptr, &v.type, v.data.data(), &size) ==
        ERROR_SUCCESS) {
      v.present = true;
      v.data.resize(size);
    }
  }
  RegCloseKey(key);
  if (!v.present) v = Value();
  return v;
}

std::wstring KeyName(HKEY root, const std::wstring& subKey) {
  return std::to_wstring(reinterpret_cast<uintptr_t>(root)) + L"\\" + subKey;
}

// Opens and arms every watched key not armed yet; false when one of them does not exist.
bool ArmKeys(std::map<std::wstring, KeyWatch>& keys) {
  std::lock_guard<std::mutex> hold(Lock);  // a request's own key handle stays open meanwhile
  bool all = true;
  for (const auto& [id, w] : Watches) {
    KeyWatch& k = keys[KeyName(w.root, w.subKey)];
    if (k.key != nullptr) continue;
    if (RegOpenKeyExW(w.root, w.subKey.c_str(), 0, KEY_NOTIFY | KEY_QUERY_VALUE, &k.key) !=
        ERROR_SUCCESS) {
      k.key = nullptr;
      all = false;
      continue;
    }
    k.changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    RegNotifyChangeKeyValue(k.key, FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                            k.changed, TRUE);
  }
  return all;
}

struct Due {
  uintptr_t id;
  REGISTRYNOTIFYCALLBACK callback;
  DWORD user;
  Value now;
};

void CallChanged() {
  std::vector<Due> due;
  {
    std::lock_guard<std::mutex> hold(Lock);
    for (auto& [id, w] : Watches) {
      Value now = ReadValue(w.root, w.subKey, w.name);
      if (now == w.seen) continue;
      w.seen = now;
      due.push_back({id, w.callback, w.user, now});
    }
  }
  for (Due& d : due) {
    {
      std::lock_guard<std::mutex> hold(Lock);
      if (Watches.count(d.id) == 0) continue;  // closed since the change
      Running = d.id;
    }
    d.callback(reinterpret_cast<HREGNOTIFY>(kHandleBase + d.id * 4), d.user,
               d.now.present ? d.now.data.data() : nullptr,
               d.now.present ? static_cast<UINT>(d.now.data.size()) : 0);
    {
      std::lock_guard<std::mutex> hold(Lock);
      Running = 0;
    }
    Idle.notify_all();
  }
}

DWORD WINAPI NotifyThread(LPVOID) {
  std::map<std::wstring, KeyWatch> keys;
  for (;;) {
    bool all = ArmKeys(keys);
    std::vector<HANDLE> handles = {Wake};
    std::vector<KeyWatch*> order;
    for (auto& [name, k] : keys) {
      if (k.key == nullptr || handles.size() == MAXIMUM_WAIT_OBJECTS) continue;
      handles.push_back(k.changed);
      order.push_back(&k);
    }
    DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                        all ? INFINITE : kRetryMs);
    if (woke > WAIT_OBJECT_0 && woke < WAIT_OBJECT_0 + handles.size()) {
      KeyWatch* k = order[woke - WAIT_OBJECT_0 - 1];
      RegNotifyChangeKeyValue(k->key, FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                              k->changed, TRUE);
    }
    CallChanged();
  }
}

}  // namespace

extern "C" HRESULT WINAPI RegistryNotifyCallback(HKEY key, LPCWSTR subKey, LPCWSTR name,
                                                 REGISTRYNOTIFYCALLBACK callback, DWORD user,
                                                 NOTIFICATIONCONDITION* condition,
                                                 HREGNOTIFY* notify) {
  if (callback == nullptr || notify == nullptr) return E_INVALIDARG;
  if (condition != nullptr && condition->ctComparisonType != REG_CT_ANYCHANGE) return E_INVALIDARG;
  Watch w{key, subKey != nullptr ? subKey : L"", name != nullptr ? name : L"", callback, user, {}};
  // A key the caller opened may be closed as soon as this returns: the request keeps a handle of
  // its own to the same key.
  if (!IsRootKey(key)) {
    if (RegOpenKeyExW(key, L"", 0, KEY_READ, &w.root) != ERROR_SUCCESS) return E_INVALIDARG;
    w.ownsRoot = true;
  }
  w.seen = ReadValue(w.root, w.subKey, w.name);
  std::lock_guard<std::mutex> hold(Lock);
  if (Wake == nullptr) {
    Wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, NotifyThread, nullptr, 0, &ThreadId);
    if (Wake == nullptr || thread == nullptr) return E_FAIL;
    CloseHandle(thread);
  }
  uintptr_t id = NextId++;
  Watches.emplace(id, std::move(w));
  *notify = reinterpret_cast<HREGNOTIFY>(kHandleBase + id * 4);
  SetEvent(Wake);
  return S_OK;
}

extern "C" HRESULT WINAPI RegistryCloseNotification(HREGNOTIFY notify) {
  uintptr_t raw = reinterpret_cast<uintptr_t>(notify);
  if (raw < kHandleBase || (raw & 3) != 0) return E_INVALIDARG;
  uintptr_t id = (raw - kHandleBase) / 4;
  std::unique_lock<std::mutex> hold(Lock);
  auto found = Watches.find(id);
  if (found == Watches.end()) return E_INVALIDARG;
  if (found->second.ownsRoot) RegCloseKey(found->second.root);
  Watches.erase(found);
  // A callback of this request under way finishes before the request is gone, unless it is the
  // callback itself that closes it.
  if (GetCurrentThreadId() != ThreadId) Idle.wait(hold, [id] { return Running != id; });
  return S_OK;
}
