#include "OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "device/device.hpp"

namespace sim {
namespace {

std::mutex g_unfinished_lock;
std::set<std::string> g_unfinished;
std::function<void()> g_at_signal_end;

// Which file a name stands for: an existing file by its device and inode (a link, a hard link
// or "./name" is the same file), one still to be made by its folder's real path and its name.
std::string identity(const std::string& path) {
  namespace fs = std::filesystem;
  struct stat st {};
  // The change time tells a file apart from a later one that was given the inode of a removed one.
  if (stat(path.c_str(), &st) == 0) {
    return "inode " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
  }
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  fs::path dir = fs::weakly_canonical(p.parent_path(), ec);
  return "path " + (dir / p.filename()).string();
}

std::mutex g_files_lock;
std::map<std::string, std::string> g_inputs;   // identity -> the name the run read it by
std::map<std::string, std::string> g_outputs;  // identity -> the destination as named

void forget(const std::string& path) {
  std::lock_guard<std::mutex> lk(g_unfinished_lock);
  g_unfinished.erase(path);
}

// A partial output is ".NAME.XXXXXX" beside its destination, locked by the run that writes it.
// One whose lock can be taken was left by a run that was killed; a moment-old one may belong to a
// run that has made it and not yet locked it.
void sweep_partial_outputs(const std::filesystem::path& dir, const std::string& hidden) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() != hidden.size() + 6 || name.compare(0, hidden.size(), hidden) != 0) continue;
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid())
      continue;
    if (time(nullptr) - st.st_mtime < 5) continue;
    int fd = open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) unlink(it->path().c_str());
    close(fd);
  }
}

}  // namespace

void note_input(const std::string& path, const std::string& name) {
  std::lock_guard<std::mutex> lk(g_files_lock);
  g_inputs.emplace(identity(path), name.empty() ? path : name);
}

void forget_inputs() {
  std::lock_guard<std::mutex> lk(g_files_lock);
  g_inputs.clear();
}

OutputFile::OutputFile(const std::string& destination) : destination_(destination) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::file_status st = fs::status(destination, ec);
  if (fs::is_directory(st)) throw dev::InputError(destination, 0, "is a directory, not a file");
  // A pipe or /dev/null takes any number of outputs; a file takes one, and never an input's place.
  if (!fs::exists(st) || fs::is_regular_file(st)) {
    std::string id = identity(destination);
    std::lock_guard<std::mutex> lk(g_files_lock);
    auto input = g_inputs.find(id);
    if (input != g_inputs.end()) {
      throw dev::InputError(destination, 0,
                            "is " +
                                (input->second == destination ? std::string("an input")
                                                              : "the input " + input->second) +
                                " of the run: an output may not replace it");
    }
    auto output = g_outputs.find(id);
    if (output != g_outputs.end()) {
      throw dev::InputError(destination, 0,
                            output->second == destination
                                ? std::string("is named for two outputs")
                                : "is the file of another output, " + output->second);
    }
    g_outputs.emplace(id, destination);
    identity_ = id;
  }
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
  std::string hidden = "." + dest.filename().string() + ".";
  sweep_partial_outputs(dir, hidden);
  std::string name = (dir / (hidden + "XXXXXX")).string();
  int fd = mkstemp(name.data());
  if (fd < 0) {
    throw dev::InputError(destination, 0,
                          std::string("cannot be written: ") + std::strerror(errno));
  }
  // mkstemp makes the file private; the output gets the modes a newly created file would get.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  // Held for the output's life: a later run's sweep sees that it is not a killed run's leftover.
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  flock(fd, LOCK_EX);
  lock_ = fd;
  path_ = name;
  std::lock_guard<std::mutex> lk(g_unfinished_lock);
  g_unfinished.insert(path_);
}

OutputFile::~OutputFile() {
  if (!identity_.empty()) {
    std::lock_guard<std::mutex> lk(g_files_lock);
    g_outputs.erase(identity_);
  }
  if (!in_place_ && !path_.empty()) {
    std::remove(path_.c_str());
    forget(path_);
  }
  if (lock_ >= 0) close(lock_);
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
