// The gesture engine: one object per process, a plain record of fixed layout with no base class
// and no virtual operations. The same definition is built into the touch driver proxy and into
// the broker, because the broker reads the proxy's object in place through a handed-over address.
#pragma once

#include <windows.h>
#include <regext.h>

// One direction code with its length; also the layout of each of the engine's ten code slots.
struct cGesture {
  WCHAR code;  // U D L R, Q E Z C for the diagonals, X for a free slot
  int length;
};

// The one-entry buffer of AddMsg and FlushMsg.
struct GestureMsg {
  UINT message;
  UINT wParam;
  LONG lParam;
};

const int kCodeSlots = 10;
const WCHAR kFreeCode = TEXT('X');
const UINT kGestureTimer = 5;
const UINT kGestureTimerPeriodMs = 80;
const int kTargetClassChars = 50;

// Messages to the broker window. The hand-over's number is also that of the gesture notification
// to a gesture-aware window.
const UINT kHandOverMsg = WM_USER + 250;
const UINT kResetMsg = WM_USER + 252;
const UINT kScrollQueryMsg = WM_USER + 253;
const UINT kGestureNotifyMsg = WM_USER + 250;

// Event data of the named event "InGestureScrolling": the broker's scrolling state.
const DWORD kScrollStateRunning = 2;
const DWORD kScrollStateEnded = 1;

class Gestures {
 public:
  Gestures();
  explicit Gestures(HWND timerWnd);
  ~Gestures();
  Gestures& operator=(const Gestures& other);

  void SetMsgBroker(HWND broker);
  void SetSndInstance(HINSTANCE instance);
  HINSTANCE GetSndInstance();
  bool ResetData();

  // Stroke capture: pointer messages of one stroke become a pan or direction codes.
  bool ProcessMouseMsg(UINT message, UINT wParam, LONG lParam, HWND broker);
  bool MsgToBehavior(HWND target, UINT message, UINT wParam, LONG lParam, HWND broker);
  bool AddGesture(WCHAR code, int length);
  bool CheckIsPanning(int distance);
  bool CheckIsPanningT(int distance);
  bool IsPanning();
  bool AddMsg(UINT message, UINT wParam, LONG lParam);
  bool FlushMsg(HWND window);

  // Recognition and dispatch of a handed-over gesture, one timer tick at a time.
  bool ProcessTimer(HWND window, UINT message, UINT wParam, LONG lParam);
  bool ProcessGesture(HWND window, UINT behaviour, bool oneShot);

  // The hand-over from the proxy's engine to the broker's.
  int CopyGestureData(cGesture* records);
  bool DuplicateGestureData(Gestures* source);
  bool CleanGestureData();
  int IsInGestureScrolling();

  // Content scrolling.
  bool ScrollContent(HWND window, int bar, int distance);
  int GetScrollPos(HWND window, int bar, int* position);
  bool IsScrollableWnd(HWND window);

  // Browser, screen and window behaviours.
  bool ZoomContent(HWND window, bool lowerLevel);
  bool NavPage(HWND window, bool leftward);
  bool RotateScreen(int angle);
  int IsLandscape();
  bool CloseWnd();
  bool Quit(HWND window);
  bool Quit();

  // State of the current stroke and gesture.
  bool Panning;
  bool CodeAdded;
  bool GestureReady;
  bool FirstMovePending;
  bool SegmentOpen;
  BOOL GestureScrolling;
  int SegStartX, SegStartY;
  int CurX, CurY;
  int DownX, DownY;
  int CodeCount;
  DWORD DownTick;
  DWORD UpTick;
  int TravelSum;
  HANDLE ScrollStateEvent;
  GestureMsg MsgBuffer;
  HWND MsgBroker;
  HINSTANCE SndInstance;
  WCHAR GestureString[kCodeSlots];

  // Settings, each named after its registry value.
  int PGRIDSIZE;
  int GRIDSIZE;
  int NOISESIZE;
  int Sound;
  int Bound1;
  int Bound2;
  int FilterValue;
  int FilterDistance;
  int Amp;
  int PanTime;
  int LenThres;
  int IgnoreCount;
  int LastUpCount;
  int Rotation;

  bool GestureAwareTarget;
  int ScrollLimit;
  HWND TargetWnd;
  WCHAR TargetClass[kTargetClassChars];
  bool TargetIsPIEHTML;
  cGesture CodeSlots[kCodeSlots];

 protected:
  int GetGesLength();
  int GetMsgLength();
  DWORD SetRegistryValue(const WCHAR* subkey, const WCHAR* valueName, DWORD value);

 private:
  void Initialise();
  void ReadTargetClass(HWND target);
  void SetScrollState(DWORD data);
  bool ScrollBrowserView(HWND window, int bar, int distance);
  bool ScrollWithLines(HWND window, int bar, int distance);
};

// The most recently constructed engine of this process; the settings loader writes into it.
extern Gestures* CurrentGestures;

bool LoadSettings();
bool WatchSettings();
// Closes every registration that WatchSettings made.
void CloseSettingsWatch();
void OnSettingsChanged(HREGNOTIFY notify, DWORD userData, const PBYTE data, const UINT size);

// The hand-over means, one source per platform (HandOverByAddress.cpp, HandOverBySection.cpp).
// The one engine whose hand-overs the broker carries out: the touch driver proxy of the window
// system publishes its engine when the window system enables it, publishes it again at a stroke
// that finds it no longer named, and withdraws it when it goes.
// Creates where the engine is published (and so the settings key).
bool CreateHandOverKey();
bool PublishHandOverSource(Gestures* engine);
// True when the engine is the published one, publishing it first when it is not.
bool KeepHandOverSource(Gestures* engine);
// Withdraws the published engine only while it is this one.
void WithdrawHandOverSource(Gestures* engine);
bool IsHandOverSource(const void* address);
// What the hand-over message carries in wParam for the gesture this process's engine
// (CurrentGestures) has just captured, at its button-up.
WPARAM HandOverWord();
// The broker's side: the source to copy a handed-over gesture from, named by the hand-over
// message's wParam; null, with nothing read, when it names no gesture of the published engine.
Gestures* HandedOverSource(WPARAM wParam);
