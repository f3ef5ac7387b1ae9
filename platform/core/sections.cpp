// Sections: memory that processes share by name (CreateFileMappingW backed by no file), the views
// that map it, and where a pointer of another process leads under the desktop address spaces.
#include <sys/mman.h>

#include "kernel.hpp"

namespace dev {

namespace {

const size_t kPage = 4096;
// Views start at a multiple of this, as on the platform.
const size_t kAllocationGranularity = 65536;

size_t whole_pages(size_t size) {
  return (size + kPage - 1) / kPage * kPage;
}

std::shared_ptr<SectionObj> section_of(HANDLE h, const char* call) {
  auto obj = impl().lookup(h, call);
  if (!obj) return nullptr;
  if (obj->type != ObjType::Section) {
    impl().bad_handle(call, reinterpret_cast<uintptr_t>(h));
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<SectionObj>(obj);
}

std::shared_ptr<SectionObj> named_section(const std::u16string& name) {
  auto& d = impl();
  auto it = d.named_sections.find(name);
  if (it == d.named_sections.end()) return nullptr;
  auto section = it->second.lock();
  if (!section) d.named_sections.erase(it);
  return section;
}

void log_section(const char* call, const SectionObj& s, bool existed) {
  log_event("section",
            dev::fields("call", call, "name", s.name.empty() ? std::string() : to_utf8(s.name),
                        "size", s.size, "existed", existed));
}

}  // namespace

SectionObj::~SectionObj() {
  if (memory != nullptr) munmap(memory, whole_pages(size));
}

UnmappedRange::~UnmappedRange() {
  if (base != nullptr) munmap(base, kSize);
}

void* UnmappedRange::foreign(const void* p) {
  if (base == nullptr) {
    void* m = mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    base = m;
  }
  // The first half of the range holds the places; the second is room for what lies after them.
  uintptr_t place = reinterpret_cast<uintptr_t>(p) & (kSize / 2 - 1);
  return static_cast<char*>(base) + place;
}

}  // namespace dev

using dev::impl;

extern "C" {

HANDLE WINAPI CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD sizeHigh,
                                 DWORD sizeLow, LPCWSTR name) {
  DEVICE_CALL_POINT("CreateFileMappingW");
  auto& d = impl();
  // The device has no files: a section is backed by memory alone.
  if (file != INVALID_HANDLE_VALUE) {
    d.bad_handle("CreateFileMappingW", reinterpret_cast<uintptr_t>(file));
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  bool named = name != nullptr && name[0] != 0;
  if (named) {
    std::u16string key(name);
    if (auto existing = dev::named_section(key)) {
      // The existing section, whatever size and protection were asked for.
      dev::log_section("CreateFileMappingW", *existing, true);
      HANDLE h = d.add_handle(existing);
      SetLastError(ERROR_ALREADY_EXISTS);
      return h;
    }
    // One name space for the named objects: an event of the name is not a section.
    auto event = d.named_events.find(key);
    if (event != d.named_events.end() && !event->second.expired()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  uint64_t size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  if ((protect != PAGE_READWRITE && protect != PAGE_READONLY) || size == 0 || size > 0x7FFFFFFFu) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto section = std::make_shared<dev::SectionObj>();
  section->size = static_cast<size_t>(size);
  section->protect = protect;
  void* m = mmap(nullptr, dev::whole_pages(section->size), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  section->memory = m;
  if (named) {
    section->name = name;
    d.named_sections[section->name] = section;
  }
  dev::log_section("CreateFileMappingW", *section, false);
  SetLastError(ERROR_SUCCESS);
  return d.add_handle(section);
}

HANDLE WINAPI OpenFileMappingW(DWORD, BOOL, LPCWSTR name) {
  DEVICE_CALL_POINT("OpenFileMappingW");
  if (name == nullptr || name[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto section = dev::named_section(std::u16string(name));
  if (!section) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  dev::log_section("OpenFileMappingW", *section, true);
  SetLastError(ERROR_SUCCESS);
  return impl().add_handle(section);
}

LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                            SIZE_T bytes) {
  DEVICE_CALL_POINT("MapViewOfFile");
  auto section = dev::section_of(mapping, "MapViewOfFile");
  if (!section) return nullptr;
  uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
  bool writes = (access & FILE_MAP_WRITE) != 0;
  if (writes && section->protect == PAGE_READONLY) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (offset % dev::kAllocationGranularity != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A view lies inside its section: more than it holds is refused, not mapped short.
  if (offset >= section->size || bytes > section->size - offset) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  void* view = static_cast<char*>(section->memory) + offset;
  auto& d = impl();
  d.views.emplace(reinterpret_cast<uintptr_t>(view),
                  dev::SectionView{section, d.current()->process, static_cast<size_t>(offset)});
  SetLastError(ERROR_SUCCESS);
  return view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID address) {
  DEVICE_CALL_POINT("UnmapViewOfFile");
  auto& d = impl();
  // Views of one section share their address (as on the phone): the caller's own is unmapped.
  auto [first, last] = d.views.equal_range(reinterpret_cast<uintptr_t>(address));
  auto it = first;
  while (it != last && it->second.process != d.current()->process) ++it;
  if (it == last) {
    dev::log_event("bad-view", dev::fields("call", "UnmapViewOfFile", "address",
                                           dev::hex(reinterpret_cast<uintptr_t>(address))));
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  d.views.erase(it);
  return TRUE;
}

}  // extern "C"
