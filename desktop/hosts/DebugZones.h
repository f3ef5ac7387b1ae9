// What the phone's loader does for a module that exports its debug-zone table: the mask under
// HKEY_LOCAL_MACHINE\DebugZones, by the table's name, replaces the module's own.
#pragma once

#include <windows.h>

void ApplyDebugZones(HMODULE module);
