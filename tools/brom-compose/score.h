// The score: a small text language in which the song is written, read into the patterns and header
// of an XmSong. The language is described with examples in assets/song/README.md; in short:
//
//     channel bass bass                    # channels in order, with their usual instrument
//     phrase walk | C2 E2 G2 A2 Bb2 A2 G2 E2 |
//     pattern chorus-a
//       bass   | walk | walk(F) | % | walk(G) |
//       melody | G4 Bb4 C5 . Eb5 E5 . C5 | . |
//     order intro chorus-a
//
// Every bar of a lane is one line of tokens between bars "|": the number of tokens chooses the grid
// (8 tokens are shuffled eighths, 12 triplets, 16 sixteenths, ...). A row is a sixteenth note of
// six ticks; what falls between rows becomes a note delay.
//
//     Score score;
//     std::string error;
//     if (!readScore("assets/song/song.txt", &score, &error)) puts(error.c_str());
#pragma once

#include <string>
#include <vector>

#include "module/xm_writer.h"

struct Score {
    XmSong song;  // header, order list and patterns; the instruments are not built here
    std::vector<std::string> instrumentNames;  // instrument 1, 2, ... in the song
};

// Reads the score in `text`; `directory` is where its includes are looked up. False with a message
// naming the file and line when the score is wrong.
bool parseScore(const std::string& text, const std::string& directory, Score* score,
                std::string* error);
// Reads the score file at `path`.
bool readScore(const std::string& path, Score* score, std::string* error);
