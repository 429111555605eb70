// The XM loader: reads an extended module from a ModuleStream into a zeroed Song, converting
// everything into the forms the player and mixer want: patterns unpacked into 5-byte cells,
// key-off stored as NOTE_KEY_OFF, lengths and loops in frames, sample data as signed 16-bit frames
// with guard frames after the end, delta coding removed.
//
// Versions before 1.04 (1.02 and 1.03: instrument headers first, then the patterns, then all
// sample data; 1.02 with shorter pattern headers) load into the same Song as 1.04. Values a hostile
// or damaged file could use to reach outside a table are brought into range here (channel count,
// song length, restart position, envelope points, values and indices, sample loops, tempo). A
// damaged file loads what it holds: a file cut short keeps the patterns, cells, instruments and
// sample frames that are whole (a cut cell keeps its fields read), the rest is absent; the packed
// size bounds a pattern's data; header lengths and sizes that cannot be right are taken as the
// usual ones. Each repair adds a line to the song's repairNotes. A file cut inside its header, or
// with a channel count outside 1..32 or an instrument of more than 16 samples, fails to load.
#pragma once

#include "module/file_access.h"
#include "module/song.h"

// Whether the stream starts with the XM signature.
bool isXm(ModuleStream* stream);
// 1 on success, 0 on failure (the song may be partly filled; the caller releases it). On failure
// *error says why (error may be null).
int loadXm(Song* song, ModuleStream* stream, LoadError* error);
