// Quenza.dll: the broker stream driver of the device manager. Module-wide state.
#pragma once

#include <windows.h>

#include "gesture/Gestures.h"

struct BrokerModule {
  HINSTANCE Module;
  Gestures* BrokerEngine;
};

extern BrokerModule Broker;
