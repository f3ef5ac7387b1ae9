// Page navigation and zoom in the web browser.
//
// For now these only report that they were asked; the browser's commands come later.
#include "gesture/DebugZones.h"
#include "gesture/Gestures.h"

bool Gestures::ZoomContent(HWND, bool lowerLevel) {
  DEBUGMSG(ZONE_VERBOSE, (TEXT("ZoomContent: %s\r\n"), lowerLevel ? TEXT("lower") : TEXT("raise")));
  return true;
}

bool Gestures::NavPage(HWND, bool leftward) {
  DEBUGMSG(ZONE_VERBOSE,
           (TEXT("NavPage: %s\r\n"), leftward ? TEXT("leftward") : TEXT("rightward")));
  return true;
}
