// What the person drawing each class of strokes meant it to do, and how far the system did it:
// a behaviour (100 to 111), a pan, or a tap or press-and-hold passed through to the application.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "replay/StrokeReplay.h"

namespace sim {

// Gesture class -> what it was meant to do: "106", "pan", "tap" or "hold".
using Intent = std::map<std::string, std::string>;

// "caret=106,v=104", or the name of a file holding such pairs, separated by commas or lines, with
// "#" starting a comment. Throws dev::InputError naming what is wrong (a file that cannot be read,
// a pair without "=", a class given twice, a WHAT that is none of the above).
Intent parse_intent(const std::string& text);

// Checks that the intent names classes of the strokes replayed: a class no stroke has is refused
// (a typing slip would otherwise count for nothing), unless `only_some` (the set was cut down with
// --only), when such classes are left out. Throws dev::InputError listing the classes there are.
Intent intent_for(const Intent& intent, const std::vector<std::string>& classes, bool only_some);

// What a replayed stroke did, in the words of an intent: "tap", "hold" (passed through as such),
// "passed" (passed through for another reason), "pan", a behaviour's number ("106"), "nothing"
// (kept from the window system with no effect, or handed over with no behaviour), or "failed" (it
// could not be replayed).
std::string did_of(const StrokeResult& r);

// By class, in the order the classes first come, how many strokes did what; the row "all" last.
struct DidRow {
  std::string gesture;
  std::map<std::string, size_t> did;
  size_t strokes = 0;
};
std::vector<DidRow> did_by_class(const std::vector<StrokeResult>& results);

// Of the strokes whose class has an intent: how many there are and how many did what was meant.
struct Accuracy {
  size_t intended = 0, as_meant = 0;
};
Accuracy accuracy_of(const DidRow& row, const Intent& intent);
// Over every class with an intent (the row "all" itself is not used).
Accuracy overall_accuracy(const std::vector<DidRow>& rows, const Intent& intent);

// The confusion table: a row per class with what was meant and the share that did it, a column for
// each thing any stroke did; the row "all" last with the share over every class with an intent.
std::string confusion_table(const std::vector<DidRow>& rows, const Intent& intent);

}  // namespace sim
