// The terminal on POSIX systems: termios without ICANON and ECHO (ISIG stays, so Ctrl-C still
// interrupts), escape sequences for the arrows and the cursor.
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstring>

#include "tools/brom-play/terminal.h"

namespace {

// How long a lone Escape waits for the rest of an arrow's sequence.
constexpr int SEQUENCE_WAIT_MS = 30;

termios savedModes;
bool keysOn = false;
bool screenOn = false;
volatile sig_atomic_t endingSignal = 0;
volatile sig_atomic_t continued = 0;

const char HIDE_CURSOR[] = "\x1b[?25l";
const char SHOW_CURSOR[] = "\x1b[?25h";

void writeText(const char* text) {
    // write(), not stdio: the signal handlers use this too.
    if (write(STDOUT_FILENO, text, strlen(text)) < 0) return;
}

// Single keys and the hidden cursor.
void takeOver() {
    if (keysOn) {
        termios raw = savedModes;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    if (screenOn) writeText(HIDE_CURSOR);
}

void restoreModes() {
    if (keysOn) tcsetattr(STDIN_FILENO, TCSANOW, &savedModes);
    if (screenOn) writeText(SHOW_CURSOR);
}

void onEndingSignal(int signal) { endingSignal = signal; }

// Ctrl-Z: the shell gets the terminal as it was; the player stops as usual.
void onStop(int) {
    restoreModes();
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
}

void onContinue(int) { continued = 1; }

void catchSignal(int number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
}

// Back from Ctrl-Z: single keys and the hidden cursor again.
void resumeAfterStop() {
    continued = 0;
    catchSignal(SIGTSTP, onStop);
    takeOver();
}

bool waitForInput(int milliseconds) {
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, milliseconds) > 0;
}

int readByte() {
    unsigned char byte = 0;
    return read(STDIN_FILENO, &byte, 1) == 1 ? int{byte} : int{KEY_NONE};
}

// After Escape: "[A" or "OA" and the like are arrows; any other sequence is read to its end and
// dropped; nothing more within a moment is the Escape key itself.
int readEscapeSequence() {
    if (!waitForInput(SEQUENCE_WAIT_MS)) return KEY_ESCAPE;
    const int introducer = readByte();
    if (introducer != '[' && introducer != 'O') return KEY_ESCAPE;
    int final = readByte();
    while (final != KEY_NONE && (final < 0x40 || final > 0x7E)) final = readByte();
    switch (final) {
        case 'A': return KEY_UP;
        case 'B': return KEY_DOWN;
        case 'C': return KEY_RIGHT;
        case 'D': return KEY_LEFT;
        default: return KEY_NONE;
    }
}

}  // namespace

void terminalStart() {
    setlocale(LC_CTYPE, "");
    catchSignal(SIGINT, onEndingSignal);
    catchSignal(SIGTERM, onEndingSignal);
    catchSignal(SIGHUP, onEndingSignal);
    screenOn = isatty(STDOUT_FILENO) != 0;
    keysOn = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &savedModes) == 0;
    if (keysOn || screenOn) {
        catchSignal(SIGTSTP, onStop);
        catchSignal(SIGCONT, onContinue);
    }
    takeOver();
}

void terminalStop() {
    restoreModes();
    keysOn = screenOn = false;
}

bool terminalHasKeys() { return keysOn; }
bool terminalHasScreen() { return screenOn; }

int terminalWidth() {
    winsize size = {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

int terminalHeight() {
    winsize size = {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return 24;
    return size.ws_row;
}

const char* terminalClearBelow() { return "\033[J"; }

bool terminalUtf8() { return strcmp(nl_langinfo(CODESET), "UTF-8") == 0; }

int terminalReadKey(int milliseconds) {
    if (continued) resumeAfterStop();
    if (!keysOn) {
        poll(nullptr, 0, milliseconds);  // a signal ends the wait early
        return KEY_NONE;
    }
    if (!waitForInput(milliseconds)) return KEY_NONE;
    const int key = readByte();
    return key == KEY_ESCAPE ? readEscapeSequence() : key;
}

int terminalSignal() { return endingSignal; }
