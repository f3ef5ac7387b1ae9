// Sound of the device: sndPlaySoundW plays a WAVE file or an image of one in memory.
#ifndef VEXORI_SDK_MMSYSTEM_H
#define VEXORI_SDK_MMSYSTEM_H

#include <windows.h>

#define SND_SYNC 0x0000u       // return when the sound has been played
#define SND_ASYNC 0x0001u      // return at once, while the sound plays
#define SND_NODEFAULT 0x0002u  // play no default sound when this one cannot be played
#define SND_MEMORY 0x0004u     // the name is the image of a WAVE file in memory
#define SND_LOOP 0x0008u
#define SND_NOSTOP 0x0010u

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI sndPlaySoundW(LPCWSTR lpszSoundName, UINT fuSound);
#define sndPlaySound sndPlaySoundW

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // VEXORI_SDK_MMSYSTEM_H
