// The device manager's stand-in: loads each stream driver under HKLM\Drivers\BuiltIn and calls
// its Init, as the phone's device manager does at boot.
#pragma once

// Prints a line per driver; the number of drivers whose Init answered a context.
int StartBuiltInDrivers();
