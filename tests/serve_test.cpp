// The live server: what it takes from requests, whom it lets in, a session's strokes and what it
// keeps of them, and the server over HTTP with its tabs' workers.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "LogDecode.h"
#include "Outcome.h"
#include "OutcomeText.h"
#include "Requests.h"
#include "RequestChecks.h"
#include "Runner.h"
#include "ServeZygote.h"
#include "Server.h"
#include "Session.h"
#include "SoundResources.h"
#include "Tabs.h"

namespace {
namespace fs = std::filesystem;
using namespace sim::serve;

// A flick of 60 px up in 150 ms and a tap of 80 ms, as the page would send them.
std::string flick_up_json(int x = 120, int y = 200) {
  nlohmann::json pts = nlohmann::json::array();
  for (int t = 0; t <= 150; t += 10) pts.push_back({x, y - 60 * t / 150, t});
  return nlohmann::json{{"points", pts}}.dump();
}
std::string tap_json(int x, int y) {
  return nlohmann::json{{"points", {{x, y, 0}, {x, y, 40}, {x, y, 80}}}}.dump();
}

TEST(ServeChecks, OnlyThisMachinesNamesAndThePagesOwnOriginAreLetIn) {
  struct Case {
    const char *host, *origin, *bind;
    bool let_in;
  } cases[] = {
      {"127.0.0.1:8642", "", "127.0.0.1", true},
      {"localhost:8642", "http://localhost:8642", "127.0.0.1", true},
      {"[::1]:8642", "", "127.0.0.1", true},
      {"LOCALHOST:8642", "", "127.0.0.1", true},
      {"192.168.1.9:8642", "", "192.168.1.9", true},  // the address it was bound to
      {"192.168.1.9:8642", "", "127.0.0.1", false},
      {"evil.example:8642", "", "127.0.0.1", false},  // a name that resolves here
      {"localhost:8643", "", "127.0.0.1", false},     // another port
      {"localhost", "", "127.0.0.1", false},
      {"", "", "127.0.0.1", false},
      {"localhost:8642", "http://evil.example", "127.0.0.1", false},
      {"localhost:8642", "https://localhost:8642", "127.0.0.1", false},
      {"localhost:8642", "null", "127.0.0.1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(refusal(c.host, c.origin, c.bind, 8642).empty(), c.let_in)
        << c.host << " " << c.origin << " bound to " << c.bind;
  }
}

TEST(ServeRequests, BadBodiesAreRefusedWithWhatIsWrong) {
  dev::Screen screen;
  struct Case {
    const char* body;
    const char* says;
  } strokes[] = {
      {"{not json", "not JSON"},
      {"[1,2]", "not a JSON object"},
      {R"({"pts": []})", "\"points\" is missing"},
      {R"({"points": []})", "empty"},
      {R"({"points": [[1, 2]]})", "point 0 is not [x, y, ms]"},
      {R"({"points": [[1.5, 2, 0]]})", "x is not a whole number"},
      {R"({"points": [[-1, 2, 0]]})", "off the screen"},
      {R"({"points": [[10, 400, 0]]})", "off the screen"},
      {R"({"points": [[1, 2, 5]]})", "counted from the first point"},
      {R"({"points": [[1, 2, 0], [1, 2, 20], [1, 2, 10]]})", "point 2: the time goes back"},
      {R"({"points": [[1, 2, 0], [1, 2, 60001]]})", "at most 60000 ms"},
  };
  for (const auto& c : strokes) {
    try {
      parse_stroke(c.body, screen);
      ADD_FAILURE() << c.body << " was taken";
    } catch (const BadRequest& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos)
          << c.body << ": " << e.what();
    }
  }
  std::string many = R"({"points": [)";
  for (size_t i = 0; i <= kMaxRequestPoints; ++i)
    many += (i ? ",[1,1," : "[1,1,") + std::to_string(i) + "]";
  EXPECT_THROW(parse_stroke(many + "]}", screen), BadRequest);
  EXPECT_EQ(parse_stroke(flick_up_json(), screen).size(), 16u);

  for (const char* body : {R"({"name": "Nope", "value": 1})", R"({"name": "GRIDSIZE"})",
                           R"({"name": "GRIDSIZE", "value": "13"})",
                           R"({"name": "GRIDSIZE", "value": 4294967296})", R"({"value": 1})"}) {
    EXPECT_THROW(parse_setting(body), BadRequest) << body;
  }
  EXPECT_EQ(parse_setting(R"({"name": "Amp", "value": 4294967295})").value, -1);
  EXPECT_THROW(parse_window(R"({"kind": "sip"})"), BadRequest);
  EXPECT_EQ(parse_window(R"({"kind": "browser"})"), "browser");

  struct File {
    const char *name, *text, *says;
  } files[] = {
      {"taps.txt", "t_ms,x,y,down\n", "not a stroke file"},
      {"taps.csv", "t,x,y\n", "taps.csv:1: the header must be"},
      {"taps.csv", "t_ms,x,y,down\n0,1,1,1\n5,1,1,7\n", "taps.csv:3: down 7 is out of range"},
      {"taps.csv", "t_ms,x,y,down\n", "no stroke"},
      {"flick.xml", "<Gesture><Point X=\"1\" Y=\"2\"/></Gesture>", "flick.xml"},
      {"flick.XML", "not xml", "not a stroke file"},
  };
  for (const File& f : files) {
    try {
      parse_stroke_file(f.name, f.text);
      ADD_FAILURE() << f.name << " was taken";
    } catch (const BadRequest& e) {
      EXPECT_NE(std::string(e.what()).find(f.says), std::string::npos)
          << f.name << ": " << e.what();
    }
  }
  std::string csv = "t_ms,x,y,down\n";
  for (size_t i = 0; i <= kMaxFileStrokes; ++i)
    csv += fmt::format("{0},5,5,1\n{0},5,5,0\n", i * 10);
  EXPECT_THROW(parse_stroke_file("many.csv", csv), BadRequest);
  EXPECT_THROW(parse_stroke_file("big.csv", std::string(kMaxStrokeFileBytes + 1, ' ')), BadRequest);
  // Its name goes into a comment line of the kept file: nothing there may end the line.
  StrokeFile f = parse_stroke_file("a\nsample 0x3 1 1\n.xml",
                                   R"(<Gesture><Point X="1" Y="2" T="0"/></Gesture>)");
  EXPECT_EQ(f.name.find('\n'), std::string::npos);
  EXPECT_EQ(f.strokes.size(), 1u);
}

TEST(ServeSounds, TheDevicesOwnSoundResourcesAndNothingElse) {
  sim::RunOptions o;
  std::string wav, why;
  ASSERT_TRUE(sound_wav(o.windows_dir, "quenza.DLL:VexoriSndAttenuate", &wav, &why)) << why;
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 4), "WAVE");
  for (const char* name : {"Quenza.dll:NOPE", "Quenza.dll", "Nope.dll:VEXORISND",
                           "../Windows/Quenza.dll:VEXORISND", ":VEXORISND", "Quenza.dll:"}) {
    EXPECT_FALSE(sound_wav(o.windows_dir, name, &wav, &why)) << name;
    EXPECT_FALSE(why.empty());
  }
}

TEST(ServeLines, ScreenPointsBecomePanelPointsTheProxyMapsBack) {
  dev::Screen screen;
  for (uint32_t angle : {0u, 90u, 270u}) {
    sim::LogDecoder decoder(screen.width, screen.height, angle);
    bool turned = angle != 0;
    for (auto [sx, sy] : {std::pair{0, 0}, {10, 200}, {turned ? 319 : 239, turned ? 239 : 319}}) {
      int px, py, bx, by;
      screen_to_panel_point(sx, sy, angle, screen, &px, &py);
      decoder.to_screen(px, py, &bx, &by);
      EXPECT_EQ(std::pair(bx, by), std::pair(sx, sy)) << "angle " << angle;
    }
  }
}

// A session on a clock the test moves.
class ServeSession : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("vexori-serve-test-" + std::to_string(getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::unique_ptr<Session> Make(const std::string& base = "") {
    return std::make_unique<Session>(base, "live.scn", ".", sim::RunOptions(), folder_.string(),
                                     [this] { return wall_; });
  }
  nlohmann::json Stroke(Session& s, const std::string& body) {
    return s.stroke(parse_stroke(body, dev::Screen()))["outcome"];
  }
  fs::path folder_;
  uint64_t wall_ = 1000;
};

TEST_F(ServeSession, WhatWasDrawnIsKeptAndReplaysToTheSameOutcomes) {
  auto s = Make();
  std::vector<nlohmann::json> live;
  live.push_back(Stroke(*s, flick_up_json()));
  EXPECT_EQ(live.back()["decision"], "handed over");
  ASSERT_EQ(live.back()["scrolls"].size(), 1u);
  EXPECT_GT(live.back()["scrolls"][0]["after"].get<int>(), 0);
  wall_ += 200;  // drawn before the momentum ended: it waits for it
  live.push_back(Stroke(*s, tap_json(120, 150)));
  EXPECT_EQ(live.back()["reason"], "tap at the pen-up") << live.back().dump();
  EXPECT_GE(live.back()["t"].get<uint64_t>(), live[0]["end"].get<uint64_t>());
  // The settings panel shows what is in force: the page's own start turns the function on.
  EXPECT_EQ(s->state()["settings"][0]["value"], 1);
  EXPECT_TRUE(s->state()["settings"][4]["value"].is_null());  // LongTappingMax: its default
  s->write_setting({"Activate", 0});
  EXPECT_EQ(s->state()["settings"][0]["value"], 0);
  wall_ += 5000;
  live.push_back(Stroke(*s, flick_up_json()));
  EXPECT_EQ(live.back()["reason"], "gesture function off");
  s->put_window("browser");
  s->write_setting({"Activate", 1});
  live.push_back(Stroke(*s, R"({"points": [[200,150,0],[130,157,75],[60,165,150]]})"));
  EXPECT_NE(live.back()["did"].get<std::string>().find("page navigation leftward"),
            std::string::npos);
  EXPECT_TRUE(fs::file_size(s->screen_file()) > 0);
  // A dropped trace of two strokes, in panel pixels: a tap, then a flick up the page.
  s->put_window("list");
  std::string csv = "t_ms,x,y,down\n0,100,150,1\n40,100,150,1\n80,100,150,0\n1000,120,200,1\n";
  for (int t = 10; t <= 150; t += 10)
    csv += fmt::format("{},120,{},1\n", 1000 + t, 200 - 60 * t / 150);
  csv += "1160,120,140,0\n";
  nlohmann::json replayed = s->replay_file(parse_stroke_file("two.csv", csv));
  ASSERT_EQ(replayed["strokes"].size(), 2u);
  for (const auto& r : replayed["strokes"]) live.push_back(r["outcome"]);
  EXPECT_EQ(live[live.size() - 2]["reason"], "tap at the pen-up");
  EXPECT_EQ(live.back()["decision"], "handed over");
  EXPECT_EQ(replayed["strokes"][0]["points"][0], nlohmann::json({100, 150, 0}));
  EXPECT_NE(s->kept().find("# replayed from two.csv, stroke 2 of 2\n"), std::string::npos);

  sim::Scenario kept = sim::parse_scenario(s->kept(), "kept.scn", ".");
  sim::RunResult again = sim::run_scenario(kept);
  ASSERT_EQ(again.outcomes.size(), live.size());
  for (size_t i = 0; i < live.size(); ++i) {
    nlohmann::json j = sim::outcome_json(again.outcomes[i]);
    for (const char* field :
         {"t", "end", "decision", "reason", "did", "codes", "scrolls", "effects"})
      EXPECT_EQ(j[field], live[i][field]) << "stroke " << i << " " << field;
  }
}

// While a flick's momentum lasts the screen is pictured every 80 ms from its pen-up, so that the
// page shows the list moving; the last stroke's frames only, and none past the effects' end.
TEST_F(ServeSession, AFlicksMomentumIsPicturedAsItGoes) {
  auto s = Make();
  nlohmann::json a = s->stroke(parse_stroke(flick_up_json(), dev::Screen()));
  const nlohmann::json& frames = a["frames"];
  ASSERT_GT(frames.size(), 3u) << a.dump();
  EXPECT_GT(frames[0].get<uint64_t>(), a["t"].get<uint64_t>());
  EXPECT_LE(frames.back().get<uint64_t>(), a["busy_until"].get<uint64_t>());
  for (size_t i = 1; i < frames.size(); ++i)
    EXPECT_EQ(frames[i].get<uint64_t>() - frames[i - 1].get<uint64_t>(), 80u);
  auto bytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  std::string first = bytes(s->frame_file(0)), middle = bytes(s->frame_file(frames.size() / 2));
  EXPECT_EQ(first.substr(1, 3), "PNG");
  EXPECT_NE(first, middle);  // the list has moved on
  EXPECT_EQ(bytes(s->screen_file()), bytes(s->frame_file(frames.size() - 1)));  // and stopped
  EXPECT_EQ(s->frame_file(frames.size()), "");
  wall_ += 10000;
  // A tap has nothing to show after its pen-up but the pen-up itself.
  nlohmann::json tap = s->stroke(parse_stroke(tap_json(120, 150), dev::Screen()));
  EXPECT_LE(tap["frames"].size(), 1u);
  EXPECT_EQ(s->frame_file(tap["frames"].size()), "");
}

// The settings program is used by tapping its dialog: its check box, then its Done button.
TEST_F(ServeSession, TapsOnTheSettingsDialogUseIt) {
  auto s = Make();
  s->start_settings_program();
  EXPECT_EQ(s->state()["settings"][1]["value"], 0);  // the program made "Sound" with 0
  Stroke(*s, tap_json(16, 160));                     // "Enable Sound Effects"
  Stroke(*s, tap_json(225, 13));                     // ok
  EXPECT_EQ(s->state()["settings"][1]["value"], 1);
  std::string kept = s->kept();
  EXPECT_NE(kept.find("tick 1001\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("press Done\n"), std::string::npos) << kept;
  // A tap off its controls, and a stroke that is no tap, play no dialog line.
  s->start_settings_program();
  Stroke(*s, tap_json(120, 250));
  Stroke(*s, flick_up_json(16, 200));
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(s->kept(), "\ntick "), 1u);
  EXPECT_EQ(count(s->kept(), "\npress "), 1u);
  sim::RunResult again = sim::run_scenario(sim::parse_scenario(s->kept(), "kept.scn", "."));
  EXPECT_TRUE(again.failures.empty());
  EXPECT_EQ(again.outcomes.size(), 4u);
}

TEST_F(ServeSession, ARefusedRequestLeavesTheSessionAsItWas) {
  auto s = Make();
  Stroke(*s, tap_json(120, 150));
  std::string before = s->kept();
  EXPECT_THROW(s->put_window("sip"), BadRequest);  // the scenario's own checks refuse it too
  EXPECT_THROW(Stroke(*s, R"({"points": [[300, 10, 0]]})"), BadRequest);  // off the upright screen
  EXPECT_EQ(s->kept(), before);
  EXPECT_EQ(Stroke(*s, tap_json(120, 150))["reason"], "tap at the pen-up");
  s->reset();
  EXPECT_EQ(s->kept(), Make()->kept());
}

// A worker that never answers must not hold its request, its tab, or the server's end: each way
// of ending it answers the request under way and leaves no folder.
TEST(ServeTabs, AWorkerThatNeverAnswersIsEndedAndItsRequestAnswered) {
  enum class End { kAll, kClose, kWaitBound };
  for (End how : {End::kAll, End::kClose, End::kWaitBound}) {
    auto wait = how == End::kWaitBound ? std::chrono::milliseconds(200) : std::chrono::minutes(10);
    // It takes the request, tells so by a file in its folder, and then waits for ever.
    Tabs tabs(serve_test_zygote(), "hang", 2, std::chrono::minutes(10), wait);
    std::string why, id = tabs.open(&why);
    ASSERT_FALSE(id.empty()) << why;
    std::string folder = tabs.folder();
    EXPECT_TRUE(fs::exists(folder + "/tab1"));
    Frame answer;
    bool asked = false;
    std::thread request([&] { asked = tabs.ask(id, {"state", ""}, &answer); });
    while (!fs::exists(folder + "/tab1/got")) std::this_thread::yield();
    if (how == End::kAll) tabs.end_all();
    if (how == End::kClose) tabs.close(id);
    request.join();
    EXPECT_TRUE(asked);
    EXPECT_EQ(answer.word, "500");
    EXPECT_FALSE(tabs.is_open(id));
    EXPECT_FALSE(fs::exists(folder + "/tab1"));
    if (how == End::kAll) {
      EXPECT_FALSE(fs::exists(folder));
      EXPECT_TRUE(tabs.open(&why).empty());
      EXPECT_EQ(why, "the server is ending");
    } else {
      EXPECT_NE(answer.body.find(how == End::kClose ? "stopped" : "did not answer"),
                std::string::npos)
          << answer.body;
    }
  }
}

// The processes whose parent is `parent`, but for those ended and not yet reaped; and whether
// one has ended.
std::vector<pid_t> children_of(pid_t parent) {
  std::vector<pid_t> out;
  for (const auto& e : fs::directory_iterator("/proc")) {
    std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent &&
        state != 'Z')
      out.push_back(std::stoi(name));
  }
  return out;
}

bool ended(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  return close == std::string::npos || stat[close + 2] == 'Z';
}

// A tab nobody uses is ended with its process and its folder; so is one whose worker died, and
// the bound then lets another open.
TEST(ServeTabs, IdleAndDeadWorkersEndWithTheirTabs) {
  Tabs tabs(serve_test_zygote(), "tab", 1, std::chrono::milliseconds(100));
  std::string why, id = tabs.open(&why);
  ASSERT_FALSE(id.empty()) << why;
  EXPECT_TRUE(tabs.open(&why).empty());
  EXPECT_NE(why.find("1 tabs have a device already"), std::string::npos) << why;
  std::vector<pid_t> workers = children_of(serve_test_zygote().pid());
  ASSERT_EQ(workers.size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  tabs.end_idle();
  EXPECT_FALSE(tabs.is_open(id));
  EXPECT_TRUE(ended(workers[0]));
  EXPECT_FALSE(fs::exists(tabs.folder() + "/tab1"));

  id = tabs.open(&why);
  ASSERT_FALSE(id.empty()) << why;
  workers = children_of(serve_test_zygote().pid());
  ASSERT_EQ(workers.size(), 1u);
  kill(workers[0], SIGKILL);
  Frame answer;
  ASSERT_TRUE(tabs.ask(id, {"state", ""}, &answer));
  EXPECT_EQ(answer.word, "500");
  EXPECT_NE(answer.body.find("stopped"), std::string::npos);
  EXPECT_FALSE(tabs.is_open(id));
  EXPECT_FALSE(fs::exists(tabs.folder() + "/tab2"));
  EXPECT_FALSE(tabs.open(&why).empty()) << why;
}

// The server over HTTP on a free port, with its tabs in workers.
class ServeHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    // The workers are forked from the test program's zygote, made before any of its threads:
    // never from this program while the client and the server's pool allocate.
    ServeOptions o;
    o.port = 0;
    o.max_tabs = 2;
    o.zygote = &serve_test_zygote();
    thread_ = std::thread([this, o] {
      std::string why;
      serve(
          o,
          [this](int port) {
            std::lock_guard<std::mutex> lk(lock_);
            port_ = port;
            ready_.notify_all();
          },
          &why);
    });
    std::unique_lock<std::mutex> lk(lock_);
    ready_.wait(lk, [this] { return port_ != 0; });
  }
  void TearDown() override {
    if (!thread_.joinable()) return;
    stop_serving();
    thread_.join();
  }
  // Each action replays the tab's whole session, which under the sanitizers takes seconds.
  httplib::Client Client() {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(120, 0);
    return c;
  }
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable ready_;
  int port_ = 0;
};

TEST_F(ServeHttp, StrokesSettingsAndRefusals) {
  auto c = Client();
  auto r = c.Post("/api/stroke", flick_up_json(), "application/json");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200) << r->body;
  auto a = nlohmann::json::parse(r->body);
  EXPECT_EQ(a["outcome"]["decision"], "handed over");
  EXPECT_GT(a["outcome"]["scrolls"][0]["after"].get<int>(), 0);

  r = c.Post("/api/stroke", "{\"points\": [[1,", "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 400);
  EXPECT_NE(r->body.find("not JSON"), std::string::npos);
  r = c.Post("/api/setting", R"({"name": "Activate", "value": 0})", "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  r = c.Post("/api/stroke", flick_up_json(), "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(nlohmann::json::parse(r->body)["outcome"]["reason"], "gesture function off");
  r = c.Get("/api/screen.png");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body.substr(1, 3), "PNG");
  r = c.Get("/api/kept.scn");
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.find("sample 0x3"), std::string::npos);

  struct Refused {
    httplib::Headers headers;
    int status;
  } refused[] = {
      {{{"Host", "evil.example:" + std::to_string(port_)}}, 403},
      {{{"Origin", "http://evil.example"}}, 403},
  };
  for (const auto& f : refused) {
    r = c.Post("/api/stroke", f.headers, flick_up_json(), "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, f.status);
  }
  r = c.Post("/api/stroke", std::string(kMaxRequestBytes + 1, ' '), "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 413);

  // The device's sounds, and a dropped stroke file: a bad one is refused and the device goes on.
  r = c.Get("/api/sound?resource=Quenza.dll:VEXORISND");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Content-Type"), "audio/wav");
  EXPECT_EQ(r->body.substr(0, 4), "RIFF");
  r = c.Get("/api/sound?resource=Quenza.dll:NOPE");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 404);
  EXPECT_NE(r->body.find("no WAVE resource NOPE"), std::string::npos) << r->body;
  r = c.Post("/api/replay?name=bad.csv", "t_ms,x,y,down\n0,1,1,2\n", "text/plain");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 400);
  EXPECT_NE(r->body.find("bad.csv:2"), std::string::npos) << r->body;
  r = c.Post("/api/replay?name=tap.csv", "t_ms,x,y,down\n0,100,150,1\n80,100,150,1\n90,100,150,0\n",
             "text/plain");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200) << r->body;
  // Played on the script's device as it is now, its gesture function off.
  EXPECT_EQ(nlohmann::json::parse(r->body)["strokes"][0]["outcome"]["reason"],
            "gesture function off");
  // A form body longer than the library takes is refused with a reason, not with nothing.
  r = c.Post("/api/replay?name=big.csv", std::string(9000, 'x'),
             "application/x-www-form-urlencoded");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 413);
  EXPECT_NE(r->body.find("text/plain"), std::string::npos);

  // Two tabs at most: the script's and one more.
  r = c.Post("/api/tabs");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  r = c.Post("/api/tabs");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 503);
  EXPECT_NE(r->body.find("tabs have a device already"), std::string::npos);
  r = c.Get("/api/state?tab=nosuchtab");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 404);
}

// The stream tells each outcome and each sound as it happens.
TEST_F(ServeHttp, TheStreamTellsOutcomesAndSounds) {
  auto c = Client();
  ASSERT_EQ(c.Post("/api/setting", R"({"name": "Sound", "value": 1})", "application/json")->status,
            200);
  std::string seen;
  std::thread stream([&] {
    auto s = Client();
    s.Get("/api/events", [&](const char* data, size_t n) {
      seen.append(data, n);
      return seen.find("event: sound") == std::string::npos;
    });
  });
  auto r = c.Post("/api/stroke", flick_up_json(), "application/json");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200);
  EXPECT_FALSE(nlohmann::json::parse(r->body)["sounds"].empty()) << r->body;
  stream.join();
  EXPECT_NE(seen.find("event: outcome\ndata: {"), std::string::npos) << seen;
  EXPECT_NE(seen.find("\"resource\":\"Quenza.dll:VEXORISND\""), std::string::npos) << seen;
}

// The program itself, ended by a signal while tabs are open: nothing of it is left, neither
// processes nor files in its temporary folder.
TEST(ServeProgram, ASignalEndsItWithNothingLeft) {
  for (int sig : {SIGINT, SIGTERM}) {
    fs::path tmp = fs::temp_directory_path() / ("vexori-serve-signal-" + std::to_string(getpid()));
    fs::create_directories(tmp);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, sig);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);  // as a shell's foreground job has it
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::string env_tmp = "TMPDIR=" + tmp.string();
    std::vector<char*> env = {env_tmp.data(), nullptr};
    const char* argv[] = {VEXORI_SIM, "serve", "--port", "0", nullptr};
    pid_t server = 0;
    ASSERT_EQ(
        posix_spawn(&server, VEXORI_SIM, &actions, &attr, const_cast<char**>(argv), env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    std::string line;
    char ch;
    while (read(out[0], &ch, 1) == 1 && ch != '\n') line += ch;
    close(out[0]);
    size_t colon = line.rfind(':');
    ASSERT_NE(colon, std::string::npos) << line;
    httplib::Client c("127.0.0.1", std::stoi(line.substr(colon + 1)));
    c.set_read_timeout(120, 0);
    auto r = c.Post("/api/stroke", tap_json(120, 150), "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    r = c.Post("/api/tabs");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    std::vector<pid_t> zygote = children_of(server);
    ASSERT_EQ(zygote.size(), 1u);
    std::vector<pid_t> workers = children_of(zygote[0]);
    EXPECT_EQ(workers.size(), 2u);

    kill(server, sig);
    int status = 0;
    ASSERT_EQ(waitpid(server, &status, 0), server);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_TRUE(fs::is_empty(tmp)) << fs::directory_iterator(tmp)->path();
    workers.push_back(zygote[0]);
    for (pid_t p : workers) {
      for (int i = 0; i < 500 && !ended(p); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_TRUE(ended(p)) << "process " << p << " outlived the server";
    }
    fs::remove_all(tmp);
  }
}

}  // namespace
