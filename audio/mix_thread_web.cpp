// A web page's WebAssembly has one thread (shared memory needs server headers an ordinary site
// does not send), so there is no mixing thread to start: playSong fails cleanly, and a page plays
// with playSongWithoutThread while its sound device polls the scheduler from the audio callback
// (audio/device_webaudio.h).
#include "audio/mix_thread.h"

bool mixThreadStart(MixThread*, void (*)(void*), void*) { return false; }

void mixThreadJoin(MixThread*) {}

// Nothing calls it without a thread; a page must never block its only thread anyway.
void mixThreadSleep(int32_t) {}
