#include "demo/web_loop.h"

#include <emscripten.h>

#include <cstdio>

#include "audio/scheduler.h"

namespace {

Song* pageSong = nullptr;

// Memory short for the next frame: the page keeps the last one and the music stops.
void passScene(void* scene) {
    if (scenePass(static_cast<Scene*>(scene))) return;
    emscripten_cancel_main_loop();
    fputs("brom-demo: not enough memory for the next frame\n", stderr);
    stopSong(pageSong);
    pageSong = nullptr;
}

}  // namespace

int runOnPage(Scene* scene, Song* song) {
    if (!playSongWithoutThread(song)) return 0;
    pageSong = song;
    // Frame rate 0: requestAnimationFrame. Simulating an endless loop leaves main here for good.
    emscripten_set_main_loop_arg(passScene, scene, 0, 1);
    return 1;
}

extern "C" EMSCRIPTEN_KEEPALIVE int bromDemoRunning() { return pageSong != nullptr; }
extern "C" EMSCRIPTEN_KEEPALIVE int bromDemoOrder() { return playingOrder(pageSong); }
extern "C" EMSCRIPTEN_KEEPALIVE int bromDemoRow() { return playingRow(pageSong); }
extern "C" EMSCRIPTEN_KEEPALIVE int bromDemoTimeMs() { return playingTimeMs(pageSong); }
