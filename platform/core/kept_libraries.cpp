#include "kept_libraries.hpp"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace dev {
namespace {

struct KeptLibrary {
  std::string found;  // the file of \Windows it is a copy of
  struct stat file {};
  void* dl = nullptr;
  int memory = -1;
  std::string host_path;
  struct Segment {
    char* at = nullptr;
    std::vector<char> bytes;  // as they were when the library was first mapped
  };
  std::vector<Segment> segments;
  bool in_use = false;
};

// One host thread runs devices, one at a time.
std::vector<std::unique_ptr<KeptLibrary>>& kept() {
  static std::vector<std::unique_ptr<KeptLibrary>> all;
  return all;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Calls a library could make to leave something of its own in the host process that outlives a
// copy of its bytes: a function to run at exit or at a thread's exit, a thread-specific key, a
// handler at fork.
const char* const kRegistrations[] = {"__cxa_atexit",
                                      "atexit",
                                      "on_exit",
                                      "__cxa_thread_atexit",
                                      "__cxa_thread_atexit_impl",
                                      "pthread_key_create",
                                      "__register_atfork",
                                      "pthread_atfork"};

// Whether the library's file (its bytes read from the descriptor) shows module-wide state beyond
// its writable segments: constructors of its own (the C runtime's own frame set-up is the one
// entry of an initialisation array without them), thread-local storage, or any of the
// registrations above among its imports.
bool bytes_are_all_its_state(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(Elf64_Ehdr))) return false;
  std::vector<char> image(static_cast<size_t>(st.st_size));
  for (size_t done = 0; done < image.size();) {
    ssize_t n = pread(fd, image.data() + done, image.size() - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  auto within = [&](uint64_t offset, uint64_t bytes) {
    return offset <= image.size() && bytes <= image.size() - offset;
  };
  Elf64_Ehdr eh;
  std::memcpy(&eh, image.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_phentsize != sizeof(Elf64_Phdr) ||
      !within(eh.e_shoff, uint64_t{eh.e_shnum} * sizeof(Elf64_Shdr)) ||
      !within(eh.e_phoff, uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr))) {
    return false;
  }
  for (size_t i = 0; i < eh.e_phnum; ++i) {
    Elf64_Phdr ph;
    std::memcpy(&ph, image.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
    if (ph.p_type == PT_TLS) return false;
  }
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  std::memcpy(sections.data(), image.data() + eh.e_shoff, eh.e_shnum * sizeof(Elf64_Shdr));
  size_t init_entries = 0;
  for (const Elf64_Shdr& sh : sections) {
    if (sh.sh_type == SHT_PREINIT_ARRAY) return false;
    if (sh.sh_type == SHT_INIT_ARRAY) init_entries += sh.sh_size / sizeof(Elf64_Addr);
    if (sh.sh_type != SHT_DYNSYM) continue;
    if (sh.sh_link >= sections.size() || !within(sh.sh_offset, sh.sh_size)) return false;
    const Elf64_Shdr& names = sections[sh.sh_link];
    if (!within(names.sh_offset, names.sh_size)) return false;
    for (uint64_t at = 0; at + sizeof(Elf64_Sym) <= sh.sh_size; at += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, image.data() + sh.sh_offset + at, sizeof sym);
      if (sym.st_shndx != SHN_UNDEF || sym.st_name >= names.sh_size) continue;
      const char* name = image.data() + names.sh_offset + sym.st_name;
      size_t room = names.sh_size - sym.st_name;
      for (const char* r : kRegistrations) {
        if (strnlen(name, room) == std::strlen(r) && std::strcmp(name, r) == 0) return false;
      }
    }
  }
  return init_entries <= 1;
}

struct Found {
  uintptr_t base = 0;
  const char* name = nullptr;
  std::vector<std::pair<uintptr_t, uintptr_t>> writable;  // [from, to)
  std::pair<uintptr_t, uintptr_t> relro{0, 0};
  bool tls = false;
  bool seen = false;
};

int find_segments(dl_phdr_info* info, size_t, void* data) {
  auto* f = static_cast<Found*>(data);
  if (info->dlpi_addr != f->base || info->dlpi_name == nullptr ||
      std::strcmp(info->dlpi_name, f->name) != 0) {
    return 0;
  }
  f->seen = true;
  for (size_t i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    uintptr_t from = info->dlpi_addr + ph.p_vaddr, to = from + ph.p_memsz;
    if (ph.p_type == PT_LOAD && (ph.p_flags & PF_W)) f->writable.emplace_back(from, to);
    if (ph.p_type == PT_GNU_RELRO) f->relro = {from, to};
    if (ph.p_type == PT_TLS) f->tls = true;
  }
  return 1;
}

// The library's writable segments as they are now. The part the dynamic linker made read-only
// once it had relocated the library is left out: nothing writes it again.
bool copy_segments(void* dl, std::vector<KeptLibrary::Segment>* out) {
  link_map* map = nullptr;
  if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return false;
  Found f;
  f.base = map->l_addr;
  f.name = map->l_name;
  dl_iterate_phdr(find_segments, &f);
  if (!f.seen || f.tls) return false;
  for (auto [from, to] : f.writable) {
    if (f.relro.first <= from && from < f.relro.second) from = std::min(to, f.relro.second);
    if (from >= to) continue;
    KeptLibrary::Segment s;
    s.at = reinterpret_cast<char*>(from);
    s.bytes.assign(s.at, s.at + (to - from));
    out->push_back(std::move(s));
  }
  return true;
}

}  // namespace

bool keeping_libraries() {
  return std::getenv("VEXORI_FRESH_LIBRARIES") == nullptr;
}

bool take_kept_library(const std::string& found, void** dl, int* memory, std::string* host_path) {
  struct stat now {};
  if (stat(found.c_str(), &now) != 0) return false;
  for (auto& k : kept()) {
    if (k->in_use || k->found != found || !same_file(k->file, now)) continue;
    for (const auto& s : k->segments) std::memcpy(s.at, s.bytes.data(), s.bytes.size());
    k->in_use = true;
    *dl = k->dl;
    *memory = k->memory;
    *host_path = k->host_path;
    return true;
  }
  return false;
}

bool keep_library(const std::string& found, void* dl, int memory, const std::string& host_path) {
  auto k = std::make_unique<KeptLibrary>();
  if (memory < 0 || stat(found.c_str(), &k->file) != 0 || !bytes_are_all_its_state(memory) ||
      !copy_segments(dl, &k->segments)) {
    return false;
  }
  k->found = found;
  k->dl = dl;
  k->memory = memory;
  k->host_path = host_path;
  k->in_use = true;
  kept().push_back(std::move(k));
  return true;
}

bool give_back_library(void* dl, bool forget) {
  auto& all = kept();
  for (auto it = all.begin(); it != all.end(); ++it) {
    if ((*it)->dl != dl || !(*it)->in_use) continue;
    if (forget) {
      all.erase(it);
    } else {
      (*it)->in_use = false;
    }
    return true;
  }
  return false;
}

}  // namespace dev
