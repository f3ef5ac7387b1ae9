#include "OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "device/device.hpp"

namespace sim {
namespace {

std::mutex g_unfinished_lock;
std::set<std::string> g_unfinished;
std::function<void()> g_at_signal_end;

void forget(const std::string& path) {
  std::lock_guard<std::mutex> lk(g_unfinished_lock);
  g_unfinished.erase(path);
}

}  // namespace

OutputFile::OutputFile(const std::string& destination) : destination_(destination) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::file_status st = fs::status(destination, ec);
  if (fs::is_directory(st)) throw dev::InputError(destination, 0, "is a directory, not a file");
  if (fs::exists(st) && !fs::is_regular_file(st)) {
    if (access(destination.c_str(), W_OK) != 0) {
      throw dev::InputError(destination, 0,
                            std::string("cannot be written: ") + std::strerror(errno));
    }
    in_place_ = true;
    path_ = destination;
    return;
  }
  fs::path dest(destination);
  fs::path dir = dest.parent_path().empty() ? fs::path(".") : dest.parent_path();
  std::string name = (dir / ("." + dest.filename().string() + ".XXXXXX")).string();
  int fd = mkstemp(name.data());
  if (fd < 0) {
    throw dev::InputError(destination, 0,
                          std::string("cannot be written: ") + std::strerror(errno));
  }
  // mkstemp makes the file private; the output gets the modes a newly created file would get.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  path_ = name;
  std::lock_guard<std::mutex> lk(g_unfinished_lock);
  g_unfinished.insert(path_);
}

OutputFile::~OutputFile() {
  if (in_place_ || path_.empty()) return;
  std::remove(path_.c_str());
  forget(path_);
}

void OutputFile::commit() {
  if (in_place_ || path_.empty()) return;
  if (std::rename(path_.c_str(), destination_.c_str()) != 0) {
    throw dev::InputError(destination_, 0,
                          std::string("cannot be written: ") + std::strerror(errno));
  }
  forget(path_);
  path_.clear();
}

void at_signal_end(std::function<void()> cleanup) {
  std::lock_guard<std::mutex> lk(g_unfinished_lock);
  g_at_signal_end = std::move(cleanup);
}

void remove_unfinished_outputs() {
  std::lock_guard<std::mutex> lk(g_unfinished_lock);
  if (g_at_signal_end) g_at_signal_end();
  for (const auto& path : g_unfinished) std::remove(path.c_str());
  g_unfinished.clear();
}

}  // namespace sim
