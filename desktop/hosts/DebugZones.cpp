#include "DebugZones.h"

namespace {
// The table's layout as the module's debug header has it.
struct ZoneTable {
  WCHAR name[32];
  WCHAR zones[16][32];
  ULONG mask;
};
}  // namespace

void ApplyDebugZones(HMODULE module) {
  ZoneTable* table = reinterpret_cast<ZoneTable*>(GetProcAddress(module, "dpCurSettings"));
  if (table == nullptr) return;
  DWORD mask = 0, size = sizeof(mask);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"DebugZones", table->name, RRF_RT_REG_DWORD, nullptr, &mask,
                   &size) == ERROR_SUCCESS) {
    table->mask = mask;
  }
}
