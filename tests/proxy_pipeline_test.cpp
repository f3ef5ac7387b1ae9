// The proxy's sample callback: which samples reach the window system unchanged, rebuilt from their
// records or not at all, and how the proxy settings steer it.
#include <pm.h>
#include <tchddi.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "Replay.h"
#include "support/DeviceFixture.h"

namespace {

namespace fs = std::filesystem;

const uint32_t kDown = TouchSampleValidFlag | TouchSampleDownFlag;
const uint32_t kMove = kDown | TouchSamplePreviousDownFlag;
const uint32_t kUp = TouchSampleValidFlag | TouchSamplePreviousDownFlag;
const uint32_t kInvalidDown = TouchSampleDownFlag;

struct Raw {
  uint32_t flags;
  int x, y;
};

void ExpectSample(const dev::ReceivedSample& got, const Raw& want, const char* what) {
  EXPECT_TRUE(got.flags == want.flags && got.x == want.x && got.y == want.y)
      << what << ": got " << got.flags << " (" << got.x << ", " << got.y << ")";
}

class ProxyPipelineTest : public vt::DeviceTest {
 protected:
  void BootWithActivate(const std::string& data) {
    vt::BootOptions options;
    options.reg = "[" + std::string(vt::kGestureKey) + "]\n\"Activate\"=" + data + "\n";
    Boot(options);
  }
  void BootActivate(bool on) { BootWithActivate(on ? "dword:00000001" : "dword:00000000"); }

  // Plays raw samples 10 ms apart; returns what the window system received meanwhile.
  std::vector<dev::ReceivedSample> Feed(const std::vector<Raw>& raw) {
    std::vector<dev::PanelSample> samples;
    uint64_t t = device->now();
    for (const Raw& r : raw) samples.push_back({t += 10, r.flags, r.x, r.y});
    return Received(samples);
  }

  // A tap off the quarter-pixel grid comes back rebuilt on whole pixels only while the gesture
  // function is on.
  bool GestureFunctionOn() {
    auto got = Feed({{kDown, 401, 603}, {kUp, 401, 603}});
    EXPECT_EQ(got.size(), 2u);
    return !got.empty() && got[0].x == 400;
  }

  void SetAndRun(const char* key, const char* value, uint32_t data) {
    device->reg_set_dword(key, value, data);
    device->run_for(50);
  }
};

TEST_F(ProxyPipelineTest, PenDownWhileIdleOrUnattendedGoesThroughUntouched) {
  for (bool on : {false, true}) {
    BootActivate(on);
    for (uint32_t state : {POWER_STATE_IDLE, POWER_STATE_UNATTENDED}) {
      device->set_power_state(u"idle", state | POWER_STATE_ON);
      size_t notes = Log("power-notify").size();
      auto got = Feed({{kDown, 401, 603}, {kMove, 405, 607}, {kUp, 405, 607}});
      ASSERT_EQ(got.size(), 3u);
      ExpectSample(got[0], {kDown, 401, 603}, "idle pen-down");
      EXPECT_EQ(Log("power-notify").size(), notes) << "no user activity while idle";
      ExpectSample(got[1], {kMove, 405, 607}, "move after an idle pen-down");
      ExpectSample(got[2], {kUp, 405, 607}, "its pen-up");
    }

    // A power state that cannot be read is not idle; awake, one notification per pen-down.
    device->set_power_state(u"idle", POWER_STATE_IDLE, ERROR_INVALID_PARAMETER);
    size_t notes = Log("power-notify").size();
    auto got = Feed({{kDown, 401, 603}, {kUp, 401, 603}});
    ASSERT_EQ(got.size(), 2u);
    ExpectSample(got[0], {kDown, on ? 400 : 401, on ? 600 : 603}, "power state unknown");
    auto notified = Log("power-notify");
    ASSERT_EQ(notified.size(), notes + 1);
    EXPECT_EQ(notified.back().num("message"), PPN_APPBUTTONPRESSED);
    EXPECT_EQ(notified.back().num("data"), 0);
    device->set_power_state(u"on", POWER_STATE_ON);
    Stroke(10, 10, 50, 90, 150);
    Stroke(50, 90, 10, 10, 150);
    EXPECT_EQ(Log("power-notify").size(), notes + 3);
  }
}

// Outside a stroke; inside one they keep their place among its records.
TEST_F(ProxyPipelineTest, InvalidSamplesArriveTruncatedOnWholePixelsWhileOn) {
  const std::vector<Raw> invalid = {
      {kInvalidDown, 401, 607}, {kInvalidDown | TouchSamplePreviousDownFlag, -5, 6}, {0, 7, -7}};
  const std::vector<Raw> truncated = {
      {kInvalidDown, 400, 604}, {kInvalidDown | TouchSamplePreviousDownFlag, -4, 4}, {0, 4, -4}};
  for (bool on : {false, true}) {
    BootActivate(on);
    Feed({{kDown, 40, 40}, {kUp, 40, 40}});
    auto got = Feed(invalid);
    ASSERT_EQ(got.size(), invalid.size());
    for (size_t i = 0; i < got.size(); ++i) ExpectSample(got[i], (on ? truncated : invalid)[i], "");
  }
}

TEST_F(ProxyPipelineTest, SecondPenUpInARowIsDroppedOnlyWhileTheGestureFunctionIsOn) {
  BootActivate(false);
  EXPECT_EQ(Feed({{kDown, 40, 40}, {kUp, 40, 40}, {kUp, 40, 40}}).size(), 3u);

  BootActivate(true);
  auto got = Feed({{kDown, 40, 40}, {kMove, 44, 48}, {kUp, 44, 48}, {kUp, 44, 48}, {kUp, 8, 8}});
  ASSERT_EQ(got.size(), 3u);
  ExpectSample(got[2], {kUp, 44, 48}, "first pen-up");
  got = Feed({{kDown, 80, 80}, {kUp, 80, 80}});
  ASSERT_EQ(got.size(), 2u) << "a down makes the filter forget the pen-up";
  ExpectSample(got[1], {kUp, 80, 80}, "pen-up of the next stroke");
}

// Only 0, 90 and 270 can be mapped; on a 240x320 screen those strokes come back rebuilt from
// their panel positions whatever the angle. A stroke of any other angle reaches the window system
// unchanged, as with the gesture function off.
TEST_F(ProxyPipelineTest, TheAngleIsFollowedAtRunTimeAndOtherAnglesPassUnchanged) {
  BootActivate(true);
  for (uint32_t angle : {180u, 90u, 360u, 270u, 1u, 0u}) {
    SetAndRun(vt::kRotationKey, "Angle", angle);
    const std::vector<Raw> stroke = {
        {kDown, 160, 400}, {kMove, 161, 403}, {kInvalidDown, 41, 42}, {kUp, 161, 403}};
    auto got = Feed(stroke);
    bool mapped = angle == 0 || angle == 90 || angle == 270;
    ASSERT_EQ(got.size(), 4u) << angle;
    for (size_t i = 0; i < got.size(); ++i) {
      Raw rebuilt = {stroke[i].flags, i == 2 ? 40 : 160, i == 2 ? 40 : 400};
      ExpectSample(got[i], mapped ? rebuilt : stroke[i], mapped ? "rebuilt" : "unchanged");
    }
  }
}

TEST_F(ProxyPipelineTest, ActivateFollowsTheRegistryWithoutARestart) {
  BootWithActivate("-");
  EXPECT_FALSE(GestureFunctionOn()) << "no Activate value";
  // Each change reloads once (a reload must not register again); 0xFFFFFFFF or a missing value
  // keeps the switch as it is.
  const struct {
    int64_t data;  // -1: deleted
    bool on;
  } steps[] = {{1, true},           {0xFFFFFFFF, true}, {0, false},
               {0xFFFFFFFF, false}, {7, true},          {-1, true}};
  for (const auto& step : steps) {
    size_t before = Log("reg-notify", "value", "activate").size();
    if (step.data < 0) {
      device->reg_delete_value(vt::kGestureKey, "Activate");
      device->run_for(50);
    } else {
      SetAndRun(vt::kGestureKey, "Activate", static_cast<uint32_t>(step.data));
    }
    auto notes = Log("reg-notify", "value", "activate");
    ASSERT_EQ(notes.size(), before + 1) << step.data;
    EXPECT_EQ(notes.back().num("user"), 0);
    EXPECT_EQ(GestureFunctionOn(), step.on) << step.data;
  }
}

// Strokes drawn by people and straight ones: with the gesture function off or on, every sample
// reaches the window system once, in order, as the panel reported it.
TEST_F(ProxyPipelineTest, StrokesPassThroughWholeWithTheGestureFunctionOffOrOn) {
  std::vector<std::vector<sim::StrokePoint>> strokes = {
      sim::straight_stroke(20, 300, 20, 20, 200, 0, 100),
      sim::straight_stroke(120, 160, 121, 161, 900, 600, 100),
      sim::straight_stroke(230, 10, 5, 310, 80, 0, 50)};
  // One file per subject and speed, a different gesture each time.
  const fs::path root = fs::path(VEXORI_DATA_DIR) / "touch" / "dollar1-unistroke" / "xml_logs";
  if (fs::is_directory(root)) {
    std::vector<fs::path> subjects(fs::directory_iterator(root), {});
    std::sort(subjects.begin(), subjects.end());
    size_t pick = 0;
    for (const auto& subject : subjects) {
      for (const char* speed : {"slow", "medium", "fast"}) {
        if (!fs::is_directory(subject / speed)) continue;
        std::vector<fs::path> xml(fs::directory_iterator(subject / speed), {});
        std::sort(xml.begin(), xml.end());
        if (xml.empty()) continue;
        auto file = xml[(pick += 7) % xml.size()].string();
        strokes.push_back(sim::resample(sim::load_recorded_stroke(file), 100));
      }
    }
    EXPECT_GE(strokes.size(), 33u);
  }
  for (bool on : {false, true}) {
    BootActivate(on);
    std::vector<dev::PanelSample> sent;
    uint64_t start = device->now() + 10;
    for (const auto& pts : strokes) {
      auto panel = sim::to_panel(pts, start, 10);
      sent.insert(sent.end(), panel.begin(), panel.end());
      start = panel.back().time + 300;
    }
    auto got = Received(sent);
    ASSERT_TRUE(vt::Unchanged(got, sent)) << "gesture function " << on;
    for (size_t i = 0; i < sent.size(); ++i) ASSERT_EQ(got[i].time, sent[i].time) << i << on;
  }
}

}  // namespace
