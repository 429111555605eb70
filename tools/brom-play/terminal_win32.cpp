// The terminal on Windows: the console's own single keys (_getch; the arrows come as two codes),
// its width and cursor. Ctrl-C and Ctrl-Break end the run in order.
#include <windows.h>
#include <conio.h>
#include <io.h>

#include <csignal>
#include <cstdio>

#include "tools/brom-play/terminal.h"

namespace {

constexpr int POLL_STEP_MS = 10;

bool keysOn = false;
bool screenOn = false;
CONSOLE_CURSOR_INFO savedCursor = {};
volatile sig_atomic_t endingSignal = 0;

void onEndingSignal(int number) { endingSignal = number; }

// The second code of an arrow key.
int arrowKey(int code) {
    switch (code) {
        case 'H': return KEY_UP;
        case 'P': return KEY_DOWN;
        case 'K': return KEY_LEFT;
        case 'M': return KEY_RIGHT;
        default: return KEY_NONE;
    }
}

}  // namespace

void terminalStart() {
    signal(SIGINT, onEndingSignal);
    signal(SIGBREAK, onEndingSignal);
    signal(SIGTERM, onEndingSignal);
    keysOn = _isatty(_fileno(stdin)) != 0;
    screenOn = _isatty(_fileno(stdout)) != 0;
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    if (screenOn && GetConsoleCursorInfo(console, &savedCursor)) {
        CONSOLE_CURSOR_INFO hidden = savedCursor;
        hidden.bVisible = FALSE;
        SetConsoleCursorInfo(console, &hidden);
    }
}

void terminalStop() {
    if (screenOn && savedCursor.dwSize) {
        SetConsoleCursorInfo(GetStdHandle(STD_OUTPUT_HANDLE), &savedCursor);
    }
    keysOn = screenOn = false;
}

bool terminalHasKeys() { return keysOn; }
bool terminalHasScreen() { return screenOn; }

int terminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

int terminalHeight() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 24;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

const char* terminalClearBelow() { return ""; }

bool terminalUtf8() { return false; }

int terminalReadKey(int milliseconds) {
    for (int waited = 0; waited < milliseconds && !endingSignal; waited += POLL_STEP_MS) {
        if (keysOn && _kbhit()) {
            const int key = _getch();
            return key == 0 || key == 0xE0 ? arrowKey(_getch()) : key;
        }
        Sleep(POLL_STEP_MS);
    }
    return KEY_NONE;
}

int terminalSignal() { return endingSignal; }
