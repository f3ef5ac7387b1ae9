#include "Tabs.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
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
const size_t kKeptEvents = 64;

std::string random_id() {
  std::random_device rd;
  return fmt::format("{:08x}{:08x}", rd(), rd());
}

// The forked worker: nothing of the server but its own socket, signals as a fresh program has
// them, and its folder as the temporary folder.
[[noreturn]] void start_worker(int fd, const std::string& folder, const WorkerMain& worker,
                               pid_t server) {
  // A worker outlives no server, even one killed outright in the middle of a request.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != server) _exit(0);
  if (fd != 3) {
    dup2(fd, 3);
    fd = 3;
  }
  close_range(4, ~0U, 0);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = SIG_DFL;
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(sig, &sa, nullptr);
    sigaddset(&set, sig);
  }
  // A Ctrl-C reaches the whole process group; the server ends its workers itself.
  signal(SIGINT, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  setenv("TMPDIR", folder.c_str(), 1);
  worker(fd, folder);
  _exit(0);
}

}  // namespace

Tabs::Tabs(size_t max_tabs, std::chrono::milliseconds idle, WorkerMain worker,
           std::chrono::milliseconds answer_wait)
    : max_tabs_(max_tabs), idle_(idle), answer_wait_(answer_wait), worker_(std::move(worker)) {
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
  if (fd >= 0) ::close(fd);
}

void Tabs::end(Tab& t) {
  if (t.pid > 0) {
    kill(t.pid, SIGKILL);
    while (waitpid(t.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    t.pid = -1;
  }
  if (t.fd >= 0) {
    ::close(t.fd);
    t.fd = -1;
  }
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
  pid_t server = getpid();
  auto t = std::make_shared<Tab>();
  t->folder = fmt::format("{}/tab{}", folder_, ++made_);
  std::error_code ec;
  if (!std::filesystem::create_directory(t->folder, ec)) {
    *why = "cannot make the tab's folder: " + ec.message();
    return "";
  }
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    *why = std::string("cannot make the tab's socket: ") + std::strerror(errno);
    return "";
  }
  pid_t pid = fork();
  if (pid == 0) {
    ::close(sv[0]);
    start_worker(sv[1], t->folder, worker_, server);
  }
  ::close(sv[1]);
  if (pid < 0) {
    ::close(sv[0]);
    *why = std::string("cannot start the tab's worker: ") + std::strerror(errno);
    return "";
  }
  t->pid = pid;
  t->fd = sv[0];
  t->reader = std::make_unique<FrameReader>(t->fd);
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
  if (t->fd < 0) return false;  // ended while this waited
  if (write_frame(t->fd, request) &&
      t->reader->read(answer, static_cast<int>(answer_wait_.count()))) {
    std::lock_guard<std::mutex> lk2(lock_);
    t->used = std::chrono::steady_clock::now();
    return true;
  }
  if (t->reader->timed_out()) {
    *answer = {"500", nlohmann::json{{"error", fmt::format("the tab's device did not answer "
                                                           "within {} s and was ended; reload "
                                                           "the page",
                                                           answer_wait_.count() / 1000)}}
                          .dump()};
    // Half a frame may still come: the worker cannot be asked again. (When end_all took the
    // tab first, it ends the worker.)
    bool mine = false;
    {
      std::lock_guard<std::mutex> lk2(lock_);
      auto it = tabs_.find(tab);
      mine = it != tabs_.end() && it->second == t;
      if (mine) tabs_.erase(it);
    }
    changed_.notify_all();
    if (mine) end(*t);
  } else {
    *answer = {"500", R"({"error": "the tab's device stopped; reset the tab or open another"})"};
  }
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
    if (t->pid > 0) kill(t->pid, SIGKILL);
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
  for (auto& [id, t] : all) {
    if (t->pid > 0) kill(t->pid, SIGKILL);
  }
  for (auto& [id, t] : all) {
    if (t->pid > 0) {
      while (waitpid(t->pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
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
