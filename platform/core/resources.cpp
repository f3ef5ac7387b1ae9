// Resources of loaded modules. A module carries its resources as the image of a compiled
// resource file (.res) between two exported symbols, _rsrc_start and _rsrc_end: a sequence of
// records, each a header (data size, header size, type, name, language...) and its data, every
// part aligned to four bytes. FindResourceW walks the records of the module whose handle it is
// given; an HRSRC is the address of a record's header, and the data are used in place.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "kernel.hpp"

namespace dev {
namespace {

const WORD kOrdinalMark = 0xFFFF;
const size_t kFixedHeader = 8;  // DataSize, HeaderSize
const size_t kHeaderTail = 16;  // DataVersion, MemoryFlags, LanguageId, Version, Characteristics

struct Image {
  const BYTE* begin = nullptr;
  const BYTE* end = nullptr;
};

// One record of a resource image.
struct Record {
  const BYTE* header = nullptr;
  const BYTE* data = nullptr;
  DWORD size = 0;
  std::u16string type, name;  // strings folded to one case; ordinals as "#n"
  std::u16string spelled;     // the name as the image spells it
  WORD ordinal_type = 0, ordinal_name = 0;
};

size_t align4(size_t n) {
  return (n + 3) & ~size_t{3};
}

Image image_of(Module* mod) {
  Image im;
  if (mod == nullptr || mod->dl == nullptr) return im;
  im.begin = static_cast<const BYTE*>(dlsym(mod->dl, "_rsrc_start"));
  im.end = static_cast<const BYTE*>(dlsym(mod->dl, "_rsrc_end"));
  if (im.begin == nullptr || im.end == nullptr || im.end < im.begin) im = Image{};
  return im;
}

// Reads a type or name field at p (limit: end of the header); advances p. False if malformed.
bool read_id(const BYTE*& p, const BYTE* limit, std::u16string& text, WORD& ordinal,
             std::u16string* spelled = nullptr) {
  if (limit - p < 2) return false;
  if (read16(p) == kOrdinalMark) {
    if (limit - p < 4) return false;
    ordinal = read16(p + 2);
    p += 4;
    return true;
  }
  for (;;) {
    if (limit - p < 2) return false;
    WORD c = read16(p);
    p += 2;
    if (c == 0) break;
    text.push_back(static_cast<char16_t>(c));
  }
  if (spelled != nullptr) *spelled = text;
  text = fold(text);
  return true;
}

// The record at p, or false when the image ends or is malformed there.
bool read_record(const BYTE* p, const Image& im, Record& r) {
  if (im.end - p < static_cast<ptrdiff_t>(kFixedHeader)) return false;
  DWORD size = read32(p), header = read32(p + 4);
  if (header < kFixedHeader + kHeaderTail || header > static_cast<size_t>(im.end - p) ||
      size > static_cast<size_t>(im.end - p) - header) {
    return false;
  }
  const BYTE* limit = p + header - kHeaderTail;
  const BYTE* q = p + kFixedHeader;
  if (!read_id(q, limit, r.type, r.ordinal_type) ||
      !read_id(q, limit, r.name, r.ordinal_name, &r.spelled)) {
    return false;
  }
  r.header = p;
  r.data = p + header;
  r.size = size;
  return true;
}

bool matches(LPCWSTR wanted, const std::u16string& text, WORD ordinal) {
  if (IS_INTRESOURCE(wanted)) {
    return text.empty() && ordinal == static_cast<WORD>(reinterpret_cast<uintptr_t>(wanted));
  }
  return !text.empty() && fold(wanted) == text;
}

// Calls fn for each record of the image until it returns true; the record it stopped at.
template <class Fn>
bool walk(const Image& im, Record& out, Fn fn) {
  const BYTE* p = im.begin;
  while (p != nullptr && p < im.end) {
    Record r;
    if (!read_record(p, im, r)) return false;
    if (fn(r)) {
      out = r;
      return true;
    }
    size_t next = align4(static_cast<size_t>(r.data - im.begin) + r.size);
    if (next >= static_cast<size_t>(im.end - im.begin)) return false;
    p = im.begin + next;
  }
  return false;
}

// The record whose header is at h in the module, checked against the module's image.
bool record_at(Module* mod, HRSRC h, Record& r) {
  Image im = image_of(mod);
  auto target = reinterpret_cast<const BYTE*>(h);
  return walk(im, r, [&](const Record& x) { return x.header == target; });
}

Module* checked_module(HMODULE h, const char* call) {
  for (auto& m : impl().modules) {
    if (m->handle == reinterpret_cast<uintptr_t>(h) && m->refs > 0) return m.get();
  }
  impl().bad_handle(call, reinterpret_cast<uintptr_t>(h));
  impl().current()->last_error = ERROR_INVALID_HANDLE;
  return nullptr;
}

}  // namespace

bool find_in_image(const BYTE* begin, const BYTE* end, LPCWSTR name, LPCWSTR type,
                   const BYTE** data, DWORD* size) {
  Image im{begin, end};
  Record r;
  if (!walk(im, r, [&](const Record& x) {
        return matches(type, x.type, x.ordinal_type) && matches(name, x.name, x.ordinal_name);
      })) {
    return false;
  }
  *data = r.data;
  *size = r.size;
  return true;
}

bool resource_holding(const void* address, const BYTE** data, DWORD* size, std::string* name) {
  auto p = static_cast<const BYTE*>(address);
  for (auto& m : impl().modules) {
    if (m->refs == 0) continue;
    Image im = image_of(m.get());
    if (p < im.begin || p >= im.end) continue;
    Record r;
    if (walk(im, r, [&](const Record& x) { return p >= x.data && p < x.data + x.size; })) {
      *data = r.data;
      *size = r.size;
      if (name != nullptr) {
        *name = to_utf8(m->name) + ":" +
                (r.spelled.empty() ? "#" + std::to_string(r.ordinal_name) : to_utf8(r.spelled));
      }
      return true;
    }
  }
  return false;
}

}  // namespace dev

using dev::impl;

extern "C" {

HRSRC WINAPI FindResourceW(HMODULE h, LPCWSTR name, LPCWSTR type) {
  DEVICE_CALL_POINT("FindResourceW");
  dev::Module* mod = dev::checked_module(h, "FindResourceW");
  if (mod == nullptr) return nullptr;
  if (name == nullptr || type == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  dev::Record r;
  bool type_seen = false;
  bool found = dev::walk(dev::image_of(mod), r, [&](const dev::Record& x) {
    if (!dev::matches(type, x.type, x.ordinal_type)) return false;
    type_seen = true;
    return dev::matches(name, x.name, x.ordinal_name);
  });
  if (!found) {
    SetLastError(type_seen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<BYTE*>(r.header));
}

HGLOBAL WINAPI LoadResource(HMODULE h, HRSRC res) {
  DEVICE_CALL_POINT("LoadResource");
  dev::Module* mod = dev::checked_module(h, "LoadResource");
  dev::Record r;
  if (mod == nullptr) return nullptr;
  if (!dev::record_at(mod, res, r)) {
    impl().bad_handle("LoadResource", reinterpret_cast<uintptr_t>(res));
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return const_cast<BYTE*>(r.data);
}

LPVOID WINAPI LockResource(HGLOBAL data) {
  DEVICE_CALL_POINT("LockResource");
  return data;
}

// A string table holds sixteen strings a block, each its length and its characters; block n
// holds the strings 16(n-1) to 16n-1.
int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR out, int max) {
  DEVICE_CALL_POINT("LoadStringW");
  if (out == nullptr || max <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  out[0] = 0;
  HRSRC block = FindResourceW(instance, MAKEINTRESOURCE(id / 16 + 1), RT_STRING);
  if (block == nullptr) return 0;
  auto p = static_cast<const BYTE*>(LoadResource(instance, block));
  const BYTE* end = p + SizeofResource(instance, block);
  for (UINT i = 0; i < id % 16; ++i) {
    if (end - p < 2) return 0;
    p += 2 + 2 * static_cast<size_t>(dev::read16(p));
  }
  if (end - p < 2) return 0;
  size_t length = dev::read16(p);
  if (static_cast<size_t>(end - p - 2) < 2 * length) return 0;
  size_t n = std::min(length, static_cast<size_t>(max) - 1);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<WCHAR>(dev::read16(p + 2 + 2 * i));
  out[n] = 0;
  if (length == 0) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return static_cast<int>(n);
}

HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name) {
  DEVICE_CALL_POINT("LoadIconW");
  HRSRC group = FindResourceW(instance, name, RT_GROUP_ICON);
  return group ? reinterpret_cast<HICON>(group) : nullptr;
}

DWORD WINAPI SizeofResource(HMODULE h, HRSRC res) {
  DEVICE_CALL_POINT("SizeofResource");
  dev::Module* mod = dev::checked_module(h, "SizeofResource");
  dev::Record r;
  if (mod == nullptr) return 0;
  if (!dev::record_at(mod, res, r)) {
    impl().bad_handle("SizeofResource", reinterpret_cast<uintptr_t>(res));
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return r.size;
}

}  // extern "C"
