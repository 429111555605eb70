/* play_sdl: plays a module through SDL2's audio device, the device's callback pulling frames
   from the brom library; a status line shows where the song is.
       play_sdl SONG.xm [SECONDS] */
#include <SDL.h>
#include <brom/brom.h>
#include <stdio.h>
#include <stdlib.h>

/* The callback runs on SDL's audio thread; the main thread only reads the position, under the
   device lock, as a module is used by one thread at a time. */
static void pull(void* userdata, Uint8* stream, int bytes) {
    brom_module* song = (brom_module*)userdata;
    size_t frames = (size_t)bytes / 4;
    size_t got = brom_render_s16(song, (int16_t*)stream, frames);
    SDL_memset(stream + got * 4, 0, (frames - got) * 4); /* silence after the end */
}

int main(int argc, char** argv) {
    brom_error error;
    brom_module* song;
    SDL_AudioSpec want, have;
    SDL_AudioDeviceID device;
    double seconds = argc > 2 ? atof(argv[2]) : -1.0;
    Uint32 started;
    int64_t duration;

    if (argc < 2) {
        fprintf(stderr, "usage: play_sdl SONG.xm [SECONDS]\n");
        return 2;
    }
    song = brom_load_file(argv[1], &error);
    if (!song) {
        fprintf(stderr, "play_sdl: %s: %s\n", argv[1], brom_error_string(error));
        return 1;
    }
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "play_sdl: %s\n", SDL_GetError());
        brom_free(song);
        return 1;
    }
    SDL_zero(want);
    want.freq = 48000;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = pull;
    want.userdata = song;
    device = SDL_OpenAudioDevice(NULL, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (!device || !brom_set_sample_rate(song, have.freq)) {
        fprintf(stderr, "play_sdl: no sound device: %s\n", SDL_GetError());
        SDL_Quit();
        brom_free(song);
        return 1;
    }
    duration = brom_duration_ms(song);
    printf("%s: \"%s\" (%s)\n", argv[1], brom_title(song), brom_tracker(song));
    SDL_PauseAudioDevice(device, 0);
    started = SDL_GetTicks();
    for (;;) {
        brom_position at;
        SDL_LockAudioDevice(device);
        brom_get_position(song, &at);
        SDL_UnlockAudioDevice(device);
        printf("\rorder %3d  row %3d  %d:%02d / %d:%02d ", at.order, at.row,
               (int)(at.time_ms / 60000), (int)(at.time_ms / 1000 % 60), (int)(duration / 60000),
               (int)(duration / 1000 % 60));
        fflush(stdout);
        if (at.time_ms >= duration) break;
        if (seconds >= 0 && SDL_GetTicks() - started >= seconds * 1000) break;
        SDL_Delay(100);
    }
    printf("\n");
    SDL_CloseAudioDevice(device);
    SDL_Quit();
    brom_free(song);
    return 0;
}
