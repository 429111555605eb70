// The terminal while brom-play plays: single keys without Enter and without echo (when standard
// input is a terminal), a hidden cursor and the width for the status line (when standard output
// is one), and the signals that end a run (Ctrl-C, SIGTERM, a closed terminal) caught so that
// the run ends in order. terminalStop puts everything back as it was; Ctrl-Z does too until the
// player is continued. One terminal per process: the state is the process's own, like the sound
// card's. One file per system: terminal_posix.cpp, terminal_win32.cpp.
//
//     terminalStart();
//     while (!terminalSignal()) {
//         int key = terminalReadKey(50);        // waits at most 50 ms
//         if (key == 'q' || key == KEY_ESCAPE) break;
//     }
//     terminalStop();
#pragma once

// Keys beyond single bytes.
enum : int {
    KEY_NONE = -1,
    KEY_ESCAPE = 0x1B,
    KEY_UP = 0x100,
    KEY_DOWN,
    KEY_LEFT,
    KEY_RIGHT,
};

void terminalStart();
void terminalStop();

// True when keys are read (standard input is a terminal) and when the status line is drawn
// (standard output is one).
bool terminalHasKeys();
bool terminalHasScreen();
// The columns and the lines of the screen; 80 and 24 when it does not say.
int terminalWidth();
int terminalHeight();
// What clears the screen from the cursor to its end ("" where the console has no such sequence).
const char* terminalClearBelow();
// True when the screen shows UTF-8 (block characters for the level meters).
bool terminalUtf8();

// The next key, waiting at most `milliseconds` for one; KEY_NONE when none came (or a signal).
int terminalReadKey(int milliseconds);
// The signal that asks the run to end (SIGINT, SIGTERM, SIGHUP), 0 while none has come.
int terminalSignal();
