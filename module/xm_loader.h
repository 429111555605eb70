// The XM loader: reads an extended module from a ModuleStream into a zeroed Song, converting
// everything into the forms the player and mixer want: patterns unpacked into 5-byte cells,
// key-off stored as NOTE_KEY_OFF, lengths and loops in frames, sample data as signed 16-bit frames
// with guard frames after the end, delta coding removed.
//
// Values a hostile or damaged file could use to reach outside a table are brought into range here
// (channel count, song length, restart position, envelope points, values and indices, sample loops,
// tempo), and a file that ends before its sample data fails to load.
#pragma once

#include "module/file_access.h"
#include "module/song.h"

// Whether the stream starts with the XM signature.
bool isXm(ModuleStream* stream);
// 1 on success, 0 on failure (the song may be partly filled; the caller releases it). On failure
// *error says why (error may be null).
int loadXm(Song* song, ModuleStream* stream, LoadError* error);
