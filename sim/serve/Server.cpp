#include "Server.h"

#include <fmt/format.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "OutputFile.h"
#include "RequestChecks.h"
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
    if (status == 200 && event != nullptr) tabs_.publish(tab, event, answer.body);
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
  svr.set_payload_max_length(kMaxRequestBytes);
  svr.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
    std::string no =
        refusal(req.get_header_value("Host"), req.get_header_value("Origin"), o.bind, port);
    if (no.empty()) return httplib::Server::HandlerResponse::Unhandled;
    send_error(res, 403, no);
    return httplib::Server::HandlerResponse::Handled;
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
  svr.Get("/api/state", [&](const httplib::Request& req, httplib::Response& res) {
    api.forward("state", req, res);
  });
  svr.Get("/api/screen.png", [&](const httplib::Request& req, httplib::Response& res) {
    api.forward("screen", req, res, "image/png");
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
