// Names in module files are bytes: UTF-8 when they are valid as such, else read as Latin-1
// (--info --json and the encoders' tags).
#pragma once

// Whether the zero-terminated bytes are valid UTF-8 (overlong forms, surrogates and code points
// beyond U+10FFFF are not).
bool isUtf8(const unsigned char* s);
