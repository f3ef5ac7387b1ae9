#include "WineCompare.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "Runner.h"
#include "device/log.hpp"

namespace sim {
namespace {

namespace fs = std::filesystem;

// A program named without a folder is looked for on PATH.
std::string on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return "";
}

std::string find_program(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
  return on_path(name);
}

int unavailable(const std::string& what) {
  std::cerr << "vexori-sim: compare-wine: " << what << '\n';
  return kExitUnavailable;
}

}  // namespace

int compare_wine_command(const WineCompareArgs& args) {
  if (args.files.empty() && !args.tour)
    throw dev::InputError("compare-wine", 0, "no scenario given (files, or --tour)");
  for (const auto& f : args.files) {
    std::error_code ec;
    if (!fs::is_regular_file(f, ec)) throw dev::InputError(f, 0, "no such scenario file");
  }
  std::string wine;
  if (!args.wine.empty()) {
    wine = find_program(args.wine);
    if (wine.empty()) return unavailable("no Wine loader " + args.wine);
  } else {
    for (const char* candidate : {"/usr/lib/wine/wine64", "wine64", "wine"})
      if (wine.empty()) wine = find_program(candidate);
    if (wine.empty())
      return unavailable(
          "needs Wine: no /usr/lib/wine/wine64, wine64 or wine found (make wine-deps installs it)");
  }
  std::string windows =
      args.windows.empty() ? std::string(VEXORI_SOURCE_DIR "/build-win32/windows") : args.windows;
  for (const char* program :
       {"wsys.exe", "touch.dll", "reginstall.exe", "Pallux.dll", "Quenza.dll", "Corvane.exe"}) {
    if (!fs::exists(fs::path(windows) / program))
      return unavailable(std::string("needs the desktop build: no ") + program + " in " + windows +
                         " (make build-win32 makes it)");
  }
  std::string script = VEXORI_SOURCE_DIR "/desktop/wine/compare_wine.py";
  if (!fs::exists(script)) return unavailable("needs the source tree's " + script);
  std::string python = find_program("python3");
  if (python.empty()) return unavailable("needs python3");
  std::error_code ec;
  std::string self = fs::read_symlink("/proc/self/exe", ec).string();
  std::vector<std::string> argv = {python,      script,  "--sim",  self,
                                   "--windows", windows, "--wine", wine};
  if (args.tour) argv.push_back("--tour");
  if (args.keep_going) argv.push_back("--keep-going");
  if (!args.markdown.empty()) argv.insert(argv.end(), {"--markdown", args.markdown});
  for (const auto& f : args.files) argv.push_back(f);
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  // The driver gets the signals as any program would: none blocked, none ignored.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
  std::signal(SIGPIPE, SIG_DFL);
  std::cout.flush();
  ::execv(python.c_str(), raw.data());
  return unavailable("cannot run " + python);
}

}  // namespace sim
