// The simulated device's windows.h with the desktop layer's adaptations of the phone's rules
// (PhoneRules.h) after it: what the device's libraries built with the layer see, so that the
// system runs under the device's desktop rules as it runs on desktop.
#ifndef VEXORI_DESKTOP_DEVICE_WINDOWS_H
#define VEXORI_DESKTOP_DEVICE_WINDOWS_H

#include_next <windows.h>

#include "../include/PhoneRules.h"

#endif  // VEXORI_DESKTOP_DEVICE_WINDOWS_H
