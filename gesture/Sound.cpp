// Sound effects of momentum scrolling.
#include "gesture/Sound.h"

#include "gesture/Word.h"

SoundState Snd = {false, false, false, true, nullptr, nullptr, 0, 0};

void SoundStopRequest(const Gestures& engine) {
  if (engine.Panning || !LoadWord(engine.Sound)) return;
  StoreWord(Snd.sndStop, true);
  StoreWord(Snd.sndActive, false);
}
