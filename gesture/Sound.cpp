// Sound effects of momentum scrolling: the requests the engine raises on the thread that drives
// it, and the sound thread that plays the ticks and the fading sound from the broker's module.
#include "gesture/Sound.h"

#include <mmsystem.h>

#include "gesture/DebugZones.h"
#include "gesture/Word.h"

SoundState Snd = {false, false, false, true, nullptr, nullptr, 0, 0, false};

namespace {

const WCHAR kWakeEventName[] = TEXT("VexoriSnd");
const WCHAR kTickSound[] = TEXT("VexoriSnd");
const WCHAR kFadingSound[] = TEXT("VexoriSndAttenuate");
const WCHAR kSoundType[] = TEXT("WAVE");
const int kLastTickStep = 15;
const DWORD kPausePerStepMs = 20;

// Plays a "WAVE" resource of a module synchronously; false when it is missing or cannot be
// loaded, else what sndPlaySoundW answers (false for data it cannot play).
BOOL PlaySoundResource(HINSTANCE module, LPCWSTR name) {
  if (module == nullptr) return FALSE;
  HRSRC found = FindResourceW(module, name, kSoundType);
  if (found == nullptr) return FALSE;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return FALSE;
  LPVOID data = LockResource(loaded);
  if (data == nullptr || SizeofResource(module, found) == 0) return FALSE;
  return sndPlaySoundW(static_cast<LPCWSTR>(data), SND_MEMORY | SND_NODEFAULT);
}

HINSTANCE SoundModule() {
  Gestures* engine = LoadWord(CurrentGestures);
  return engine != nullptr ? engine->GetSndInstance() : nullptr;
}

// One cycle of ticking, from the first step, then the fading sound if one was asked for.
void TickCycle() {
  StoreWord(Snd.tickStep, 0);
  if (!LoadWord(Snd.sndStop)) {
    for (;;) {
      int step = LoadWord(Snd.tickStep);
      if (LoadWord(Snd.sndRestart)) {
        StoreWord(Snd.sndRestart, false);
        step = 1;
      } else if (step < kLastTickStep) {
        ++step;
      }
      StoreWord(Snd.tickStep, step);
      PlaySoundResource(SoundModule(), kTickSound);
      Sleep(kPausePerStepMs * static_cast<DWORD>(step));
      if (LoadWord(Snd.sndStop)) break;
    }
  }
  if (!LoadWord(Snd.noAttenuate)) PlaySoundResource(SoundModule(), kFadingSound);
}

DWORD WINAPI SoundThread(LPVOID) {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
  HANDLE wake = LoadWord(Snd.sndWakeEvent);
  while (wake != nullptr && WaitForSingleObject(wake, INFINITE) == WAIT_OBJECT_0) {
    if (LoadWord(Snd.sndQuit)) return 0;  // the stopper waits for this and closes the handles
    TickCycle();
  }

  // The handles are forgotten before they are closed, so no request signals a closed event and
  // the next momentum step starts the thread afresh.
  HANDLE self = LoadWord(Snd.sndThread);
  StoreWord(Snd.sndWakeEvent, nullptr);
  StoreWord(Snd.sndThread, nullptr);
  StoreWord(Snd.sndThreadId, 0);
  if (wake != nullptr) CloseHandle(wake);
  if (self != nullptr) CloseHandle(self);
  return 0;
}

}  // namespace

// Whatever "Sound" says, a running sequence ends: a user who switches the sound off mid-momentum
// must not hear it go on. With the sound off it ends without the fading sound.
void SoundStopRequest(const Gestures& engine) {
  if (engine.Panning) return;
  if (!LoadWord(engine.Sound)) StoreWord(Snd.noAttenuate, true);
  StoreWord(Snd.sndStop, true);
  StoreWord(Snd.sndActive, false);
}

bool SoundThreadStarted() {
  return LoadWord(Snd.sndThread) != nullptr;
}

void StartSoundThread() {
  // The event of a failed start is kept, and so is the start request signalled on it: the thread
  // that the next momentum step starts begins ticking at once. Kept, it is also opened only once.
  HANDLE wake = LoadWord(Snd.sndWakeEvent);
  if (wake == nullptr) {
    wake = CreateEventW(nullptr, FALSE, FALSE, kWakeEventName);
    StoreWord(Snd.sndWakeEvent, wake);
  }
  // A thread without the event would end at once, and every momentum step would start another;
  // the next start tries the event again.
  if (wake == nullptr) {
    DEBUGMSG(ZONE_ERROR, (TEXT("%s: Cannot create sound event!\r\n"), TEXT("ZuvorurUve")));
    return;
  }
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, SoundThread, nullptr, 0, &id);
  if (thread == nullptr) {
    DEBUGMSG(ZONE_ERROR, (TEXT("%s: Cannot create sound thread!\r\n"), TEXT("ZuvorurUve")));
    return;
  }
  StoreWord(Snd.sndThreadId, id);
  StoreWord(Snd.sndThread, thread);
}

bool StopSoundThread(DWORD waitMs) {
  HANDLE thread = LoadWord(Snd.sndThread);
  HANDLE wake = LoadWord(Snd.sndWakeEvent);
  if (thread != nullptr) {
    StoreWord(Snd.sndQuit, true);
    StoreWord(Snd.noAttenuate, true);
    StoreWord(Snd.sndStop, true);
    SetEvent(wake);
    if (WaitForSingleObject(thread, waitMs) != WAIT_OBJECT_0) return false;
    CloseHandle(thread);
  }
  StoreWord(Snd.sndThread, nullptr);
  StoreWord(Snd.sndThreadId, 0);
  StoreWord(Snd.sndWakeEvent, nullptr);
  StoreWord(Snd.sndActive, false);
  StoreWord(Snd.sndQuit, false);
  if (wake != nullptr) CloseHandle(wake);
  return true;
}

void SoundStartRequest(const Gestures& engine) {
  // Switched off mid-momentum: the next step ends the ticking rather than the last few.
  if (!LoadWord(engine.Sound)) {
    if (LoadWord(Snd.sndActive)) SoundStopRequest(engine);
    return;
  }
  if (LoadWord(Snd.sndActive)) return;
  StoreWord(Snd.sndActive, true);
  StoreWord(Snd.sndStop, false);
  StoreWord(Snd.noAttenuate, true);
  StoreWord(Snd.sndRestart, true);
  HANDLE wake = LoadWord(Snd.sndWakeEvent);
  if (wake != nullptr) SetEvent(wake);
}

// With the sound off a fade request ends the ticking like a stop, without the fading sound.
void SoundFadeRequest(const Gestures& engine) {
  if (!LoadWord(engine.Sound)) {
    SoundStopRequest(engine);
    return;
  }
  StoreWord(Snd.noAttenuate, false);
  StoreWord(Snd.sndStop, true);
}
