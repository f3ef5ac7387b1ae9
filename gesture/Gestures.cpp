// The engine object: construction, copying, destruction and the reset between gestures.
#include "gesture/Gestures.h"

#include <string.h>

#include "gesture/Sound.h"
#include "gesture/Word.h"

Gestures* CurrentGestures = nullptr;

static const WCHAR kScrollStateEventName[] = TEXT("InGestureScrolling");

Gestures::Gestures() {
  Initialise();
}

Gestures::Gestures(HWND timerWnd) {
  SetTimer(timerWnd, kGestureTimer, kGestureTimerPeriodMs, nullptr);
  Initialise();
}

void Gestures::Initialise() {
  Panning = false;
  CodeAdded = false;
  GestureReady = false;
  FirstMovePending = false;
  SegmentOpen = false;
  GestureScrolling = FALSE;
  SegStartX = SegStartY = -1;
  CurX = CurY = -1;
  DownX = DownY = 0;
  CodeCount = 0;
  DownTick = 0;
  UpTick = 0;
  TravelSum = 0;
  ScrollStateEvent = nullptr;
  MsgBuffer.message = 0;
  MsgBuffer.wParam = 0;
  MsgBuffer.lParam = 0;
  MsgBroker = nullptr;
  SndInstance = nullptr;
  memset(GestureString, 0, sizeof(GestureString));

  PGRIDSIZE = 10;
  GRIDSIZE = 13;
  NOISESIZE = 8;
  Sound = 0;
  Bound1 = 0;
  Bound2 = 0;
  FilterValue = 40;
  FilterDistance = 60;
  Amp = 2;
  PanTime = 500;
  LenThres = 10;
  IgnoreCount = 10;
  LastUpCount = 300;
  Rotation = 0;

  GestureAwareTarget = false;
  ScrollLimit = 900;
  TargetWnd = nullptr;
  memset(TargetClass, 0, sizeof(TargetClass));
  TargetIsPIEHTML = false;
  for (cGesture& slot : CodeSlots) {
    slot.code = kFreeCode;
    slot.length = 0;
  }

  StoreWord(CurrentGestures, this);
  LoadSettings();
  WatchSettings();
}

Gestures::~Gestures() {
  CloseSettingsWatch();
  // Nothing may reach an engine that no longer exists through the process-wide pointer.
  if (LoadWord(CurrentGestures) == this) StoreWord(CurrentGestures, nullptr);
}

Gestures& Gestures::operator=(const Gestures& other) {
  // A plain record: members as they stand, handles shared rather than duplicated.
  if (this != &other) memcpy(static_cast<void*>(this), &other, sizeof(Gestures));
  return *this;
}

void Gestures::SetMsgBroker(HWND broker) {
  StoreWord(MsgBroker, broker);
}

void Gestures::SetSndInstance(HINSTANCE instance) {
  SndInstance = instance;
}

HINSTANCE Gestures::GetSndInstance() {
  return SndInstance;
}

bool Gestures::IsPanning() {
  return Panning;
}

bool Gestures::ResetData() {
  SoundStopRequest(*this);

  for (cGesture& slot : CodeSlots) {
    slot.code = kFreeCode;
    slot.length = 0;
  }
  CodeCount = 0;
  memset(GestureString, 0, sizeof(GestureString));

  if (GestureScrolling) SetScrollState(kScrollStateEnded);
  GestureScrolling = FALSE;

  HWND broker = LoadWord(MsgBroker);
  if (broker != nullptr) KillTimer(broker, kGestureTimer);
  return true;
}

// The scrolling state that the other process reads: the event is opened at first need, and
// without it only that process's view of the state is missing.
void Gestures::SetScrollState(DWORD data) {
  if (ScrollStateEvent == nullptr) {
    ScrollStateEvent = CreateEventW(nullptr, TRUE, FALSE, kScrollStateEventName);
  }
  if (ScrollStateEvent != nullptr) SetEventData(ScrollStateEvent, data);
}
