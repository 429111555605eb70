// Playing through the sound device: the song from its start, with order, row and time of what is
// audible on one status line, until the song first comes back to a row it has played, q or Ctrl-C.
#ifdef _WIN32
#include <windows.h>
#include <conio.h>
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>

#include "audio/scheduler.h"
#include "tools/brom-play/brom_play.h"

#if defined(_WIN32)
#include "audio/device_waveout.h"
#define BROM_PLAY_HAS_DEVICE 1
#elif BROM_PLAY_HAS_SDL
#include "audio/device_sdl.h"
#define BROM_PLAY_HAS_DEVICE 1
#endif

namespace {

constexpr int32_t PLAY_RATE = 44100;

volatile sig_atomic_t interrupted = 0;
void onInterrupt(int) { interrupted = 1; }

#ifdef _WIN32
// The console hands over single keys as they come; Ctrl-C still interrupts.
struct Keyboard {
    bool active = false;
};

void keyboardOn(Keyboard& keyboard) { keyboard.active = _isatty(_fileno(stdin)) != 0; }
void keyboardOff(Keyboard& keyboard) { keyboard.active = false; }

// Waits up to `milliseconds` for a key; true when it was q.
bool waitForQuitKey(const Keyboard& keyboard, int milliseconds) {
    constexpr int STEP = 10;
    for (int waited = 0; waited < milliseconds; waited += STEP) {
        while (keyboard.active && _kbhit()) {
            int key = _getch();
            if (key == 'q' || key == 'Q') return true;
        }
        Sleep(STEP);
    }
    return false;
}

bool isTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

// The system's sound output keeps quiet when no device is found.
int openQuietly(int32_t rate) { return audioOpen(rate); }
#else
// Single keys without Enter and without echo, while Ctrl-C still interrupts.
struct Keyboard {
    bool active = false;
    termios saved = {};
};

void keyboardOn(Keyboard& keyboard) {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &keyboard.saved) != 0) return;
    termios raw = keyboard.saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    keyboard.active = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

void keyboardOff(Keyboard& keyboard) {
    if (keyboard.active) tcsetattr(STDIN_FILENO, TCSANOW, &keyboard.saved);
    keyboard.active = false;
}

// Waits up to `milliseconds` for a key; true when it was q.
bool waitForQuitKey(const Keyboard& keyboard, int milliseconds) {
    if (!keyboard.active) {
        poll(nullptr, 0, milliseconds);
        return false;
    }
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, milliseconds) <= 0) return false;
    char key = 0;
    while (read(STDIN_FILENO, &key, 1) == 1) {
        if (key == 'q' || key == 'Q') return true;
    }
    return false;
}

bool isTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }
#endif

void showStatus(const Song* song) {
    int order = playingOrder(song);
    int timeMs = playingTimeMs(song);
    int pattern = order < song->songLength ? song->orderTable[order] : 0;
    printf("\rorder %3d/%-3d  pattern %3d  row %3d  %2d:%02d.%d ", order, song->songLength, pattern,
           playingRow(song), timeMs / 60000, timeMs / 1000 % 60, timeMs / 100 % 10);
    fflush(stdout);
}

#ifndef _WIN32
// Opens the sound device with stderr silenced: the sound libraries below SDL talk there on their
// own when no device is found, and the failure is reported in one line of ours instead.
int openQuietly(int32_t rate) {
    fflush(stderr);
    int savedStderr = dup(STDERR_FILENO);
    int devNull = open("/dev/null", O_WRONLY);
    if (savedStderr >= 0 && devNull >= 0) dup2(devNull, STDERR_FILENO);
    int opened = audioOpen(rate);
    if (savedStderr >= 0) {
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
    }
    if (devNull >= 0) close(devNull);
    return opened;
}
#endif

int playUntilDone(Song* song) {
    if (!playSong(song)) {
        fprintf(stderr, "brom-play: cannot start playback (out of memory or threads)\n");
        return 1;
    }
    Keyboard keyboard;
    keyboardOn(keyboard);
    signal(SIGINT, onInterrupt);
    signal(SIGTERM, onInterrupt);
    bool terminal = isTerminal(stdout);
    while (!interrupted) {
        if (terminal) showStatus(song);
        // The song time at which the song first came round, -1 until the mixer got there.
        int32_t repeatAt = defaultAudioEngine()->repeatTimeMs.load(std::memory_order_acquire);
        if (repeatAt >= 0 && playingTimeMs(song) >= repeatAt) break;
        if (waitForQuitKey(keyboard, 50)) break;
    }
    keyboardOff(keyboard);
    showStatus(song);  // where it stopped
    stopSong(song);
    printf("\n");
    return 0;
}

}  // namespace

int runPlay(const char* path) {
#if BROM_PLAY_HAS_DEVICE
    Song* song = loadSongOrComplain(path);
    if (!song) return 1;
#ifdef _WIN32
    setOutputDevice(&waveOutOutputDevice);
    const char* (*deviceError)() = waveOutDeviceError;
#else
    setOutputDevice(&sdlOutputDevice);
    const char* (*deviceError)() = sdlOutputDeviceError;
#endif
    if (!openQuietly(PLAY_RATE)) {
        fprintf(stderr, "brom-play: no sound device: %s\n", deviceError());
        freeSong(song);
        return 1;
    }
    printf("%s (q to stop)\n", path);
    int status = playUntilDone(song);
    freeSong(song);
    audioClose();
    return status;
#else
    (void)PLAY_RATE;
    fprintf(stderr, "brom-play: %s: no sound device in this build (SDL2 was not found)\n", path);
    return 1;
#endif
}
