#include "Tabs.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace sim::serve {
namespace {

// Events a tab keeps for a stream that comes back (a page reloading its stream).
const size_t kKeptEvents = 256;

std::string random_id() {
  std::random_device rd;
  return fmt::format("{:08x}{:08x}", rd(), rd());
}

}  // namespace

Tabs::Tabs(Zygote& zygote, std::string kind, size_t max_tabs, std::chrono::milliseconds idle,
           std::chrono::milliseconds answer_wait)
    : max_tabs_(max_tabs),
      idle_(idle),
      answer_wait_(answer_wait),
      zygote_(zygote),
      kind_(std::move(kind)) {
  // Named and locked as a device's folder is, so that when this server is killed outright a later
  // run's sweep of left folders removes it (and never while this server holds it).
  std::string path =
      (std::filesystem::temp_directory_path() / fmt::format("vexori-{}-XXXXXX", getpid())).string();
  if (mkdtemp(path.data()) == nullptr)
    throw std::runtime_error(
        fmt::format("cannot make the folder {}: {}", path, std::strerror(errno)));
  lock_fd_ = ::open((path + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_fd_ < 0 || flock(lock_fd_, LOCK_EX) != 0) {
    int err = errno;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    throw std::runtime_error(
        fmt::format("cannot lock the folder {}: {}", path, std::strerror(err)));
  }
  folder_ = path;
}

Tabs::~Tabs() {
  end_all();
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

Tabs::Tab::~Tab() {
  end_worker(worker);
}

void Tabs::end(Tab& t) {
  end_worker(t.worker);
  std::error_code ec;
  std::filesystem::remove_all(t.folder, ec);
}

std::string Tabs::open(std::string* why, const std::string& wanted) {
  std::lock_guard<std::mutex> lk(lock_);
  if (ended_) {
    *why = "the server is ending";
    return "";
  }
  if (tabs_.size() >= max_tabs_) {
    *why = fmt::format(
        "{} tabs have a device already, as many as this server runs (--tabs); close one, or wait "
        "until an idle one is ended",
        tabs_.size());
    return "";
  }
  std::string id = wanted.empty() ? random_id() : wanted;
  auto t = std::make_shared<Tab>();
  t->folder = fmt::format("{}/tab{}", folder_, ++made_);
  std::error_code ec;
  if (!std::filesystem::create_directory(t->folder, ec)) {
    *why = "cannot make the tab's folder: " + ec.message();
    return "";
  }
  if (!zygote_.fork_worker(t->folder, kind_, &t->worker, why)) {
    std::filesystem::remove_all(t->folder, ec);
    *why = "cannot start the tab's worker: " + *why;
    return "";
  }
  t->reader = std::make_unique<FrameReader>(t->worker.fd);
  t->used = std::chrono::steady_clock::now();
  tabs_[id] = t;
  return id;
}

std::shared_ptr<Tabs::Tab> Tabs::find(const std::string& tab) {
  std::lock_guard<std::mutex> lk(lock_);
  auto it = tabs_.find(tab);
  if (it == tabs_.end()) return nullptr;
  it->second->used = std::chrono::steady_clock::now();
  return it->second;
}

bool Tabs::ask(const std::string& tab, const Frame& request, Frame* answer) {
  std::shared_ptr<Tab> t = find(tab);
  if (!t) return false;
  std::lock_guard<std::mutex> lk(t->ask_lock);
  if (t->worker.fd < 0) return false;  // ended while this waited
  if (write_frame(t->worker.fd, request) &&
      t->reader->read(answer, static_cast<int>(answer_wait_.count()))) {
    std::lock_guard<std::mutex> lk2(lock_);
    t->used = std::chrono::steady_clock::now();
    return true;
  }
  // A worker that did not answer in time may still send half a frame, and one that stopped
  // (killed, or crashed) answers nothing more: either way it cannot be asked again, and its tab
  // ends with it. (When end_all or close took the tab first, they end the worker.)
  std::string why =
      t->reader->timed_out()
          ? fmt::format(
                "the tab's device did not answer within {} s and was ended; reload the page",
                answer_wait_.count() / 1000)
          : "the tab's device stopped; reload the page for another";
  *answer = {"500", nlohmann::json{{"error", why}}.dump()};
  bool mine = false;
  {
    std::lock_guard<std::mutex> lk2(lock_);
    auto it = tabs_.find(tab);
    mine = it != tabs_.end() && it->second == t;
    if (mine) tabs_.erase(it);
  }
  changed_.notify_all();
  if (mine) end(*t);
  return true;
}

void Tabs::close(const std::string& tab) {
  std::shared_ptr<Tab> t;
  {
    std::lock_guard<std::mutex> lk(lock_);
    auto it = tabs_.find(tab);
    if (it == tabs_.end()) return;
    t = it->second;
    tabs_.erase(it);
    // Killed before the request under way is waited for: a worker that hangs must not hold the
    // tab open (nor the thread that ends idle tabs).
    kill_worker(t->worker);
  }
  changed_.notify_all();
  std::lock_guard<std::mutex> lk(t->ask_lock);
  end(*t);
}

bool Tabs::is_open(const std::string& tab) {
  std::lock_guard<std::mutex> lk(lock_);
  return tabs_.count(tab) > 0;
}

size_t Tabs::count() {
  std::lock_guard<std::mutex> lk(lock_);
  return tabs_.size();
}

void Tabs::touch(const std::string& tab) {
  find(tab);
}

void Tabs::end_idle() {
  std::vector<std::string> idle;
  {
    std::lock_guard<std::mutex> lk(lock_);
    auto now = std::chrono::steady_clock::now();
    for (const auto& [id, t] : tabs_) {
      if (now - t->used > idle_) idle.push_back(id);
    }
  }
  for (const auto& id : idle) close(id);
}

void Tabs::end_all() {
  std::map<std::string, std::shared_ptr<Tab>> all;
  {
    std::lock_guard<std::mutex> lk(lock_);
    ended_ = true;
    all.swap(tabs_);
  }
  changed_.notify_all();
  // Killed first, all at once, without waiting for a request under way.
  for (auto& [id, t] : all) kill_worker(t->worker);
  // Ended without taking their request locks: a request under way reads its worker's socket
  // until it sees the end of it, and only its own ask closes it.
  for (auto& [id, t] : all) wait_worker(t->worker);
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

void Tabs::publish(const std::string& tab, const std::string& name, const std::string& data) {
  {
    std::lock_guard<std::mutex> lk(lock_);
    auto it = tabs_.find(tab);
    if (it == tabs_.end()) return;
    Tab& t = *it->second;
    t.events.push_back({++t.seq, name, data});
    if (t.events.size() > kKeptEvents) t.events.pop_front();
  }
  changed_.notify_all();
}

bool Tabs::events(const std::string& tab, uint64_t after, std::chrono::milliseconds wait,
                  std::vector<TabEvent>* out) {
  std::unique_lock<std::mutex> lk(lock_);
  auto ready = [&] {
    auto it = tabs_.find(tab);
    return it == tabs_.end() || it->second->seq > after;
  };
  changed_.wait_for(lk, wait, ready);
  auto it = tabs_.find(tab);
  if (it == tabs_.end()) return false;
  it->second->used = std::chrono::steady_clock::now();
  for (const TabEvent& e : it->second->events) {
    if (e.seq > after) out->push_back(e);
  }
  return true;
}

}  // namespace sim::serve
