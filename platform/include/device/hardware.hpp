// Hardware of the simulated device, for the device's own stand-in drivers only.
#pragma once

#include "device/device.hpp"

namespace dev::hw {

// Blocks the calling device thread until the touch panel has a sample due, and takes it.
PanelSample panel_next();

// The device library that holds an address ("Pallux.dll"), or "core" for the device itself.
std::string module_of_address(const void* address);

}  // namespace dev::hw
