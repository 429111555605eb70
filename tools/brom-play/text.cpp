#include "tools/brom-play/text.h"

#include <cstdint>

namespace {

// The length of the UTF-8 sequence at `s`, 0 when there is none.
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

bool isUtf8(const char* text) {
    for (auto* s = reinterpret_cast<const unsigned char*>(text); *s;) {
        const int n = utf8Length(s);
        if (n == 0) return false;
        s += n;
    }
    return true;
}

namespace {

// Each byte read as Latin-1; the C1 controls U+0080..U+009F as '?' when `hideControls`.
std::string fromLatin1(const char* text, bool hideControls) {
    std::string out;
    for (auto* s = reinterpret_cast<const unsigned char*>(text); *s; ++s) {
        if (*s < 0x80) {
            out += static_cast<char>(*s);
        } else if (*s < 0xA0 && hideControls) {
            out += '?';
        } else {
            out += static_cast<char>(0xC0 | *s >> 6);
            out += static_cast<char>(0x80 | (*s & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::string terminalText(const char* text) { return isUtf8(text) ? text : fromLatin1(text, true); }

std::string utf8Text(const char* text) { return isUtf8(text) ? text : fromLatin1(text, false); }
