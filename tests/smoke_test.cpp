#include <gtest/gtest.h>

#include "Runner.h"

TEST(Tour, StrokesReachTheWindowSystemUnchangedUnlessTakenAsPans) {
  auto r = sim::run_scenario(sim::tour_scenario(VEXORI_SOURCE_DIR));
  EXPECT_TRUE(r.failures.empty());
  // The two pans are withheld from the window system; everything else reaches it unchanged.
  EXPECT_EQ(r.unchanged_samples, r.received_samples);
  EXPECT_EQ(r.panel_samples - r.received_samples, 2u * 92u);
  size_t list_lines = 0, view_moves = 0;
  for (const auto& e : r.log) {
    if (e.kind != "scroll-pos" || e.str("bar") != "vert") continue;
    if (e.str("window").rfind("VexoriList", 0) == 0) ++list_lines;
    if (e.str("window").rfind("PIEHTML", 0) == 0) ++view_moves;
  }
  EXPECT_EQ(list_lines, 15u);
  EXPECT_EQ(view_moves, 15u);
}
