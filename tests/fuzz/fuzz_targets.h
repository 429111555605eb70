// Fuzz targets: functions that take arbitrary bytes as a module. Whatever the bytes, a target must
// not crash, hang, leak or touch memory it does not own, and a song that loads must keep every rule
// the player and the mixer rely on; a broken rule aborts, so the fuzzer reports it as a finding.
// Every finding names the side at fault: "engine:" when the engine broke a rule, "harness:" when
// the harness could not do its own part (tools/run-fuzz places sanitizer reports the same way).
//
// libFuzzer drives them in the BROM_FUZZ build (fuzz_main.cpp, tools/run-fuzz); the reliability
// tests replay the seeds and the regressions through them in every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "module/song.h"

// Loads the bytes through the memory file callbacks, once reading the sample data from the file and
// once through a sampleDataHook, checks the loaded song and frees it.
int fuzzLoadModule(const uint8_t* data, size_t size);

// Loads the bytes and, when they load, plays them through the player and the mixer for three
// seconds of audio on the manual-clock device.
int fuzzPlayModule(const uint8_t* data, size_t size);

// The first rule a loaded song breaks, as a short text; null when it keeps them all.
const char* songRuleBroken(const Song* song);

// Opens the manual-clock device (and the memory files) at `rate` for playAndCheck, unless it is
// open at that rate already; false when it does not open.
bool openPlayDevice(int32_t rate);

// Plays a loaded song from its start, from clear voices, for `blocks` mix blocks of 1/50 s on the
// open manual-clock device, and checks after every block that the position stays inside the song,
// the voices within what the mixer takes and the player's ticks within their bound; the first
// broken rule, or null.
const char* playAndCheck(Song* song, int blocks);

// Reports a finding and aborts, so that the fuzzer keeps the input: "SIDE: WHAT: DETAIL".
[[noreturn]] inline void reportFinding(const char* side, const char* what, const char* detail) {
    fprintf(stderr, "%s: %s: %s\n", side, what, detail);
    abort();
}
