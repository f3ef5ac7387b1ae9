// The serve tests' program: its zygote comes first, while the program has one thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "Frames.h"
#include "ServeZygote.h"
#include "TabWorker.h"

namespace {

std::unique_ptr<sim::serve::Zygote> g_zygote;

void test_worker(int fd, const std::string& folder, const std::string& kind) {
  if (kind == "hang") {
    sim::serve::Frame r;
    sim::serve::FrameReader(fd).read(&r);
    std::ofstream(folder + "/got") << r.word;
    for (;;) pause();
  }
  sim::serve::serve_tab(fd, folder, sim::serve::SessionSetup());
}

}  // namespace

sim::serve::Zygote& serve_test_zygote() {
  return *g_zygote;
}

int main(int argc, char** argv) {
  g_zygote = std::make_unique<sim::serve::Zygote>(test_worker);
  if (!g_zygote->ok()) {
    fprintf(stderr, "%s\n", g_zygote->why().c_str());
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  g_zygote.reset();
  return rc;
}
