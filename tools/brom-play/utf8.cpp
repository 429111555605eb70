#include "tools/brom-play/utf8.h"

#include <cstdint>

namespace {

// The length of the UTF-8 sequence at `s`, 0 when there is none (overlong forms, surrogates and
// code points beyond U+10FFFF are none).
int utf8Length(const unsigned char* s) {
    if (s[0] < 0x80) return 1;
    const int n = s[0] >= 0xF0 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC0 ? 2 : 0;
    if (n == 0 || s[0] > 0xF4) return 0;
    uint32_t code = s[0] & (0x7Fu >> n);
    for (int k = 1; k < n; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0;  // the terminating zero stops here too
        code = code << 6 | (s[k] & 0x3Fu);
    }
    static const uint32_t LOWEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < LOWEST[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

bool isUtf8(const unsigned char* s) {
    for (int n; *s; s += n) {
        if ((n = utf8Length(s)) == 0) return false;
    }
    return true;
}
