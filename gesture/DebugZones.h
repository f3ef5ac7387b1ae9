// The debug-zone table shared by every deliverable; each module defines its own dpCurSettings
// with QUOB_DEBUG_ZONES(its initial mask).
#pragma once

#include <windows.h>

#define QUOB_DEBUG_ZONES(mask)                                                              \
  {                                                                                         \
    TEXT("QUOBUpdater"),                                                                    \
        {TEXT("Init"), TEXT("Except"), TEXT("Verbose"),  TEXT(""),      TEXT(""), TEXT(""), \
         TEXT(""),     TEXT(""),       TEXT(""),         TEXT(""),      TEXT(""), TEXT(""), \
         TEXT(""),     TEXT(""),       TEXT("Warnings"), TEXT("Errors")},                   \
        (mask)                                                                              \
  }

#define ZONE_INIT DEBUGZONE(0)
#define ZONE_EXCEPT DEBUGZONE(1)
#define ZONE_VERBOSE DEBUGZONE(2)
#define ZONE_WARNING DEBUGZONE(14)
#define ZONE_ERROR DEBUGZONE(15)
