// post-message close|escape: finds brom-demo's window (class and title "test") and posts it a
// close request or an Escape key press, as the window manager or the keyboard would. For the
// checks that run the Windows build under Wine (tools/check-windows). Waits up to 15 s for the
// window; status 0 when the message was posted.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    bool close = argc == 2 && strcmp(argv[1], "close") == 0;
    bool escape = argc == 2 && strcmp(argv[1], "escape") == 0;
    if (!close && !escape) {
        fprintf(stderr, "usage: post-message close|escape\n");
        return 2;
    }
    for (int tries = 0; tries < 150; ++tries) {
        HWND window = FindWindowA("test", "test");
        if (window) {
            BOOL posted = close ? PostMessageA(window, WM_CLOSE, 0, 0)
                                : PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 1);
            if (posted) return 0;
        }
        Sleep(100);
    }
    fprintf(stderr, "post-message: no window \"test\" to post to\n");
    return 1;
}
