// The benchmark's parts and the clock they share. Every figure is the best of several rounds,
// timed in CPU seconds of the measuring thread, so that other work on a shared machine disturbs
// it little.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// CPU seconds the calling thread has used so far (wall-clock seconds where no fine such clock
// exists, as on Windows).
double threadCpuSeconds();

// The generated 16-channel module the audio figures play.
std::vector<uint8_t> benchModule();

// Writes `module` to a new file in the temporary folder and returns its path; ends the program
// when it cannot.
std::string writeTempModule(const std::vector<uint8_t>& module);

// Audio figures: the song through renderNextBlock, the song rendered to a WAV file by brom-play's
// own render code, and the voice mixer alone.
void benchSong(const std::vector<uint8_t>& module, double seconds);
void benchRender(const std::vector<uint8_t>& module, int rounds);
void benchMixer(double seconds);

// Start-up: brom-play --info of the module as a process of its own, its CPU time as the system
// counts it (not on Windows).
void benchStartup(const std::vector<uint8_t>& module, int runs);

// One demo frame: the scene's restore and drawing, and the conversion of the whole frame.
void benchFrame(int rounds, int framesPerRound);
