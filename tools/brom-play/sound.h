// The sound device the player plays through. The device asks for frames on a thread of its own
// by calling `fill`, which must fill every frame it is given (silence once the song is over);
// the lock keeps that call out while the player changes what it renders, since a module is used
// by one thread at a time. The device's own buffer is small (about 10 ms on Linux), so that a key
// is heard at once. One device per process; one file per back end: sound_sdl.cpp (SDL2),
// sound_waveout.cpp (Windows), sound_none.cpp (a build without either).
//
//     if (!soundOpen(44100, fill, &player)) fprintf(stderr, "%s\n", soundError());
//     soundPause(false);                   // opened paused
//     soundLock(); ... brom_seek_ms(module, t) ...; soundUnlock();
//     soundClose();
#pragma once

#include <cstdint>

using SoundFill = void (*)(void* user, int16_t* stereo, int frames);

bool soundOpen(int32_t rate, SoundFill fill, void* user);
// Why soundOpen failed.
const char* soundError();
void soundPause(bool paused);
void soundLock();
void soundUnlock();
void soundClose();
