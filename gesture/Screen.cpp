// Behaviours that act on the device: screen rotation and closing the window in front.
//
// Rotation and close only report that they were asked for now; they come later.
#include "gesture/DebugZones.h"
#include "gesture/Gestures.h"

bool Gestures::RotateScreen(int angle) {
  DEBUGMSG(ZONE_VERBOSE, (TEXT("RotateScreen: %d\r\n"), angle));
  return false;
}

bool Gestures::CloseWnd() {
  DEBUGMSG(ZONE_VERBOSE, (TEXT("CloseWnd\r\n")));
  return false;
}

bool Gestures::Quit() {
  return true;
}
