// The built-in tour of `vexori-sim demo`: every behaviour of the system, step by step, each step
// a few scenario lines under a one-line caption and what each of its strokes is expected to do.
#pragma once

#include <string>
#include <vector>

#include "Outcome.h"
#include "Scenario.h"

namespace sim {

struct TourStep {
  std::string caption;
  std::string commands;  // scenario lines
  // Per stroke, in order: how StrokeOutcome::did() begins, and text its outcome line shows
  // ("" when nothing more is asked).
  struct Expect {
    std::string did;
    std::string shows;
  };
  std::vector<Expect> strokes;
};

const std::vector<TourStep>& tour_steps();

// The steps as one scenario on one device: each caption a `note`, the steps in order.
Scenario tour_scenario();
// That scenario's text, whose line numbers the outcome lines of `demo` give (`demo --print`).
std::string tour_scenario_text();

// A row of the tour's summary: one per stroke a step expects or draws.
struct TourRow {
  size_t step = 0;  // 1-based
  std::string drawn, did;
  bool as_expected = false;
};
// The rows for the outcomes of a run of tour_scenario().
std::vector<TourRow> tour_rows(const std::vector<StrokeOutcome>& outcomes);
// The rows as a table that fits one screen; with `colour`, each decision in colour.
std::string tour_table(const std::vector<TourRow>& rows, bool colour = false);
// The rows as one record, "kind":"tour", for --json and --jsonl.
dev::Fields tour_json(const std::vector<TourRow>& rows);

}  // namespace sim
