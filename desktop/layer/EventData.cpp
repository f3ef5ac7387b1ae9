// Event data: a word kept with an event. On the phone every process that opens a named event sees
// the same word; here the word of a named event lives in a shared section named after the event's
// kernel name, and that of an unnamed event in this process.
#include <windows.h>
#include <winternl.h>

#include <map>
#include <mutex>
#include <string>

namespace {

struct NameInformation {
  UNICODE_STRING Name;
  WCHAR Buffer[512];
};

std::mutex Lock;
std::map<std::wstring, volatile LONG*> NamedWords;  // kept for the life of the process
std::map<HANDLE, DWORD> UnnamedWords;

// The event's kernel name, empty for an unnamed event or a handle that is no event's.
std::wstring KernelName(HANDLE event) {
  NameInformation info = {};
  ULONG got = 0;
  NTSTATUS status = NtQueryObject(event, static_cast<OBJECT_INFORMATION_CLASS>(1), &info,
                                  sizeof(info) - sizeof(WCHAR), &got);
  if (status < 0 || info.Name.Buffer == nullptr) return std::wstring();
  return std::wstring(info.Name.Buffer, info.Name.Length / sizeof(WCHAR));
}

// The shared word of a named event; nullptr when the section cannot be made.
volatile LONG* NamedWord(const std::wstring& name) {
  auto found = NamedWords.find(name);
  if (found != NamedWords.end()) return found->second;
  std::wstring section = L"VexoriEventData_";
  for (WCHAR c : name) section += (c == L'\\') ? L'_' : c;
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(LONG), section.c_str());
  if (mapping == nullptr) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG));
  if (view == nullptr) {
    CloseHandle(mapping);
    return nullptr;
  }
  // The section stays open while this process runs, so the word outlives the event's handles.
  volatile LONG* word = static_cast<volatile LONG*>(view);
  NamedWords[name] = word;
  return word;
}

}  // namespace

extern "C" BOOL WINAPI SetEventData(HANDLE event, DWORD data) {
  if (WaitForSingleObject(event, 0) == WAIT_FAILED) return FALSE;  // not a waitable handle
  std::wstring name = KernelName(event);
  std::lock_guard<std::mutex> hold(Lock);
  if (name.empty()) {
    UnnamedWords[event] = data;
    return TRUE;
  }
  volatile LONG* word = NamedWord(name);
  if (word == nullptr) return FALSE;
  InterlockedExchange(word, static_cast<LONG>(data));
  return TRUE;
}

extern "C" DWORD WINAPI GetEventData(HANDLE event) {
  std::wstring name = KernelName(event);
  std::lock_guard<std::mutex> hold(Lock);
  if (name.empty()) {
    auto found = UnnamedWords.find(event);
    return found != UnnamedWords.end() ? found->second : 0;
  }
  volatile LONG* word = NamedWord(name);
  return word != nullptr ? static_cast<DWORD>(InterlockedCompareExchange(word, 0, 0)) : 0;
}
