#include "TabWorker.h"

#include <chrono>
#include <charconv>
#include <fstream>
#include <memory>
#include <sstream>

#include "Frames.h"
#include "Requests.h"
#include "Session.h"

namespace sim::serve {
namespace {

uint64_t wall_ms() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string error_json(const std::string& what) {
  return nlohmann::json{{"error", what}}.dump();
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

Frame answer(Session& s, const Frame& r, const dev::Screen& screen) {
  if (r.word == "stroke") return {"200", s.stroke(parse_stroke(r.body, screen)).dump()};
  if (r.word == "replay") {
    // The file's name on the first line, then its text.
    size_t nl = r.body.find('\n');
    if (nl == std::string::npos) return {"400", error_json("the stroke file has no name")};
    return {"200",
            s.replay_file(parse_stroke_file(r.body.substr(0, nl), r.body.substr(nl + 1))).dump()};
  }
  if (r.word == "setting") return {"200", s.write_setting(parse_setting(r.body)).dump()};
  if (r.word == "window") return {"200", s.put_window(parse_window(r.body)).dump()};
  if (r.word == "program") return {"200", s.start_settings_program().dump()};
  if (r.word == "reset") return {"200", s.reset().dump()};
  if (r.word == "state") return {"200", s.state().dump()};
  if (r.word == "screen") return {"200", read_file(s.screen_file())};
  if (r.word == "frame") {
    // The frame's number is the body.
    size_t n = 0;
    auto [end, ec] = std::from_chars(r.body.data(), r.body.data() + r.body.size(), n);
    std::string file = ec == std::errc() && end == r.body.data() + r.body.size() && !r.body.empty()
                           ? s.frame_file(n)
                           : "";
    if (file.empty()) return {"404", error_json("no frame " + r.body + " of the last stroke")};
    return {"200", read_file(file)};
  }
  if (r.word == "kept") return {"200", s.kept()};
  if (r.word == "log") return {"200", s.jsonl()};
  return {"404", error_json("no such operation: " + r.word)};
}

}  // namespace

void serve_tab(int fd, const std::string& folder, const SessionSetup& setup) {
  FrameReader reader(fd);
  std::unique_ptr<Session> session;
  std::string down;  // why the device could not be made
  try {
    session = std::make_unique<Session>(setup.base, setup.file, setup.dir, setup.options, folder,
                                        wall_ms);
  } catch (const std::exception& e) {
    down = e.what();
  }
  dev::Screen screen = session ? dev::Screen{session->state()["width"].get<int>(),
                                             session->state()["height"].get<int>(), 96}
                               : dev::Screen{};
  Frame r;
  while (reader.read(&r)) {
    Frame a;
    if (!session) {
      a = {"500", error_json("the device did not come up: " + down)};
    } else {
      try {
        a = answer(*session, r, screen);
      } catch (const BadRequest& e) {
        a = {"400", error_json(e.what())};
      } catch (const std::exception& e) {
        a = {"500", error_json(e.what())};
      }
    }
    if (!write_frame(fd, a)) return;
  }
}

WorkerMain tab_worker(const SessionSetup& setup) {
  return [setup](int fd, const std::string& folder, const std::string&) {
    serve_tab(fd, folder, setup);
  };
}

}  // namespace sim::serve
