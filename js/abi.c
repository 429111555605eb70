/* The npm package's WebAssembly module (brom.wasm) is the public C library itself: js/core.js
   calls the brom_ functions of include/brom/brom.h and reads the records they fill from the
   module's memory by offset. These are the offsets it relies on; the build stops here if the
   records ever change. */
#include <stddef.h>

#include "brom/brom.h"

_Static_assert(sizeof(const char*) == 4 && sizeof(size_t) == 4 && sizeof(brom_error) == 4,
               "core.js reads pointers, sizes and error codes as 32-bit words");
_Static_assert(offsetof(brom_position, time_ms) == 0 && offsetof(brom_position, order) == 8 &&
                   offsetof(brom_position, bpm) == 24 && sizeof(brom_position) == 32,
               "core.js reads brom_position as an int64 and five ints from 8 on");
_Static_assert(sizeof(brom_song_info) == 8 * sizeof(int), "core.js reads eight ints");
_Static_assert(sizeof(brom_cell) == 5 * sizeof(int), "core.js reads five ints");
_Static_assert(sizeof(brom_instrument_info) == 10 * sizeof(int), "core.js reads ten ints");
_Static_assert(offsetof(brom_sample_info, loop) == 12 && offsetof(brom_sample_info, bits) == 32 &&
                   sizeof(brom_sample_info) == 36,
               "core.js reads three uint32 and six ints");
_Static_assert(offsetof(brom_subsong, duration_ms) == 8 && offsetof(brom_subsong, frames) == 16 &&
                   offsetof(brom_subsong, name) == 24 && sizeof(brom_subsong) == 32,
               "core.js reads brom_subsong as two ints, two int64 and a pointer");
_Static_assert(offsetof(brom_channel_state, frequency) == 24 &&
                   offsetof(brom_channel_state, voices) == 32 && sizeof(brom_channel_state) == 40,
               "core.js reads five ints, a double at 24 and an int at 32");
