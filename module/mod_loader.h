// The MOD loader: reads an Amiga module (ProTracker and the trackers that share its format) from
// a ModuleStream into a zeroed Song.
//
// The format is told by the four letters at offset 1080 (M.K., FLT8, 6CHN, 12CH, ...), which also
// give the channel count and name the tracker in song->tracker ("ProTracker M.K."). A file
// without them is taken for a 15-sample Soundtracker module only when every header field and
// every pattern cell fits that format, so that no other file is mistaken for one.
//
// What the loader turns into the Song's forms:
// - each of the 31 (or 15) samples becomes a one-sample instrument with its name; lengths and
//   loops, stored in 16-bit words, become frames; a loop of one word is no loop and a loop
//   reaching past the data is clamped; the finetune nibble is signed (-8..7 eighths of a
//   semitone); the data is 8-bit signed; the sample leaves the channel's panning alone;
// - each cell's Amiga period becomes the note of the nearest period; effects keep their numbers
//   (the MOD effects are the XM effects 0..F and E0..EF), and the parameters ProTracker reads
//   differently are rewritten into XM cells that sound the same: it keeps no memory for 1xx, 2xx,
//   5xy, 6xy, Axy, E1x, E2x, EAx and EBx, so a zero parameter there slides nothing; Cxx stops
//   at 64; F00 does nothing (MOD players play on at the same speed);
// - Amiga periods, speed 6, tempo 125, channels panned hard left, right, right, left, ...,
//   and the song's format set to MOD, whose behaviours (behaviours.cpp) follow ProTracker.
//
// The restart byte counts when it names an order inside the song, else the song restarts at its
// start. Sizes are checked against the bytes the file holds before anything is allocated; a file
// that ends inside the patterns fails, one that ends inside the sample data keeps what is there.
#pragma once

#include "module/file_access.h"
#include "module/song.h"

// Whether the stream holds a MOD: a known signature at offset 1080, or a 15-sample Soundtracker
// module that passes every check.
bool isMod(ModuleStream* stream);
// 1 on success, 0 on failure (the song may be partly filled; the caller releases it). On failure
// *error says why (error may be null).
int loadMod(Song* song, ModuleStream* stream, LoadError* error);
