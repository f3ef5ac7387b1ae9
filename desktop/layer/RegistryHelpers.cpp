// The shell's registry helpers: one value read or written through a key and an optional subkey.
// A write creates the subkey when it is missing.
#include <regext.h>

namespace {

// The key the value lives in; *opened says whether the caller must close it.
LONG OpenValueKey(HKEY key, LPCWSTR subKey, bool create, HKEY* result, bool* opened) {
  *opened = false;
  if (subKey == nullptr || subKey[0] == 0) {
    *result = key;
    return ERROR_SUCCESS;
  }
  LONG status = create ? RegCreateKeyExW(key, subKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                         result, nullptr)
                       : RegOpenKeyExW(key, subKey, 0, KEY_READ, result);
  *opened = status == ERROR_SUCCESS;
  return status;
}

HRESULT Read(HKEY key, LPCWSTR subKey, LPCWSTR name, DWORD* type, BYTE* data, DWORD* size) {
  HKEY found = nullptr;
  bool opened = false;
  LONG status = OpenValueKey(key, subKey, false, &found, &opened);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = RegQueryValueExW(found, name, nullptr, type, data, size);
  if (opened) RegCloseKey(found);
  return HRESULT_FROM_WIN32(status);
}

HRESULT Write(HKEY key, LPCWSTR subKey, LPCWSTR name, DWORD type, const BYTE* data, DWORD size) {
  HKEY found = nullptr;
  bool opened = false;
  LONG status = OpenValueKey(key, subKey, true, &found, &opened);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = RegSetValueExW(found, name, 0, type, data, size);
  if (opened) RegCloseKey(found);
  return HRESULT_FROM_WIN32(status);
}

}  // namespace

extern "C" HRESULT WINAPI RegistryGetDWORD(HKEY key, LPCWSTR subKey, LPCWSTR name, DWORD* data) {
  if (data == nullptr) return E_INVALIDARG;
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof(value);
  HRESULT hr = Read(key, subKey, name, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (FAILED(hr)) return hr;
  if (type != REG_DWORD || size != sizeof(value)) return E_INVALIDARG;
  *data = value;
  return S_OK;
}

extern "C" HRESULT WINAPI RegistryGetString(HKEY key, LPCWSTR subKey, LPCWSTR name, LPWSTR data,
                                            UINT chars) {
  if (data == nullptr || chars == 0) return E_INVALIDARG;
  WCHAR text[1024];
  DWORD type = REG_NONE;
  DWORD size = sizeof(text) - sizeof(WCHAR);
  HRESULT hr = Read(key, subKey, name, &type, reinterpret_cast<BYTE*>(text), &size);
  if (FAILED(hr)) return hr;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return E_INVALIDARG;
  // The stored text need not be terminated; it ends at its first zero or at its end.
  size_t length = 0;
  while (length < size / sizeof(WCHAR) && text[length] != 0) ++length;
  if (length + 1 > chars) return HRESULT_FROM_WIN32(ERROR_MORE_DATA);  // buffer left untouched
  for (size_t i = 0; i < length; ++i) data[i] = text[i];
  data[length] = 0;
  return S_OK;
}

extern "C" HRESULT WINAPI RegistrySetDWORD(HKEY key, LPCWSTR subKey, LPCWSTR name, DWORD data) {
  return Write(key, subKey, name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

extern "C" HRESULT WINAPI RegistrySetString(HKEY key, LPCWSTR subKey, LPCWSTR name, LPCWSTR data) {
  if (data == nullptr) return E_INVALIDARG;
  DWORD size = static_cast<DWORD>((wcslen(data) + 1) * sizeof(WCHAR));
  return Write(key, subKey, name, REG_SZ, reinterpret_cast<const BYTE*>(data), size);
}
