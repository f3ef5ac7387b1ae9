// Touch-panel driver interface: sample flags and the sample callback.
#ifndef VEXORI_DESKTOP_TCHDDI_H
#define VEXORI_DESKTOP_TCHDDI_H

#include <windows.h>

typedef UINT32 TOUCH_PANEL_SAMPLE_FLAGS;

#define TouchSampleValidFlag 0x01u
#define TouchSampleDownFlag 0x02u
#define TouchSampleIsCalibratedFlag 0x04u
#define TouchSamplePreviousDownFlag 0x08u
#define TouchSampleIgnore 0x10u
#define TouchSampleMouse 0x40000000u

// The window system's sample callback: flags, x and y in quarter pixels of the panel.
typedef BOOL (*PFN_TOUCH_PANEL_CALLBACK)(TOUCH_PANEL_SAMPLE_FLAGS, INT, INT);

#endif  // VEXORI_DESKTOP_TCHDDI_H
