// The demo on a web page (WebAssembly builds): a page may not block its one thread, so instead of
// main's endless loop the browser runs one scene pass per display refresh (requestAnimationFrame),
// and instead of a mixing thread the Web Audio device polls the scheduler.
//
//     runOnPage(&scene, song);      // once the display is open and the scene started; never
//     returns
//
// The page asks through exported functions whether the demo runs (bromDemoRunning: 1 once
// runOnPage has started the song) and what is audible (bromDemoOrder, bromDemoRow,
// bromDemoTimeMs), for its page API (web/demo.html).
#pragma once

#include "demo/scene.h"
#include "module/song.h"

// Starts the song and hands the frame loop to the browser. Returns only when the song cannot start
// (no memory), with 0; main then ends.
int runOnPage(Scene* scene, Song* song);
