#include "audio/device_sdl.h"

#include <atomic>
#include <cstring>
#include <string>

#include "sdl/sdl_library.h"

namespace {

const SdlLibrary* lib = nullptr;  // set by the first open that finds SDL
SDL_AudioDeviceID device = 0;
std::string openError;

// Owned by the callback while the device runs; changed only under SDL's device lock.
const uint8_t* loopBuffer = nullptr;
uint32_t loopBytes = 0;
uint32_t cursor = 0;
bool playing = false;
// Read by the mixing thread without the lock.
std::atomic<uint32_t> bytesPlayed{0};

void SDLCALL fillAudio(void*, Uint8* stream, int length) {
    if (!playing || !loopBuffer || loopBytes == 0) {
        memset(stream, 0, static_cast<size_t>(length));
        return;
    }
    uint32_t wanted = static_cast<uint32_t>(length);
    uint32_t copied = 0;
    while (copied < wanted) {
        uint32_t piece = loopBytes - cursor;
        if (piece > wanted - copied) piece = wanted - copied;
        memcpy(stream + copied, loopBuffer + cursor, piece);
        copied += piece;
        cursor += piece;
        if (cursor == loopBytes) cursor = 0;
    }
    bytesPlayed.fetch_add(wanted, std::memory_order_release);
}

int sdlOpen(int32_t rate) {
    openError.clear();
    lib = sdlLibrary();
    if (!lib) {
        openError = sdlLibraryError();
        return 0;
    }
    if (lib->SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        openError = lib->SDL_GetError();
        return 0;
    }
    SDL_AudioSpec wanted = {};
    wanted.freq = rate;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = 2;
    wanted.samples = 1024;  // about 23 ms at 44100: small next to the 2 s buffer
    wanted.callback = fillAudio;
    SDL_AudioSpec obtained = {};
    // No changes allowed: SDL converts to whatever the hardware wants, so the byte count keeps
    // meaning 16-bit stereo frames at `rate`.
    device = lib->SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        openError = lib->SDL_GetError();
        lib->SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 0;
    }
    bytesPlayed.store(0);
    return 1;
}

void sdlPrepare(const int16_t* frames, uint32_t byteCount) {
    lib->SDL_LockAudioDevice(device);
    loopBuffer = reinterpret_cast<const uint8_t*>(frames);
    loopBytes = byteCount & ~3u;
    cursor = 0;
    lib->SDL_UnlockAudioDevice(device);
}

void sdlWrite() {
    lib->SDL_LockAudioDevice(device);
    cursor = 0;
    playing = true;
    lib->SDL_UnlockAudioDevice(device);
    lib->SDL_PauseAudioDevice(device, 0);
}

uint32_t sdlPosition() { return bytesPlayed.load(std::memory_order_acquire); }

void sdlUnprepare() {
    lib->SDL_LockAudioDevice(device);
    loopBuffer = nullptr;
    loopBytes = 0;
    lib->SDL_UnlockAudioDevice(device);
}

void sdlReset() {
    lib->SDL_PauseAudioDevice(device, 1);
    lib->SDL_LockAudioDevice(device);
    playing = false;
    cursor = 0;
    bytesPlayed.store(0);
    lib->SDL_UnlockAudioDevice(device);
}

void sdlClose() {
    if (device == 0) return;
    lib->SDL_CloseAudioDevice(device);
    device = 0;
    loopBuffer = nullptr;
    loopBytes = 0;
    playing = false;
    lib->SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

const OutputDevice sdlOutputDevice = {sdlOpen,      sdlPrepare, sdlWrite, sdlPosition,
                                      sdlUnprepare, sdlReset,   sdlClose};

const char* sdlOutputDeviceError() { return openError.c_str(); }
