// brom-play: the command-line player. main.cpp reads the command line (options.h) and hands over
// to one mode, each in its own file. Every mode returns the process status: 0 done, 1 failure
// (one line on stderr per fault), 2 wrong usage.
#pragma once

#include "tools/brom-play/options.h"

// --info: what each file holds, as text or JSON.
int runInfo(const Options& options);
// --trace: the player's state tick by tick, read from the engine itself.
int runTrace(const Options& options);
// --render: WAV files.
int runRender(const Options& options);
// --stems: a WAV file per channel or instrument.
int runStems(const Options& options);
// Playing through the sound device, with keys and a status line on a terminal.
int runPlay(const Options& options);
