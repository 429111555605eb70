/* Built with every build: the public header compiles as strict C99 with every warning. */
#include <brom/brom.h>

int brom_header_compiles_as_c99(void) { return BROM_VERSION_MAJOR + (int)sizeof(brom_song_info); }
