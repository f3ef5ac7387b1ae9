// The device's sound: sndPlaySoundW plays the image of a WAVE file from memory, taking the
// sound's own length in device time, and logs a "sound" entry; the host can mix everything
// played into one WAV file at its device times.
#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
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
int sample_at(const Wave& s, size_t frame, int channel) {
  size_t width = s.bits / 8u;
  const BYTE* p =
      s.frames + (frame * s.channels + std::min<size_t>(channel, s.channels - 1)) * width;
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

// Sums of the sounds played, from the first frame not yet written on. A frame is final once the
// clock has passed it, since a sound starts at the device time of its call; frames are written
// as later sounds start and when the recording ends, so only the sounds still playing are held.
class AudioRecorder {
 public:
  explicit AudioRecorder(const std::string& path)
      : out_(path, std::ios::binary | std::ios::trunc),
        seekable_(std::filesystem::is_regular_file(path)) {
    // Sizes unknown until the end: a reader of a pipe sees the largest ones.
    out_.write(header(0xFFFFFFFFu - 36).data(), 44);
  }
  bool ok() const { return static_cast<bool>(out_); }

  void add(uint64_t at_ms, const Wave& w) {
    uint64_t start = at_ms * kMixRate / 1000;
    write_to(start);
    size_t frames = w.bytes / (w.channels * w.bits / 8u);
    size_t out_frames = static_cast<size_t>(static_cast<uint64_t>(frames) * kMixRate / w.rate);
    if (pending_.size() < out_frames * 2) pending_.resize(out_frames * 2, 0);
    for (size_t i = 0; i < out_frames; ++i) {
      size_t src = static_cast<size_t>(static_cast<uint64_t>(i) * w.rate / kMixRate);
      for (int c = 0; c < 2; ++c) pending_[i * 2 + c] += sample_at(w, src, c);
    }
  }

  bool finish(uint64_t end_ms) {
    write_to(end_ms * kMixRate / 1000);
    if (seekable_ && !past_limit_) {
      auto bytes = static_cast<uint32_t>(written_ * 4);
      out_.seekp(0);
      out_.write(header(bytes).data(), 44);
    }
    out_.close();
    return static_cast<bool>(out_) && !past_limit_;
  }

 private:
  static std::string header(uint32_t bytes) {
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
    return out;
  }

  // Writes the frames before `frame`: what is pending, then silence, in blocks.
  void write_to(uint64_t frame) {
    const uint64_t kMaxFrames = (0xFFFFFFFFull - 36) / 4;
    if (frame > kMaxFrames) {
      past_limit_ = true;
      frame = kMaxFrames;
    }
    const size_t kBlock = 4096;
    std::string block;
    while (written_ < frame) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, frame - written_));
      block.clear();
      size_t held = std::min(n, pending_.size() / 2);
      for (size_t i = 0; i < n * 2; ++i) {
        int v = i < held * 2 ? std::clamp(pending_[i], -32768, 32767) : 0;
        put16(block, static_cast<uint16_t>(static_cast<int16_t>(v)));
      }
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(held * 2));
      out_.write(block.data(), static_cast<std::streamsize>(block.size()));
      written_ += n;
    }
  }

  std::ofstream out_;
  bool seekable_;
  bool past_limit_ = false;
  uint64_t written_ = 0;  // frames
  std::deque<int32_t> pending_;
};

const uint64_t Device::kMaxAudioMs = (0xFFFFFFFFull - 36) / 4 * 1000 / kMixRate;

bool Device::record_audio(const std::string& path) {
  auto recorder = std::make_shared<AudioRecorder>(path);
  if (!recorder->ok()) return false;
  impl_->recorder = recorder;
  return true;
}

bool Device::finish_audio() {
  Impl& d = *impl_;
  if (!d.recorder) return false;
  bool ok = d.recorder->finish(d.clock);
  d.recorder.reset();
  return ok;
}

}  // namespace dev

using dev::impl;

extern "C" {

BOOL WINAPI sndPlaySoundW(LPCWSTR sound, UINT flags) {
  DEVICE_CALL_POINT("sndPlaySoundW");
  auto& d = impl();
  if (sound == nullptr) return TRUE;  // stops what plays; nothing plays past its call
  if (!(flags & SND_MEMORY)) {
    dev::log_event("sound", dev::fields("played", false, "reason", "only sounds in memory"));
    return FALSE;
  }
  auto p = reinterpret_cast<const BYTE*>(sound);
  const BYTE* resource = nullptr;
  DWORD size = 0;
  size_t bound;
  std::string name;  // of the resource played, when it is one
  if (dev::resource_holding(p, &resource, &size, &name)) {
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
  dev::Fields played = {{"length", w.length}, {"ms", ms},       {"channels", w.channels},
                        {"rate", w.rate},     {"bits", w.bits}, {"played", true}};
  if (!name.empty()) played["resource"] = name;
  dev::log_event("sound", played);
  if (d.recorder) d.recorder->add(d.clock, w);
  if (!(flags & SND_ASYNC)) d.block(nullptr, d.clock + ms, "a sound to end");
  return TRUE;
}

}  // extern "C"
