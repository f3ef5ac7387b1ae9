// The sounds the page plays: the device's own WAVE resources, named as the log's "sound"
// entries name them ("Quenza.dll:VEXORISND"), read from the module files of its \Windows folder.
#pragma once

#include <string>

namespace sim::serve {

// The WAV file of a resource, as the device would play it; false with why (an unknown resource,
// or data that is not a RIFF WAVE).
bool sound_wav(const std::string& windows_dir, const std::string& resource, std::string* wav,
               std::string* why);

}  // namespace sim::serve
