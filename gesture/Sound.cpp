// Sound effects of momentum scrolling.
#include "gesture/Sound.h"

#include "gesture/Word.h"

SoundState Snd = {false, false, false, true, nullptr, nullptr, 0, 0};

void SoundStopRequest(const Gestures& engine) {
  if (engine.Panning || !LoadWord(engine.Sound)) return;
  StoreWord(Snd.sndStop, true);
  StoreWord(Snd.sndActive, false);
}

bool SoundThreadStarted() {
  return Snd.sndThread != nullptr;
}

void StartSoundThread() {
  // The ticking itself comes with the sound resources; until then there is no thread to start.
}

void SoundStartRequest(const Gestures& engine) {
  if (LoadWord(Snd.sndActive) || !LoadWord(engine.Sound)) return;
  StoreWord(Snd.sndActive, true);
  StoreWord(Snd.sndStop, false);
  StoreWord(Snd.noAttenuate, true);
  StoreWord(Snd.sndRestart, true);
  if (Snd.sndWakeEvent != nullptr) SetEvent(Snd.sndWakeEvent);
}

void SoundFadeRequest(const Gestures& engine) {
  if (!LoadWord(engine.Sound)) return;
  StoreWord(Snd.noAttenuate, false);
  StoreWord(Snd.sndStop, true);
}
