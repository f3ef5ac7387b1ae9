#include "gesture/CodeText.h"

static WCHAR* AppendNumber(WCHAR* at, int value) {
  WCHAR digits[12];
  int n = 0;
  // In unsigned arithmetic, so that the most negative length prints too.
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<WCHAR>(TEXT('0') + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *at++ = TEXT('-');
  while (n > 0) *at++ = digits[--n];
  return at;
}

void FormatCodes(const cGesture* slots, WCHAR* out) {
  WCHAR* at = out;
  for (int i = 0; i < kCodeSlots && slots[i].code != kFreeCode; ++i) {
    if (at != out) *at++ = TEXT(' ');
    *at++ = slots[i].code;
    at = AppendNumber(at, slots[i].length);
  }
  *at = 0;
}

const WCHAR* BehaviourName(UINT behaviour) {
  switch (behaviour) {
    case 100:
      return TEXT("scroll forward with momentum");
    case 101:
      return TEXT("scroll back with momentum");
    case 102:
      return TEXT("page navigation leftward");
    case 103:
      return TEXT("page navigation rightward");
    case 104:
      return TEXT("nothing");
    case 105:
      return TEXT("zoom level down");
    case 106:
      return TEXT("zoom level up");
    case 107:
      return TEXT("reload the settings");
    case 108:
      return TEXT("rotate between 270 and 0 degrees");
    case 110:
      return TEXT("rotate between 0 and 90 degrees");
    case 111:
      return TEXT("close the window in front");
    default:
      return TEXT("none");
  }
}
