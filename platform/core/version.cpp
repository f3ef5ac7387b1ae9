// File version information: the version resource of a module file in \Windows, read from the
// file without loading it; and for the host, any resource of a module file read the same way. A
// module carries its resource image in an ELF section of its own,
// ".rsrc"; the version resource is its record of type RT_VERSION, name 1.
#include <elf.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "device/module_files.hpp"
#include "kernel.hpp"

namespace dev {
namespace {

const char kResourceSection[] = ".rsrc";
const WORD kVersionInfoName = 1;

template <class T>
bool read_at(const std::vector<BYTE>& file, uint64_t offset, T* out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
  std::memcpy(out, file.data() + offset, sizeof(T));
  return true;
}

// The bytes of the resource section of an ELF file, or false.
bool resource_section(const std::vector<BYTE>& file, std::vector<BYTE>* out) {
  Elf64_Ehdr header;
  if (!read_at(file, 0, &header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr)) {
    return false;
  }
  Elf64_Shdr names;
  if (!read_at(file, header.e_shoff + uint64_t{header.e_shstrndx} * sizeof(Elf64_Shdr), &names))
    return false;
  for (uint64_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr section;
    if (!read_at(file, header.e_shoff + i * sizeof(Elf64_Shdr), &section)) return false;
    uint64_t name_at = names.sh_offset + section.sh_name;
    if (name_at >= file.size() || section.sh_type == SHT_NOBITS) continue;
    const char* name = reinterpret_cast<const char*>(file.data() + name_at);
    if (strnlen(name, file.size() - name_at) != sizeof(kResourceSection) - 1 ||
        std::strcmp(name, kResourceSection) != 0) {
      continue;
    }
    if (section.sh_offset > file.size() || file.size() - section.sh_offset < section.sh_size)
      return false;
    auto begin = file.begin() + static_cast<long>(section.sh_offset);
    out->assign(begin, begin + static_cast<long>(section.sh_size));
    return true;
  }
  return false;
}

// The version resource of a file in \Windows; sets the last error when there is none.
bool version_resource(LPCWSTR file_name, std::vector<BYTE>* out) {
  std::string path = file_name ? windows_file(file_name) : "";
  std::ifstream in(path, std::ios::binary);
  if (path.empty() || !in) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  std::vector<BYTE> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<BYTE> image;
  const BYTE* data = nullptr;
  DWORD size = 0;
  if (!resource_section(file, &image) ||
      !find_in_image(image.data(), image.data() + image.size(), MAKEINTRESOURCE(kVersionInfoName),
                     RT_VERSION, &data, &size)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return false;
  }
  out->assign(data, data + size);
  return true;
}

}  // namespace

bool module_resource(const std::string& windows_dir, const std::string& module,
                     const std::string& type, const std::string& name, std::string* data,
                     std::string* why) {
  namespace fs = std::filesystem;
  std::u16string wanted = fold(to_utf16(module));
  fs::path found;
  std::error_code ec;
  if (!module.empty() && module.find('/') == std::string::npos && module != "." && module != "..") {
    for (fs::directory_iterator it(windows_dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file(ec) && fold(to_utf16(it->path().filename().string())) == wanted) {
        found = it->path();
        break;
      }
    }
  }
  if (found.empty()) {
    *why = "no module " + module + " in " + windows_dir;
    return false;
  }
  std::ifstream in(found, std::ios::binary);
  std::vector<BYTE> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<BYTE> image;
  if (!resource_section(file, &image)) {
    *why = module + " has no resources";
    return false;
  }
  const BYTE* at = nullptr;
  DWORD size = 0;
  std::u16string wide_name = to_utf16(name), wide_type = to_utf16(type);
  if (name.empty() || !find_in_image(image.data(), image.data() + image.size(), wide_name.c_str(),
                                     wide_type.c_str(), &at, &size)) {
    *why = "no " + type + " resource " + name + " in " + module;
    return false;
  }
  data->assign(reinterpret_cast<const char*>(at), size);
  return true;
}

}  // namespace dev

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle) {
  DEVICE_CALL_POINT("GetFileVersionInfoSizeW");
  if (handle != nullptr) *handle = 0;
  std::vector<BYTE> version;
  if (!dev::version_resource(file, &version)) return 0;
  return static_cast<DWORD>(version.size());
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR file, DWORD, DWORD length, LPVOID data) {
  DEVICE_CALL_POINT("GetFileVersionInfoW");
  std::vector<BYTE> version;
  if (data == nullptr || length == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!dev::version_resource(file, &version)) return FALSE;
  std::memcpy(data, version.data(), std::min<size_t>(length, version.size()));
  return TRUE;
}

// Only the root block "\" is asked for: the fixed file information that follows the block's key
// "VS_VERSION_INFO", aligned to four bytes.
BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* out, UINT* length) {
  DEVICE_CALL_POINT("VerQueryValueW");
  if (block == nullptr || sub_block == nullptr || out == nullptr || length == nullptr ||
      std::u16string(sub_block) != u"\\") {
    return FALSE;
  }
  auto p = static_cast<const BYTE*>(block);
  WORD total = dev::read16(p), value_length = dev::read16(p + 2);
  size_t at = 6;
  while (at + 2 <= total && dev::read16(p + at) != 0) at += 2;
  at = (at + 2 + 3) & ~size_t{3};
  if (value_length == 0 || at + value_length > total ||
      (value_length >= 4 && dev::read32(p + at) != VS_FFI_SIGNATURE)) {
    return FALSE;
  }
  *out = const_cast<BYTE*>(p + at);
  *length = value_length;
  return TRUE;
}

}  // extern "C"
