// The Impulse Tracker loader: reads an IT module ("IMPM" at the start) into a zeroed Song.
//
// The header's flags become the song's: instrument or sample mode, linear or Amiga slides, and
// the old-effects and linked-Gxx choices as file behaviours; the song message, the embedded MIDI
// macros, the pan separation and mix volume are kept. Instruments load from either layout (before
// format 2.00: one volume envelope of node pairs and a duplicate-note switch; after: NNA,
// duplicate checks, three envelopes, pitch-pan, random variation, filter). In sample mode each
// sample gets a plain instrument of its own, keyboard straight through, so that the player sees
// one shape. Samples load plain or compressed (2.14, 2.15), 8 or 16 bits, signed or unsigned,
// delta or not, mono or stereo (stereo is mixed to one channel and marked); patterns of any row
// count unpack into cells of the engine's commands; the channel count is the highest channel the
// patterns use.
//
// Bad files: a header cut short fails; anything a damaged offset or length names beyond the file
// is absent or cut where the file ends, with a repair note; counts are kept within what the cells
// and tables can name; patterns that the file does not back with data draw on a budget of empty
// cells, and decoded sample frames on a budget tied to the file's size, so that a small file
// cannot demand gigabytes.
#pragma once

#include "module/file_access.h"
#include "module/song.h"

bool isIt(ModuleStream* stream);
// 1 on success, 0 on failure (the song may be partly filled; the caller releases it); *error says
// why (error may be null).
int loadIt(Song* song, ModuleStream* stream, LoadError* error);
