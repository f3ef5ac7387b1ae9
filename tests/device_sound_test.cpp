// The device's resources and sound: FindResourceW and friends on the broker's compiled
// resources, sndPlaySoundW on good and bad images, and the host's recording of what played.
#include <mmsystem.h>
#include <string.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Runner.h"
#include "support/DeviceFixture.h"

namespace {

DWORD U32(const BYTE* p) {
  DWORD v;
  memcpy(&v, p, 4);
  return v;
}

// The header of a WAVE file: PCM (or `format`), `channels`, `rate`, 16 bit, `frames` frames; with
// `fact`, the 4-byte fact chunk holding the frame count goes before the data.
std::vector<BYTE> Header(WORD format, WORD channels, DWORD rate, DWORD frames, bool fact = false) {
  std::vector<BYTE> w;
  auto put = [&w](DWORD x, int bytes) {
    for (int i = 0; i < bytes; ++i) w.push_back(static_cast<BYTE>(x >> (8 * i)));
  };
  auto tag = [&w](const char* t) { w.insert(w.end(), t, t + 4); };
  DWORD bytes = frames * channels * 2;
  tag("RIFF"), put((fact ? 48 : 36) + bytes, 4), tag("WAVE"), tag("fmt "), put(16, 4);
  put(format, 2), put(channels, 2), put(rate, 4), put(rate * channels * 2, 4);
  put(channels * 2, 2), put(16, 2);
  if (fact) tag("fact"), put(4, 4), put(frames, 4);
  tag("data"), put(bytes, 4);
  return w;
}

// The image of a WAVE file of `frames` frames of silence.
std::vector<BYTE> Wave(WORD format, WORD channels, DWORD rate, DWORD frames) {
  std::vector<BYTE> w = Header(format, channels, rate, frames);
  w.resize(w.size() + frames * channels * 2, 0);
  return w;
}

class DeviceSoundTest : public vt::DeviceTest {
 protected:
  void SetUp() override {
    vt::BootOptions options;
    options.install = false;
    options.files.push_back({"quenzafaulty.dll", "quenzafaulty.dll"});
    Boot(options);
    module = LoadLibraryW(u"Quenza.dll");
    ASSERT_NE(module, nullptr);
  }

  // A resource's data and size, or {nullptr, 0}.
  std::pair<const BYTE*, DWORD> Resource(LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr) return {nullptr, 0};
    return {static_cast<const BYTE*>(LockResource(LoadResource(module, found))),
            SizeofResource(module, found)};
  }

  BOOL Play(const std::vector<BYTE>& image, UINT flags = SND_MEMORY | SND_NODEFAULT) {
    return sndPlaySoundW(reinterpret_cast<LPCWSTR>(image.data()), flags);
  }

  HINSTANCE module = nullptr;
};

// Each sound is a stereo 44.1 kHz PCM file with a fact chunk, found by name and type without
// regard to case, and plays for its own length in device time.
TEST_F(DeviceSoundTest, TheBrokerCarriesTwoPlayableSoundsAndItsVersion) {
  const struct {
    const char16_t* name;
    DWORD length;
    uint64_t ms;
  } sounds[] = {{u"vexoriSnd", 17896, 101}, {u"VexoriSndATTENUATE", 52988, 300}};
  for (const auto& s : sounds) {
    SCOPED_TRACE(dev::to_utf8(s.name));
    auto [p, size] = Resource(s.name, u"wave");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(size, s.length);
    EXPECT_EQ(std::vector<BYTE>(p, p + 56), Header(1, 2, 44100, (size - 56) / 4, true));
    ClearLog();
    uint64_t before = device->now();
    EXPECT_TRUE(sndPlaySoundW(reinterpret_cast<LPCWSTR>(p), SND_MEMORY | SND_NODEFAULT));
    EXPECT_EQ(device->now() - before, s.ms);
    auto sound = Log("sound");
    ASSERT_EQ(sound.size(), 1u);
    EXPECT_EQ(sound[0].num("length"), s.length);
    EXPECT_EQ(sound[0].num("ms"), static_cast<int64_t>(s.ms));
    EXPECT_TRUE(sound[0].num("channels") == 2 && sound[0].num("rate") == 44100);
    EXPECT_EQ(sound[0].str("played"), "true");
    EXPECT_EQ(sound[0].time, before);
  }
  // A sound of the caller's own memory: mono at 8 kHz, as long as its header says.
  uint64_t before = device->now();
  EXPECT_TRUE(Play(Wave(1, 1, 8000, 4000)));
  EXPECT_EQ(device->now() - before, 500u);

  // The version resource, found by number: VS_FIXEDFILEINFO follows its signature.
  auto [v, vsize] = Resource(MAKEINTRESOURCE(1), RT_VERSION);
  ASSERT_NE(v, nullptr);
  const BYTE* info = nullptr;
  for (DWORD i = 0; i + 20 <= vsize && info == nullptr; i += 4)
    if (U32(v + i) == 0xFEEF04BDu) info = v + i;
  ASSERT_NE(info, nullptr);
  EXPECT_EQ((std::vector<DWORD>{U32(info + 8), U32(info + 12), U32(info + 16), U32(info + 20)}),
            (std::vector<DWORD>{0x00010000u, 19u, 0x00010000u, 19u}))
      << "file and product version 1.0.0.19";
}

TEST_F(DeviceSoundTest, MissingResourcesAndWrongHandlesAreNotFound) {
  EXPECT_EQ(FindResourceW(module, u"VexoriSndX", u"WAVE"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceW(module, u"VexoriSnd", u"WAV"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCE(2), RT_VERSION), nullptr);
  auto bogus = reinterpret_cast<HMODULE>(0x7777);
  EXPECT_EQ(FindResourceW(bogus, u"VexoriSnd", u"WAVE"), nullptr);
  HRSRC found = FindResourceW(module, u"VexoriSnd", u"WAVE");
  EXPECT_EQ(LoadResource(module, reinterpret_cast<HRSRC>(reinterpret_cast<BYTE*>(found) + 4)),
            nullptr);
  EXPECT_EQ(Log("bad-handle").size(), 2u);
  // A library without resources.
  HINSTANCE touch = LoadLibraryW(u"touch.dll");
  EXPECT_EQ(FindResourceW(touch, u"VexoriSnd", u"WAVE"), nullptr);
}

TEST_F(DeviceSoundTest, ImagesThatCannotBePlayedAreRefusedAtOnce) {
  auto patched = [](size_t at, BYTE value) {
    std::vector<BYTE> w = Wave(1, 2, 44100, 100);
    w[at] = value;
    return w;
  };
  struct Case {
    std::vector<BYTE> image;
    const char* reason;
  };
  std::vector<Case> cases = {{Wave(3, 2, 44100, 100), "not PCM"},
                             {Wave(1, 6, 44100, 100), "unsupported format"},
                             {Wave(1, 2, 1000, 100), "unsupported format"},
                             {patched(40, 0xFF), "truncated"},  // data beyond the file's end
                             {patched(4, 20), "truncated"},     // the file ends in the format chunk
                             {patched(0, 'X'), "not a RIFF WAVE"}};
  uint64_t before = device->now();
  for (const Case& c : cases) EXPECT_FALSE(Play(c.image)) << c.reason;
  EXPECT_EQ(device->now(), before) << "nothing played, nobody waited";
  auto sound = Log("sound");
  ASSERT_EQ(sound.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(sound[i].str("played"), "false");
    EXPECT_EQ(sound[i].str("reason"), cases[i].reason);
    EXPECT_EQ(sound[i].str("default"), "") << "SND_NODEFAULT";
  }
  EXPECT_FALSE(Play(cases[0].image, SND_MEMORY));
  EXPECT_EQ(Log("sound").back().str("default"), "true");
  // A resource cut short is judged by the resource's own size.
  HINSTANCE faulty = LoadLibraryW(u"quenzafaulty.dll");
  ASSERT_NE(faulty, nullptr);
  HRSRC cut = FindResourceW(faulty, u"VexoriSnd", u"WAVE");
  ASSERT_NE(cut, nullptr);
  EXPECT_FALSE(sndPlaySoundW(static_cast<LPCWSTR>(LockResource(LoadResource(faulty, cut))),
                             SND_MEMORY | SND_NODEFAULT));
  EXPECT_EQ(Log("sound").back().str("reason"), "truncated");
  EXPECT_EQ(Log("sound").back().num("length"), 8000);
}

TEST_F(DeviceSoundTest, TheRecordingMixesEachSoundInAtItsTimeAndLastsAsLongAsTheRun) {
  std::string path = testing::TempDir() + "vexori-recording.wav";
  ASSERT_TRUE(device->record_audio(path));
  std::vector<BYTE> loud = Wave(1, 1, 22050, 2205);                 // 100 ms, mono, half the rate
  for (size_t i = 44; i < loud.size(); i += 2) loud[i + 1] = 0x10;  // 0x1000
  device->run_for(50);
  EXPECT_TRUE(Play(loud));
  // Overwritten once played: the recording took the sound when it started.
  std::fill(loud.begin() + 44, loud.end(), 0);
  device->run_for(100);
  ASSERT_TRUE(device->finish_audio());
  std::ifstream in(path, std::ios::binary);
  std::string wav((std::istreambuf_iterator<char>(in)), {});
  std::remove(path.c_str());
  ASSERT_GE(wav.size(), 44u);
  std::vector<int16_t> mix((wav.size() - 44) / 2);
  std::memcpy(mix.data(), wav.data() + 44, mix.size() * 2);
  ASSERT_EQ(mix.size(), device->now() * 44100 / 1000 * 2);
  size_t start = 50 * 441 / 10 * 2;
  EXPECT_EQ(mix[start - 2], 0);
  EXPECT_EQ(mix[start], 0x1000);
  EXPECT_EQ(mix[start + 1], 0x1000) << "mono reaches both channels";
  EXPECT_EQ(mix[start + 4409 * 2], 0x1000);
  EXPECT_EQ(mix[start + 4410 * 2], 0);
}

TEST(SimAudio, TheAudioFileIsAWaveAsLongAsTheRun) {
  sim::Scenario s =
      sim::load_scenario(std::string(VEXORI_SOURCE_DIR) + "/scenarios/flick-list.scn");
  sim::RunOptions options;
  options.audio_file = testing::TempDir() + "vexori-audio.wav";
  sim::RunResult r = sim::run_scenario(s, options);
  ASSERT_FALSE(r.log.empty());
  FILE* f = fopen(options.audio_file.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<BYTE> h(44);
  ASSERT_EQ(fread(h.data(), 1, 44, f), 44u);
  fseek(f, 0, SEEK_END);
  long length = ftell(f);
  fclose(f);
  std::remove(options.audio_file.c_str());
  DWORD frames = static_cast<DWORD>(r.end_time * 44100 / 1000);
  EXPECT_EQ(h, Header(1, 2, 44100, frames));
  EXPECT_EQ(length, static_cast<long>(44 + frames * 4)) << "as long as the run";
}

}  // namespace
