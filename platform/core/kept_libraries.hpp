// Libraries kept mapped in the host process from one device to the next.
//
// A device that ends leaves the copies of libraries it mapped in memory here instead of unmapping
// them; a later device that loads the same file takes a free one, its writable segments put back
// byte for byte as they were the moment it was first mapped, before anything ran in it. That is
// the whole of a library's module-wide state only where its static initialisation did nothing a
// copy of bytes cannot bring back, so a library is kept only where its file shows none of that:
// no constructors of its own, no thread-local storage, nothing registered to run at exit.
#pragma once

#include <string>

namespace dev {

// Whether devices keep their libraries: unless VEXORI_FRESH_LIBRARIES is set in the environment
// (then every load maps a fresh copy, as every boot did before).
bool keeping_libraries();

// Takes a free kept copy of the library file `found`, as it was mapped: its handle, its
// descriptor and its path as the dynamic linker knows it; false when there is none.
bool take_kept_library(const std::string& found, void** dl, int* memory, std::string* host_path);

// Keeps the copy just mapped (`dl`, in the descriptor `memory`, mapped through `host_path`) of
// the file `found`, in use now: its writable segments are copied as they are. False (and nothing
// kept) when the library's file shows state a copy of bytes cannot bring back.
bool keep_library(const std::string& found, void* dl, int memory, const std::string& host_path);

// The kept copy in use whose handle is `dl`, given back for a later device; false when `dl` is
// not a kept copy. forget: it is unmapped after all (FreeLibrary while the device runs), and no
// longer kept.
bool give_back_library(void* dl, bool forget);

}  // namespace dev
