// brom-demo: a full-screen 320 x 200 scene drawn in software while "brom-boogie.xm" plays.
// Takes no arguments. Escape or closing the window stops the music, releases everything and ends
// it with status 0; a failure, at start-up or for want of memory later, ends it with status 1.
#include <cstdio>

#include "audio/scheduler.h"
#include "demo/art.h"
#include "demo/scene.h"
#include "display/display.h"
#include "module/file_access.h"
#include "module/song.h"

// The system's own back ends on Windows, the browser's on a web page, SDL2 elsewhere.
#if defined(__EMSCRIPTEN__)
#include "audio/device_webaudio.h"
#include "demo/web_loop.h"
#include "display/display_canvas.h"
namespace {
const OutputDevice* const soundDevice = &webAudioOutputDevice;
const char* (*const soundDeviceError)() = webAudioDeviceError;
const DisplayBackend* const displayBackend = &canvasDisplayBackend;
}  // namespace
#elif defined(_WIN32)
#include "audio/device_waveout.h"
#include "display/display_ddraw.h"
namespace {
const OutputDevice* const soundDevice = &waveOutOutputDevice;
const char* (*const soundDeviceError)() = waveOutDeviceError;
const DisplayBackend* const displayBackend = &ddrawDisplayBackend;
}  // namespace
#else
#include "audio/device_sdl.h"
#include "display/display_sdl.h"
namespace {
const OutputDevice* const soundDevice = &sdlOutputDevice;
const char* (*const soundDeviceError)() = sdlOutputDeviceError;
const DisplayBackend* const displayBackend = &sdlDisplayBackend;
}  // namespace
#endif

namespace {

// Releases what start-up set up, in this order: the display, the song with its playing (the
// mixing thread ends first), the sound device, the scene. Each may not have been set up.
int finish(Song* song, Scene* scene, int status) {
    displayClose();
    freeSong(song);
    audioClose();
    sceneFinish(scene);
    return status;
}

}  // namespace

int main() {
    setFileCallbacks(stdFileOpen, stdFileClose, stdFileRead, stdFileSeek, stdFileTell);
    setOutputDevice(soundDevice);
    if (!audioOpen(44100)) {
        puts("Error upon initialization.");
        const char* why = soundDeviceError();
        if (why[0]) fprintf(stderr, "brom-demo: %s\n", why);
        return 1;
    }
    Song* song = loadSong("brom-boogie.xm", nullptr);
    if (!song) {
        audioClose();
        puts("Error loading song");
        fprintf(stderr, "brom-demo: brom-boogie.xm: %s\n", songLoadError());
        return 1;
    }

    static Scene scene;  // both restore lists empty, buffer 0 drawn first
    displayUseBackend(displayBackend);
    if (!displayOpen("test", FRAME_WIDTH, FRAME_HEIGHT)) {
        fprintf(stderr, "brom-demo: %s\n", displayOpenError());
        return finish(song, &scene, 1);
    }
    if (!sceneStart(&scene, scrollText)) {
        fputs("brom-demo: not enough memory for the scene\n", stderr);
        return finish(song, &scene, 1);
    }
#if defined(__EMSCRIPTEN__)
    runOnPage(&scene, song);  // returns only when the song cannot start
    puts("Error upon initialization.");
    return finish(song, &scene, 1);
#else
    if (!playSong(song)) {
        puts("Error upon initialization.");
        fputs("brom-demo: the song cannot start playing (no memory or no mixing thread)\n", stderr);
        return finish(song, &scene, 1);
    }
    // Until the user asks to quit, with Escape or by closing the window.
    while (!displayQuitRequested()) {
        if (!scenePass(&scene)) {
            fputs("brom-demo: not enough memory for the next frame\n", stderr);
            return finish(song, &scene, 1);
        }
    }
    return finish(song, &scene, 0);
#endif
}
