#include <gtest/gtest.h>

#include "Runner.h"

TEST(Tour, EverySampleReachesTheWindowSystemUnchanged) {
  auto r = sim::run_scenario(sim::tour_scenario(VEXORI_SOURCE_DIR));
  EXPECT_GT(r.panel_samples, 100u);
  EXPECT_EQ(r.received_samples, r.panel_samples);
  EXPECT_EQ(r.unchanged_samples, r.panel_samples);
  EXPECT_TRUE(r.failures.empty());
}
