// A build without a sound back end: playing says so; the other modes work as ever.
#include "tools/brom-play/sound.h"

bool soundOpen(int32_t, SoundFill, void*) { return false; }
const char* soundError() { return "this build has none (SDL2 was not found)"; }
void soundPause(bool) {}
void soundLock() {}
void soundUnlock() {}
void soundClose() {}
