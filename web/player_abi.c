/* The player page's WebAssembly module (brom-player.wasm) is the public C library itself:
   web/player.js calls the brom_ functions of include/brom/brom.h directly and reads the records
   they fill from the module's memory by offset. This file holds the offsets it relies on; the
   build stops here if the records ever change. */
#include <stddef.h>

#include "brom/brom.h"

_Static_assert(offsetof(brom_position, time_ms) == 0, "player.js reads time_ms at 0");
_Static_assert(offsetof(brom_position, order) == 8, "player.js reads order at 8");
_Static_assert(offsetof(brom_position, pattern) == 12, "player.js reads pattern at 12");
_Static_assert(offsetof(brom_position, row) == 16, "player.js reads row at 16");
_Static_assert(sizeof(brom_position) <= 32, "player.js gives brom_position 32 bytes");
_Static_assert(offsetof(brom_song_info, channels) == 0, "player.js reads channels at 0");
_Static_assert(offsetof(brom_song_info, song_length) == 4, "player.js reads song_length at 4");
_Static_assert(sizeof(brom_song_info) <= 32, "player.js gives brom_song_info 32 bytes");
_Static_assert(offsetof(brom_subsong, duration_ms) == 8, "player.js reads duration_ms at 8");
_Static_assert(sizeof(brom_subsong) <= 64, "player.js gives brom_subsong 64 bytes");
_Static_assert(BROM_END_STOP == 0 && BROM_END_FADE == 2, "player.js passes the ends as numbers");
_Static_assert(BROM_FORMAT_MOD == 2 && BROM_INTERP_LINEAR == 1 && BROM_AMIGA_A1200 == 2,
               "player.js knows MOD, the interpolation modes and the Amiga models as numbers");
_Static_assert(sizeof(brom_error) == 4 && sizeof(const char*) == 4,
               "player.js reads the error code and the reason as 32-bit words");
_Static_assert(offsetof(brom_channel_state, note) == 0, "player.js reads note at 0");
_Static_assert(offsetof(brom_channel_state, instrument) == 4, "player.js reads instrument at 4");
_Static_assert(sizeof(brom_channel_state) <= 64, "player.js gives brom_channel_state 64 bytes");
