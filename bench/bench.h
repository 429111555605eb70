// The benchmark's parts and the clock they share. Every figure is the best of several rounds,
// timed in CPU seconds of the measuring thread, so that other work on a shared machine disturbs
// it little.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/mixer_taps.h"

// CPU seconds the calling thread has used so far (wall-clock seconds where no fine such clock
// exists, as on Windows).
double threadCpuSeconds();
// Seconds of the wall clock, from some fixed moment.
double wallSeconds();

// The generated 16-channel module the audio figures play: its four patterns once (30.7 s), or
// over `orders` order positions.
std::vector<uint8_t> benchModule(int orders = 4);
// A generated module shaped like real ones, of `orders` 64-row order positions (7 to 8 s each):
// drums, bass, pads and a lead on short looped samples, a long one-shot phrase, rests, key-offs,
// and channels silent for whole patterns.
std::vector<uint8_t> shapedModule(int channels, int orders, uint32_t seed);

// Writes the generated set the whole-process figures render, shaped-4.xm to shaped-32.xm (the
// channel count), 16 order positions each, into `folder`; their paths.
std::vector<std::string> writeShapedSet(const std::string& folder);

// Writes a file, or ends the program when it cannot.
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Writes `module` to a new file in the temporary folder and returns its path; ends the program
// when it cannot.
std::string writeTempModule(const std::vector<uint8_t>& module);

// Audio figures: the song through renderNextBlock, the song rendered to a WAV file by brom-play's
// own render code, and the voice mixer alone.
void benchSong(const std::vector<uint8_t>& module, double seconds);
void benchRender(const std::vector<uint8_t>& module, int rounds);
// The voice mixer alone with the interpolation `mode`, on the path in use.
void benchMixer(double seconds, Interpolation mode = Interpolation::LINEAR);
// The resampling quality of each interpolation (and of openmpt123's filters where it is
// installed): images of a tone sliding past the Nyquist frequency, the tone's level at 8-11 kHz.
void benchQuality();

// The library (where it is built as a shared library): the module rendered on one thread and on
// as many as there are cores, and seeking to the end of a five-minute module.
void benchLibraryRender(const std::vector<uint8_t>& module, int rounds);
void benchSeek(const std::vector<uint8_t>& longModule, int rounds);
// Rendering with stems by channel and by instrument against the mix alone.
void benchStems(const std::vector<uint8_t>& module, int rounds);

// Whole processes: brom-play --render of generated modules of 4 to 32 channels, one process per
// file, and all of them by one process where brom-play can.
void benchFiles(int rounds);

// Start-up: brom-play --info of the module as a process of its own, its CPU time as the system
// counts it (not on Windows).
void benchStartup(const std::vector<uint8_t>& module, int runs);

// One demo frame: the scene's restore and drawing, and the conversion of the whole frame.
void benchFrame(int rounds, int framesPerRound);
