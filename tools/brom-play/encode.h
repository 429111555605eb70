// --render to FLAC, Opus and MP3 besides WAV, chosen by --format or the output's extension.
// The encoders are the system's own libraries (Debian's libflac12, libopusenc0, libmp3lame0),
// loaded with dlopen when a render asks for one: brom-play links none of them, so starting it,
// --info and WAV renders map nothing more, and a missing library is one line naming the package.
//
//     if (Encoding e = outputEncoding(options, out); e != Encoding::WAV)
//         return renderEncoded(e, out, song, options);
#pragma once

#include <cstdint>

#include "tools/brom-play/options.h"

enum class Encoding : uint8_t { WAV, FLAC, OPUS, MP3 };

// "wav", "flac", "opus" or "mp3", in any case; false for anything else.
bool encodingByName(const char* name, Encoding* encoding);
// --format when given, else the extension of `outPath` (WAV when it names no other).
Encoding outputEncoding(const Options& options, const char* outPath);
// ".wav", ".flac", ".opus", ".mp3".
const char* encodingExtension(Encoding encoding);

// Renders `songPath` into `outPath` ("-": standard output) in an encoded format; the process
// status, with the reason for a failure on stderr. --quality: FLAC's compression level 0..8
// (default 5); Opus and MP3 the average bit rate in kbit/s (default 160 and 192).
int renderEncoded(Encoding encoding, const char* outPath, const char* songPath,
                  const Options& options);
