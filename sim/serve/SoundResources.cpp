#include "SoundResources.h"

#include <cstdint>

#include "device/module_files.hpp"

namespace sim::serve {
namespace {

const size_t kMaxResourceName = 200;
const size_t kRiffHeader = 12, kChunkHeader = 8;

uint32_t read32(const std::string& s, size_t at) {
  auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(s[at + i])); };
  return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
}

}  // namespace

bool sound_wav(const std::string& windows_dir, const std::string& resource, std::string* wav,
               std::string* why) {
  size_t colon = resource.rfind(':');
  if (resource.size() > kMaxResourceName || colon == std::string::npos || colon == 0 ||
      colon + 1 == resource.size()) {
    *why =
        "a sound is named MODULE:NAME, as the log's sound entries name it (Quenza.dll:VEXORISND)";
    return false;
  }
  std::string data;
  if (!dev::module_resource(windows_dir, resource.substr(0, colon), "WAVE",
                            resource.substr(colon + 1), &data, why)) {
    *why = "no sound " + resource + ": " + *why;
    return false;
  }
  if (data.size() < kRiffHeader || data.compare(0, 4, "RIFF") != 0 ||
      data.compare(8, 4, "WAVE") != 0) {
    *why = "the sound " + resource + " is not a RIFF WAVE";
    return false;
  }
  // A resource is padded to four bytes: the file is as long as its header says.
  size_t length = static_cast<size_t>(read32(data, 4)) + kChunkHeader;
  if (length > data.size()) {
    *why = "the sound " + resource + " is truncated";
    return false;
  }
  *wav = data.substr(0, length);
  return true;
}

}  // namespace sim::serve
