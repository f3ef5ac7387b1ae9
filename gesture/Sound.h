// Sound effects of momentum scrolling: the requests that the engine raises, read by the sound
// thread. Module-wide state, one instance per loaded module.
#pragma once

#include "gesture/Gestures.h"

struct SoundState {
  bool sndActive;    // a ticking sequence has been started and not yet stopped
  bool sndStop;      // end the ticking after the current pause
  bool sndRestart;   // start again from the shortest pause
  bool noAttenuate;  // when the ticking ends, do not play the fading sound
  HANDLE sndWakeEvent;
  HANDLE sndThread;
  DWORD sndThreadId;
  int tickStep;
};

extern SoundState Snd;

// Opens the wake event "VexoriSnd" and starts the sound thread. A failed start keeps neither
// handle, so the next momentum step tries again; a thread whose wait fails forgets both handles
// as it closes them and ends, so the next momentum step starts a new one.
void StartSoundThread();
bool SoundThreadStarted();
// Starts a ticking sequence unless one runs; nothing with the sound off.
void SoundStartRequest(const Gestures& engine);
// Asks for the fading sound when the ticking ends; nothing with the sound off.
void SoundFadeRequest(const Gestures& engine);
// Asks the sound thread to end the ticking; nothing while panning or with the sound off.
void SoundStopRequest(const Gestures& engine);
