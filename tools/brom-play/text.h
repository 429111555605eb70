// Names as modules hold them: whatever bytes the file has. A name that is valid UTF-8 is taken
// as it is; any other is read as Latin-1, as the trackers' own systems mostly wrote them.
#pragma once

#include <string>

// Whether `text` is valid UTF-8 (overlong forms, surrogates and code points beyond U+10FFFF are
// not).
bool isUtf8(const char* text);
// `text` as UTF-8 for a terminal: as it is when valid UTF-8, else each byte read as Latin-1; the
// control characters U+0080..U+009F show as '?'.
std::string terminalText(const char* text);
// `text` as UTF-8 for files and tags: as it is when valid UTF-8, else each byte read as Latin-1.
std::string utf8Text(const char* text);
