// How the proxy decided a stroke, one line in the Verbose zone when the decision is made.
#pragma once

#include "gesture/DebugZones.h"

inline void ReportPassThrough(const WCHAR* reason) {
  DEBUGMSG(ZONE_VERBOSE, (TEXT("Stroke passes through: %s\r\n"), reason));
}

inline void ReportWithheld() {
  DEBUGMSG(ZONE_VERBOSE, (TEXT("Stroke withheld: a gesture\r\n")));
}
