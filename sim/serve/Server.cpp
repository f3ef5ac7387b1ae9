#include "Server.h"

#include <fmt/format.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "OutputFile.h"
#include "RequestChecks.h"
#include "Requests.h"
#include "SoundResources.h"
#include "Tabs.h"

namespace sim::serve {
namespace {

// The tab of requests that name none: a script's.
const char kScriptTab[] = "script";
const auto kStreamBeat = std::chrono::seconds(2);

std::mutex g_running_lock;
httplib::Server* g_running = nullptr;
Tabs* g_running_tabs = nullptr;
std::atomic<bool> g_stopping{false};

void send_json(httplib::Response& res, int status, const std::string& body) {
  res.status = status;
  res.set_content(body, "application/json");
}

void send_error(httplib::Response& res, int status, const std::string& why) {
  send_json(res, status, nlohmann::json{{"error", why}}.dump());
}

class Api {
 public:
  explicit Api(const ServeOptions& o, Tabs& tabs) : options_(o), tabs_(tabs) {}

  // The tab a request names, opened for a script that names none; "" when refused (answered).
  std::string tab_of(const httplib::Request& req, httplib::Response& res) {
    std::string tab = req.has_param("tab") ? req.get_param_value("tab") : kScriptTab;
    if (tabs_.is_open(tab)) return tab;
    if (tab == kScriptTab) {
      std::lock_guard<std::mutex> lk(script_lock_);
      std::string why;
      if (tabs_.is_open(tab) || !tabs_.open(&why, kScriptTab).empty()) return tab;
      send_error(res, 503, why);
      return "";
    }
    send_error(res, 404, "no tab '" + tab + "' is open (ended for being idle?): reload the page");
    return "";
  }

  // Passes the request to its tab's worker and answers with what the worker said.
  void forward(const std::string& op, const httplib::Request& req, httplib::Response& res,
               const char* type = "application/json", const char* event = nullptr) {
    std::string tab = tab_of(req, res);
    if (tab.empty()) return;
    Frame answer;
    if (!tabs_.ask(tab, {op, req.body}, &answer)) {
      send_error(res, 404, "the tab was ended");
      return;
    }
    int status = std::atoi(answer.word.c_str());
    res.status = status;
    res.set_content(answer.body, status == 200 ? type : "application/json");
    if (status == 200 && event != nullptr) publish(tab, event, answer.body);
  }

  // What an answer tells the tab's stream: a dropped file's strokes as outcomes, one by one, and
  // the sounds of each stroke after it.
  void publish(const std::string& tab, const std::string& event, const std::string& body) {
    nlohmann::json a = nlohmann::json::parse(body, nullptr, false);
    if (event != "replay") tabs_.publish(tab, event, body);
    nlohmann::json strokes =
        a.is_object() && a.contains("strokes") ? a["strokes"] : nlohmann::json::array({a});
    for (const nlohmann::json& stroke : strokes) {
      if (event == "replay") tabs_.publish(tab, "outcome", stroke.dump());
      if (!stroke.is_object() || !stroke.contains("sounds")) continue;
      for (const nlohmann::json& sound : stroke["sounds"])
        tabs_.publish(tab, "sound", sound.dump());
    }
  }

  // A dropped stroke file, its name from the query.
  void replay(const httplib::Request& req, httplib::Response& res) {
    std::string name = req.has_param("name") ? req.get_param_value("name") : "";
    if (name.empty())
      return send_error(res, 400, "name the stroke file: /api/replay?name=FILE.xml (or .csv)");
    httplib::Request named = req;
    for (char& c : name) {
      if (c == '\n' || c == '\r') c = '_';
    }
    named.body = name + '\n' + req.body;
    forward("replay", named, res, "application/json", "replay");
  }

  // The device's own sound resources, by the names its log gives them.
  void sound(const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("resource"))
      return send_error(res, 400, "which sound? /api/sound?resource=MODULE:NAME");
    std::string resource = req.get_param_value("resource"), wav, why;
    {
      std::lock_guard<std::mutex> lk(sounds_lock_);
      auto it = sounds_.find(resource);
      if (it != sounds_.end()) wav = it->second;
    }
    if (wav.empty()) {
      if (!sound_wav(options_.setup.options.windows_dir, resource, &wav, &why))
        return send_error(res, 404, why);
      std::lock_guard<std::mutex> lk(sounds_lock_);
      if (sounds_.size() < kKeptSounds) sounds_[resource] = wav;
    }
    res.set_header("Cache-Control", "max-age=3600");
    res.set_content(wav, "audio/wav");
  }

  void open_tab(httplib::Response& res) {
    std::string why, id = tabs_.open(&why);
    if (id.empty()) return send_error(res, 503, why);
    send_json(res, 200, nlohmann::json{{"tab", id}}.dump());
  }

  void stream(const httplib::Request& req, httplib::Response& res) {
    std::string tab = tab_of(req, res);
    if (tab.empty()) return;
    auto after = std::make_shared<uint64_t>(0);
    Tabs* tabs = &tabs_;
    res.set_chunked_content_provider(
        "text/event-stream", [tabs, tab, after](size_t, httplib::DataSink& sink) {
          std::vector<TabEvent> events;
          if (g_stopping || !tabs->events(tab, *after, kStreamBeat, &events)) {
            sink.done();
            return true;
          }
          std::string text = events.empty() ? ": still here\n\n" : "";
          for (const TabEvent& e : events) {
            text += fmt::format("event: {}\ndata: {}\n\n", e.name, e.data);
            *after = e.seq;
          }
          return sink.write(text.data(), text.size());
        });
  }

 private:
  const ServeOptions& options_;
  Tabs& tabs_;
  std::mutex script_lock_;
  static const size_t kKeptSounds = 16;
  std::mutex sounds_lock_;
  std::map<std::string, std::string> sounds_;
};

}  // namespace

bool serve(const ServeOptions& o, const std::function<void(int port)>& listening,
           std::string* why) {
  // First of all, before any thread of the server's: the process its workers are forked from.
  std::unique_ptr<Zygote> own_zygote;
  Zygote* zygote = o.zygote;
  if (zygote == nullptr) {
    own_zygote = std::make_unique<Zygote>(tab_worker(o.setup));
    zygote = own_zygote.get();
  }
  if (!zygote->ok()) {
    *why = zygote->why();
    return false;
  }
  Tabs tabs(*zygote, o.worker_kind, o.max_tabs, o.idle);
  Zygote* own = own_zygote.get();
  at_signal_end([&tabs, own] {
    tabs.end_all();
    if (own != nullptr) own->end();
  });
  Api api(o, tabs);
  httplib::Server svr;
  int port = o.port;
  // Each open page holds a thread with its stream.
  svr.new_task_queue = [&o] { return new httplib::ThreadPool(o.max_tabs + 8); };
  // Whatever the route, no body is read past the largest a route takes; the others are refused
  // on their Content-Length before their bodies are read, and on their length when they come
  // in chunks.
  svr.set_payload_max_length(kMaxStrokeFileBytes);
  svr.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
    std::string no =
        refusal(req.get_header_value("Host"), req.get_header_value("Origin"), o.bind, port);
    if (!no.empty()) {
      send_error(res, 403, no);
      return httplib::Server::HandlerResponse::Handled;
    }
    size_t bound = req.path == "/api/replay" ? kMaxStrokeFileBytes : kMaxRequestBytes;
    // The HTTP library takes no form body longer than this, and would answer with nothing said.
    const size_t form_bound = 8192;
    if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0 &&
        req.get_header_value<uint64_t>("Content-Length") > form_bound) {
      send_error(res, 413,
                 fmt::format("a form body is at most {} bytes: send the body as application/json "
                             "or text/plain (curl -H 'Content-Type: text/plain')",
                             form_bound));
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.get_header_value<uint64_t>("Content-Length") > bound) {
      send_error(res, 413,
                 fmt::format("the body is longer than the {} bytes {} takes", bound, req.path));
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  svr.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(page_html(), "text/html; charset=utf-8");
  });
  svr.Post("/api/tabs",
           [&](const httplib::Request&, httplib::Response& res) { api.open_tab(res); });
  svr.Post("/api/close", [&](const httplib::Request& req, httplib::Response& res) {
    if (req.has_param("tab")) tabs.close(req.get_param_value("tab"));
    send_json(res, 200, "{}");
  });
  auto post = [&](const char* path, const char* op, const char* event) {
    svr.Post(path, [&api, op, event](const httplib::Request& req, httplib::Response& res) {
      api.forward(op, req, res, "application/json", event);
    });
  };
  post("/api/stroke", "stroke", "outcome");
  post("/api/setting", "setting", "setting");
  post("/api/window", "window", "window");
  post("/api/program", "program", "program");
  post("/api/reset", "reset", "reset");
  svr.Post("/api/replay",
           [&](const httplib::Request& req, httplib::Response& res) { api.replay(req, res); });
  svr.Get("/api/sound",
          [&](const httplib::Request& req, httplib::Response& res) { api.sound(req, res); });
  svr.Get("/api/state", [&](const httplib::Request& req, httplib::Response& res) {
    api.forward("state", req, res);
  });
  svr.Get("/api/screen.png", [&](const httplib::Request& req, httplib::Response& res) {
    api.forward("screen", req, res, "image/png");
  });
  // The screen while the last stroke's effects lasted: frame N of the answer's "frames".
  svr.Get("/api/frame.png", [&](const httplib::Request& req, httplib::Response& res) {
    httplib::Request numbered = req;
    numbered.body = req.get_param_value("n");
    api.forward("frame", numbered, res, "image/png");
  });
  svr.Get("/api/kept.scn", [&](const httplib::Request& req, httplib::Response& res) {
    api.forward("kept", req, res, "text/plain; charset=utf-8");
    if (res.status == 200)
      res.set_header("Content-Disposition", "attachment; filename=\"drawn.scn\"");
  });
  svr.Get("/api/log.jsonl", [&](const httplib::Request& req, httplib::Response& res) {
    api.forward("log", req, res, "application/x-ndjson");
    if (res.status == 200)
      res.set_header("Content-Disposition", "attachment; filename=\"drawn.jsonl\"");
  });
  svr.Get("/api/events",
          [&](const httplib::Request& req, httplib::Response& res) { api.stream(req, res); });

  if (o.port == 0) {
    port = svr.bind_to_any_port(o.bind);
    if (port < 0) {
      *why = fmt::format("cannot listen on {}", o.bind);
      return false;
    }
  } else if (!svr.bind_to_port(o.bind, o.port)) {
    *why = fmt::format("cannot listen on {} port {}", o.bind, o.port);
    return false;
  }
  std::atomic<bool> done{false};
  std::thread reaper([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      tabs.end_idle();
    }
  });
  {
    std::lock_guard<std::mutex> lk(g_running_lock);
    g_stopping = false;
    g_running = &svr;
    g_running_tabs = &tabs;
  }
  listening(port);
  svr.listen_after_bind();
  {
    std::lock_guard<std::mutex> lk(g_running_lock);
    g_running = nullptr;
    g_running_tabs = nullptr;
  }
  done = true;
  reaper.join();
  at_signal_end(nullptr);
  tabs.end_all();
  return true;
}

void stop_serving() {
  std::lock_guard<std::mutex> lk(g_running_lock);
  g_stopping = true;
  // The workers go first: the server's threads join only once their requests are answered, and
  // a request waits on its worker however long that takes.
  if (g_running_tabs != nullptr) g_running_tabs->end_all();
  if (g_running != nullptr) g_running->stop();
}

}  // namespace sim::serve
