// The S3M loader: reads a Scream Tracker 3 module (and the S3M files other trackers save) from a
// ModuleStream into a zeroed Song.
//
// The format is told by "SCRM" at byte 44 and the file type 16 at byte 29. The header's tracker
// field names the program that saved the file (song->tracker: "Scream Tracker 3.21", "Impulse
// Tracker 2.14", "OpenMPT 1.27", "Schism Tracker", ...).
//
// What the loader turns into the Song's forms:
// - the 32 channel settings: the song has as many channels as reach the last one in use; a
//   disabled channel, an unused one and an AdLib channel read no cells (CHANNEL_DISABLED);
//   channels 0..7 of the setting sit left and 8..15 right (3 and C of sixteen steps), or the pan
//   table says where (when byte 53 is 252); a mono file puts every channel in the centre;
// - the order list keeps its markers: 254 becomes ORDER_SKIP and 255 ORDER_END; the song ends at
//   the first end marker; orders naming patterns the file lacks get empty ones, and a list of
//   nothing but markers plays one empty pattern;
// - each instrument becomes a one-sample instrument whose keyboard plays its sample on every
//   note; the C2SPD is the sample's middleCRate (0 is taken as 8363); 8 or 16 bits, signed or
//   unsigned as the header's format byte says, the two channels of a stereo sample mixed into
//   one; the data is found by its 24-bit paragraph pointer; AdLib instruments keep their names
//   and play nothing (Brom has no OPL2 emulator; a repair note says so);
// - the packed patterns: notes (octave and semitone; 254 cuts the note) into notes 1..120 with
//   C-4 as the middle C, volumes 0..64 (and the 128..192 pannings of ModPlug Tracker), command
//   letters into the engine's commands (s3m_effects.cpp);
// - the header flags and the tracker into song->fileBehaviours: Amiga period limits, fast volume
//   slides (the flag, or a file of Scream Tracker 3.00), mono; T0x and T1x slide the tempo only in
//   files of later trackers.
//
// Bad files: the header and its pointer tables must be whole and the file type right; counts
// beyond what a cell or an order can name are cut (255 instruments, 254 patterns); a pointer
// beyond the end leaves its instrument or pattern empty; a pattern cut short keeps the rows it
// holds; sample data cut short keeps the frames there. Each repair adds a line to repairNotes.
#pragma once

#include "module/file_access.h"
#include "module/song.h"

// Whether the stream holds an S3M module: "SCRM" at 44 and type 16 at 29.
bool isS3m(ModuleStream* stream);
// 1 on success, 0 on failure (the song may be partly filled; the caller releases it). On failure
// *error says why (error may be null).
int loadS3m(Song* song, ModuleStream* stream, LoadError* error);
