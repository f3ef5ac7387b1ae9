// The test program builds the engine in directly; like every module it has its debug zones.
#include "gesture/DebugZones.h"

DBGPARAM dpCurSettings = QUOB_DEBUG_ZONES(0x8000);
