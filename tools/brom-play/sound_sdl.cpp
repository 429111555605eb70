// The player's sound through SDL2: an audio device whose callback pulls frames from the player.
// brom-play's only use of SDL, which is loaded here, when playing starts (sdl/sdl_library.h):
// the other modes never map it.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "sdl/sdl_library.h"
#include "tools/brom-play/sound.h"

namespace {

const SdlLibrary* sdl = nullptr;  // set by an open that found SDL
SDL_AudioDeviceID device = 0;
SoundFill fillFrames = nullptr;
void* fillUser = nullptr;
std::string openError;

void SDLCALL onAudio(void*, Uint8* stream, int bytes) {
    fillFrames(fillUser, reinterpret_cast<int16_t*>(stream), bytes / 4);
}

// Frames per callback: about 10 ms, a power of two as SDL wants.
Uint16 callbackFrames(int32_t rate) {
    Uint16 frames = 64;
    while (frames < rate / 100) frames = static_cast<Uint16>(frames * 2);
    return frames;
}

bool openDevice(int32_t rate) {
    sdl = sdlLibrary();
    if (!sdl) {
        openError = sdlLibraryError();
        return false;
    }
    if (sdl->SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        openError = sdl->SDL_GetError();
        return false;
    }
    SDL_AudioSpec wanted = {};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = callbackFrames(rate);
    wanted.callback = onAudio;
    SDL_AudioSpec obtained = {};
    // No changes allowed: SDL converts to what the hardware wants.
    device = sdl->SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        openError = sdl->SDL_GetError();
        sdl->SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

}  // namespace

bool soundOpen(int32_t rate, SoundFill fill, void* user) {
    fillFrames = fill;
    fillUser = user;
    // The sound libraries below SDL talk on stderr on their own when they find no device; the
    // failure is said in one line of ours instead.
    fflush(stderr);
    const int savedStderr = dup(STDERR_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (savedStderr >= 0 && devNull >= 0) dup2(devNull, STDERR_FILENO);
    const bool opened = openDevice(rate);
    if (savedStderr >= 0) {
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
    }
    if (devNull >= 0) close(devNull);
    return opened;
}

const char* soundError() { return openError.c_str(); }

void soundPause(bool paused) { sdl->SDL_PauseAudioDevice(device, paused ? 1 : 0); }
void soundLock() { sdl->SDL_LockAudioDevice(device); }
void soundUnlock() { sdl->SDL_UnlockAudioDevice(device); }

void soundClose() {
    if (device == 0) return;
    sdl->SDL_CloseAudioDevice(device);
    device = 0;
    sdl->SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
