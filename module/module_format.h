// Telling a module's format by its bytes, never by its name, and loading it with the loader of
// that format: the XM signature first ("Extended Module: " at the start), then S3M's ("SCRM" at 44
// with type 16), Impulse Tracker's ("IMPM" at the start), then the MOD ones (four letters at
// offset 1080, or a 15-sample Soundtracker module that passes every check).
//
//     LoadError error;
//     if (!loadModule(song, stream, &error)) puts(error.reason);
#pragma once

#include "module/file_access.h"
#include "module/song.h"

// 1 on success, 0 on failure with *error saying why (error may be null); anything that is not an
// XM, S3M, IT or MOD fails as NOT_A_MODULE, "not a module Brom can read".
int loadModule(Song* song, ModuleStream* stream, LoadError* error);
