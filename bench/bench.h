// The benchmark's parts and the clock they share. Every figure is the best of several rounds,
// timed in CPU seconds of the measuring thread, so that other work on a shared machine disturbs
// it little.
#pragma once

#include <cstdint>
#include <vector>

// CPU seconds the calling thread has used so far (wall-clock seconds where no fine such clock
// exists, as on Windows).
double threadCpuSeconds();

// The generated 16-channel module the audio figures play.
std::vector<uint8_t> benchModule();

// Audio figures: the song through renderNextBlock, the song rendered to a WAV file by brom-play's
// own render code, and the voice mixer alone.
void benchSong(const std::vector<uint8_t>& module, double seconds);
void benchRender(const std::vector<uint8_t>& module, int rounds);
void benchMixer(double seconds);

// One demo frame: the scene's restore and drawing, and the conversion of the whole frame.
void benchFrame(int rounds, int framesPerRound);
