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
  bool sndQuit;  // the sound thread ends at its next wake, leaving its handles to the stopper
};

extern SoundState Snd;

// Opens the wake event "VexoriSnd" (once) and starts the sound thread. A failed start keeps the
// event, so the next momentum step tries again and its thread sees the start request already
// made; a thread whose wait fails forgets both handles as it closes them and ends, so the next
// momentum step starts a new one.
void StartSoundThread();
bool SoundThreadStarted();
// Ends the sound thread before its module goes, waiting at most `waitMs` for it; false when it
// did not end in time (its handles are then left to it). Closes the wake event too.
bool StopSoundThread(DWORD waitMs);
// Starts a ticking sequence unless one runs; with the sound off, stops one that runs.
void SoundStartRequest(const Gestures& engine);
// Asks for the fading sound when the ticking ends; with the sound off, a stop.
void SoundFadeRequest(const Gestures& engine);
// Asks the sound thread to end the ticking; nothing while panning. With the sound off no fading
// sound follows.
void SoundStopRequest(const Gestures& engine);
