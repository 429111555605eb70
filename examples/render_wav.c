/* render_wav: renders a module to a 16-bit stereo WAV file through the brom library.
       render_wav SONG.xm OUT.wav [RATE] */
#include <brom/brom.h>
#include <stdio.h>
#include <stdlib.h>

static void put16(unsigned char* at, unsigned value) {
    at[0] = (unsigned char)value;
    at[1] = (unsigned char)(value >> 8);
}

static void put32(unsigned char* at, unsigned long value) {
    put16(at, (unsigned)(value & 0xFFFF));
    put16(at + 2, (unsigned)(value >> 16));
}

static int writeHeader(FILE* out, unsigned long rate, unsigned long frames) {
    unsigned char header[44] = "RIFF....WAVEfmt ";
    put32(header + 4, 36 + frames * 4);
    put32(header + 16, 16);
    put16(header + 20, 1); /* PCM */
    put16(header + 22, 2); /* stereo */
    put32(header + 24, rate);
    put32(header + 28, rate * 4);
    put16(header + 32, 4);
    put16(header + 34, 16);
    header[36] = 'd', header[37] = 'a', header[38] = 't', header[39] = 'a';
    put32(header + 40, frames * 4);
    return fwrite(header, 1, sizeof header, out) == sizeof header;
}

int main(int argc, char** argv) {
    brom_error error;
    brom_module* song;
    FILE* out;
    int16_t frames[2 * 4096];
    unsigned long total = 0;
    size_t got;
    int rate = argc > 3 ? atoi(argv[3]) : 44100;

    if (argc < 3) {
        fprintf(stderr, "usage: render_wav SONG.xm OUT.wav [RATE]\n");
        return 2;
    }
    song = brom_load_file(argv[1], &error);
    if (!song) {
        fprintf(stderr, "render_wav: %s: %s\n", argv[1], brom_error_string(error));
        return 1;
    }
    if (!brom_set_sample_rate(song, rate)) {
        fprintf(stderr, "render_wav: the rate %d is not between 8000 and 192000\n", rate);
        brom_free(song);
        return 2;
    }
    out = fopen(argv[2], "wb");
    if (!out || !writeHeader(out, (unsigned long)rate, 0)) {
        fprintf(stderr, "render_wav: cannot write %s\n", argv[2]);
        brom_free(song);
        return 1;
    }
    /* The frames are little-endian, as WAV files want, on the machines this example targets. */
    while ((got = brom_render_s16(song, frames, 4096)) > 0) {
        fwrite(frames, 4, got, out);
        total += (unsigned long)got;
    }
    fseek(out, 0, SEEK_SET);
    writeHeader(out, (unsigned long)rate, total);
    fclose(out);
    printf("%s: \"%s\", %lu frames at %d Hz\n", argv[1], brom_title(song), total, rate);
    brom_free(song);
    return 0;
}
