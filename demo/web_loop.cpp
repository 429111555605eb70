#include "demo/web_loop.h"

#include <emscripten.h>

#include "audio/scheduler.h"

namespace {

Song* pageSong = nullptr;

void passScene(void* scene) { scenePass(static_cast<Scene*>(scene)); }

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
