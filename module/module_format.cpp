#include "module/module_format.h"

#include "module/it_loader.h"
#include "module/mod_loader.h"
#include "module/s3m_loader.h"
#include "module/xm_loader.h"

int loadModule(Song* song, ModuleStream* stream, LoadError* error) {
    if (stream && isXm(stream)) return loadXm(song, stream, error);
    if (stream && isS3m(stream)) return loadS3m(song, stream, error);
    if (stream && isIt(stream)) return loadIt(song, stream, error);
    if (stream && isMod(stream)) return loadMod(song, stream, error);
    if (error) *error = {LoadFailure::NOT_A_MODULE, "not a module Brom can read"};
    return 0;
}
