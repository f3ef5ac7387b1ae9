// The device's sound: sndPlaySoundW plays the image of a WAVE file from memory, taking the
// sound's own length in device time, and logs a "sound" entry; the host can mix everything
// played into one WAV file at its device times.
#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "kernel.hpp"

namespace dev {
namespace {

const WORD kFormatPcm = 1;
const DWORD kMinRate = 8000, kMaxRate = 96000;
const DWORD kMixRate = 44100;  // the recording: 16-bit stereo at this rate
const size_t kRiffHeader = 12;
const size_t kChunkHeader = 8;
const size_t kPcmFormatSize = 16;

struct Wave {
  WORD channels = 0;
  DWORD rate = 0;
  WORD bits = 0;
  const BYTE* frames = nullptr;
  DWORD bytes = 0;
  DWORD length = 0;     // of the image the sound was played from
  std::string refused;  // why it cannot be played; empty when it can
};

// Checks the image of a WAVE file. `bound` is how much memory is known to hold it: the size of
// the resource it lies in, else what its RIFF header claims.
Wave parse(const BYTE* p, size_t bound) {
  Wave w;
  w.length = static_cast<DWORD>(bound);
  if (bound < kRiffHeader || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0) {
    w.refused = "not a RIFF WAVE";
    return w;
  }
  size_t riff = static_cast<size_t>(read32(p + 4)) + kChunkHeader;
  if (riff > bound) {
    w.refused = "truncated";
    return w;
  }
  bool have_format = false;
  for (size_t at = kRiffHeader; at + kChunkHeader <= riff;) {
    const BYTE* chunk = p + at;
    size_t size = read32(chunk + 4);
    if (size > riff - at - kChunkHeader) {
      w.refused = "truncated";
      return w;
    }
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < kPcmFormatSize) {
        w.refused = "bad format chunk";
        return w;
      }
      const BYTE* f = chunk + kChunkHeader;
      if (read16(f) != kFormatPcm) {
        w.refused = "not PCM";
        return w;
      }
      w.channels = read16(f + 2);
      w.rate = read32(f + 4);
      w.bits = read16(f + 14);
      bool sane = (w.channels == 1 || w.channels == 2) && w.rate >= kMinRate &&
                  w.rate <= kMaxRate && (w.bits == 8 || w.bits == 16) &&
                  read16(f + 12) == w.channels * w.bits / 8;
      if (!sane) {
        w.refused = "unsupported format";
        return w;
      }
      have_format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) break;
      w.frames = chunk + kChunkHeader;
      w.bytes = static_cast<DWORD>(size);
      return w;
    }
    at += kChunkHeader + size + (size & 1);
  }
  w.refused = have_format ? "no data" : "no format";
  return w;
}

uint32_t duration_ms(const Wave& w) {
  uint64_t frames = w.bytes / (w.channels * w.bits / 8u);
  return static_cast<uint32_t>((frames * 1000 + w.rate / 2) / w.rate);
}

// One channel of one frame as a 16-bit sample.
int sample_at(const PlayedSound& s, size_t frame, int channel) {
  size_t width = s.bits / 8u;
  const BYTE* p = s.data.data() + (frame * s.channels + std::min(channel, s.channels - 1)) * width;
  if (s.bits == 8) return (static_cast<int>(*p) - 128) * 256;
  return static_cast<int16_t>(read16(p));
}

void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

}  // namespace

std::vector<int16_t> Device::mix_audio() const {
  const Impl& d = *impl_;
  size_t total = static_cast<size_t>(d.clock * kMixRate / 1000);
  std::vector<int32_t> sum(total * 2, 0);
  for (const PlayedSound& s : d.sounds) {
    size_t frames = s.data.size() / (s.channels * s.bits / 8u);
    size_t start = static_cast<size_t>(s.at * kMixRate / 1000);
    size_t out_frames = static_cast<size_t>(static_cast<uint64_t>(frames) * kMixRate / s.rate);
    for (size_t i = 0; i < out_frames && start + i < total; ++i) {
      size_t src = static_cast<size_t>(static_cast<uint64_t>(i) * s.rate / kMixRate);
      for (int c = 0; c < 2; ++c) sum[(start + i) * 2 + c] += sample_at(s, src, c);
    }
  }
  std::vector<int16_t> out(sum.size());
  for (size_t i = 0; i < sum.size(); ++i) {
    out[i] = static_cast<int16_t>(std::clamp(sum[i], -32768, 32767));
  }
  return out;
}

bool Device::write_audio(const std::string& path) const {
  std::vector<int16_t> samples = mix_audio();
  auto bytes = static_cast<uint32_t>(samples.size() * 2);
  std::string out = "RIFF";
  put32(out, 36 + bytes);
  out += "WAVEfmt ";
  put32(out, 16);
  put16(out, kFormatPcm);
  put16(out, 2);
  put32(out, kMixRate);
  put32(out, kMixRate * 4);
  put16(out, 4);
  put16(out, 16);
  out += "data";
  put32(out, bytes);
  for (int16_t v : samples) put16(out, static_cast<uint16_t>(v));
  std::ofstream file(path, std::ios::binary);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(file);
}

}  // namespace dev

using dev::impl;

extern "C" {

BOOL WINAPI sndPlaySoundW(LPCWSTR sound, UINT flags) {
  auto& d = impl();
  if (sound == nullptr) return TRUE;  // stops what plays; nothing plays past its call
  if (!(flags & SND_MEMORY)) {
    dev::log_event("sound", {{"played", false}, {"reason", "only sounds in memory"}});
    return FALSE;
  }
  auto p = reinterpret_cast<const BYTE*>(sound);
  const BYTE* resource = nullptr;
  DWORD size = 0;
  size_t bound;
  if (dev::resource_holding(p, &resource, &size)) {
    bound = static_cast<size_t>(resource + size - p);
  } else {
    // Memory of the caller's own: the image is as long as its header says.
    bound = std::memcmp(p, "RIFF", 4) == 0 ? dev::read32(p + 4) + dev::kChunkHeader : 0;
  }
  dev::Wave w = dev::parse(p, bound);
  if (!w.refused.empty()) {
    dev::Fields f = {{"length", w.length}, {"played", false}, {"reason", w.refused}};
    if (!(flags & SND_NODEFAULT)) f["default"] = true;
    dev::log_event("sound", f);
    return FALSE;
  }
  uint32_t ms = dev::duration_ms(w);
  dev::log_event("sound", {{"length", w.length},
                           {"ms", ms},
                           {"channels", w.channels},
                           {"rate", w.rate},
                           {"bits", w.bits},
                           {"played", true}});
  d.sounds.push_back(
      {d.clock, w.channels, w.rate, w.bits, std::vector<BYTE>(w.frames, w.frames + w.bytes)});
  if (!(flags & SND_ASYNC)) d.block(nullptr, d.clock + ms);
  return TRUE;
}

}  // extern "C"
