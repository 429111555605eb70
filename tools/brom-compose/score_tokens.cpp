#include "tools/brom-compose/score_tokens.h"

#include <cctype>
#include <sstream>

const char* const ROOT_NAMES[12] = {"C",  "Db", "D",  "Eb", "E",  "F",
                                    "F#", "G",  "Ab", "A",  "Bb", "B"};

namespace {

bool isDigit(char c) { return isdigit(static_cast<unsigned char>(c)) != 0; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The effect letters of the XM numbering: 0..F, then G = 0x10 up to X = 0x21.
int effectNumber(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) return hexDigit(c);
    switch (c) {
        case 'G': return 0x10;
        case 'H': return 0x11;
        case 'K': return 0x14;
        case 'L': return 0x15;
        case 'P': return 0x19;
        case 'R': return 0x1B;
        case 'T': return 0x1D;
        case 'X': return 0x21;
        default: return -1;
    }
}

// A comment runs from a "#" at the start of a line or after a blank to the end of the line (a "#"
// inside a word is a sharp).
size_t commentStart(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) return i;
    }
    return std::string::npos;
}

bool isDrum(const TokenContext& context, char c) {
    return context.drumLetters.find(c) != std::string::npos;
}

bool bad(std::string* error, const std::string& message) {
    *error = message;
    return false;
}

// The chord a chord token names, its root moved by the lane's transposition.
bool readChord(const std::string& s, const TokenContext& context, Token* token, size_t* end,
               std::string* error) {
    size_t rootLength = 0;
    int pc = parseRoot(s, 0, &rootLength);
    *end = rootLength;
    while (*end < s.size() && !isModifierStart(s[*end])) ++*end;
    int root = ((pc + context.transpose) % 12 + 12) % 12;
    std::string name = ROOT_NAMES[root] + s.substr(rootLength, *end - rootLength);
    if (!context.chords) return bad(error, "no chords here");
    auto chord = context.chords->find(name);
    if (chord == context.chords->end()) {
        return bad(error, "no chord '" + name + "' (from '" + s + "')");
    }
    token->kind = TokenKind::Chord;
    token->chordNotes = chord->second;
    return true;
}

}  // namespace

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

std::vector<LogicalLine> logicalLines(const std::string& text) {
    std::vector<LogicalLine> lines;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        size_t hash = commentStart(raw);
        std::string line = trim(hash == std::string::npos ? raw : raw.substr(0, hash));
        if (line.empty()) continue;
        if (line[0] == '|' && !lines.empty()) {
            lines.back().text += " " + line;
        } else {
            lines.push_back({line, number});
        }
    }
    return lines;
}

bool parseInt(const std::string& s, int* value) {
    size_t first = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    if (first == s.size() || s.size() - first > 6) return false;
    for (size_t k = first; k < s.size(); ++k) {
        if (!isDigit(s[k])) return false;
    }
    *value = std::stoi(s);
    return true;
}

int parseRoot(const std::string& s, size_t at, size_t* length) {
    static const int letters[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (at >= s.size() || s[at] < 'A' || s[at] > 'G') return -1;
    int pc = letters[s[at] - 'A'];
    *length = 1;
    if (at + 1 < s.size() && (s[at + 1] == '#' || s[at + 1] == 'b')) {
        pc += s[at + 1] == '#' ? 1 : -1;
        *length = 2;
    }
    return (pc + 12) % 12;
}

int parseNote(const std::string& s, size_t at, size_t* length) {
    static const int letters[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (at >= s.size() || s[at] < 'A' || s[at] > 'G') return -1;
    int semitone = letters[s[at] - 'A'];
    size_t i = at + 1;
    if (i < s.size() && (s[i] == '#' || s[i] == 'b' || s[i] == '-')) {
        if (s[i] == '#') ++semitone;
        if (s[i] == 'b') --semitone;
        ++i;
    }
    if (i >= s.size() || !isDigit(s[i])) return -1;
    *length = i + 1 - at;
    return (s[i] - '0') * 12 + semitone + 1;
}

bool isModifierStart(char c) {
    return c == ':' || c == 'v' || c == '@' || c == '!' || c == '>' || c == '*' || c == '~';
}

bool parseModifiers(const std::string& s, size_t at, Modifiers* mods, std::string* error) {
    size_t i = at;
    while (i < s.size()) {
        char c = s[i];
        if (c == ':') {
            ++i;
        } else if (c == 'v') {
            size_t j = i + 1;
            while (j < s.size() && isDigit(s[j])) ++j;
            int volume = 0;
            if (!parseInt(s.substr(i + 1, j - i - 1), &volume) || volume > 64) {
                return bad(error, "bad volume in '" + s + "'");
            }
            mods->volumeColumn = 0x10 + volume;
            i = j;
        } else if (c == '@') {
            if (i + 2 >= s.size() || hexDigit(s[i + 1]) < 0 || hexDigit(s[i + 2]) < 0) {
                return bad(error, "bad volume column in '" + s + "'");
            }
            mods->volumeColumn = hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]);
            i += 3;
        } else if (c == '!') {
            if (i + 3 >= s.size() || effectNumber(s[i + 1]) < 0 || hexDigit(s[i + 2]) < 0 ||
                hexDigit(s[i + 3]) < 0) {
                return bad(error, "bad effect in '" + s + "'");
            }
            mods->effect = effectNumber(s[i + 1]);
            mods->param = hexDigit(s[i + 2]) * 16 + hexDigit(s[i + 3]);
            i += 4;
        } else if (c == '>') {
            if (i + 1 >= s.size() || !isDigit(s[i + 1]))
                return bad(error, "bad delay in '" + s + "'");
            mods->extraDelay = s[i + 1] - '0';
            i += 2;
        } else if (c == '*') {
            mods->repeatEffect = true;
            ++i;
        } else if (c == '~') {
            mods->tie = true;
            ++i;
        } else {
            return bad(error, "cannot read '" + s.substr(i) + "' in token '" + s + "'");
        }
    }
    if (mods->repeatEffect && mods->effect < 0) {
        return bad(error, "'*' without an effect in '" + s + "'");
    }
    return true;
}

bool parseToken(const std::string& s, const TokenContext& context, Token* token,
                std::string* error) {
    if (s.empty()) return bad(error, "an empty token");
    size_t at = 0;
    bool named = s[0] >= 'A' && s[0] <= 'G';
    if (s[0] == '.' || s[0] == '^') {
        token->kind = s[0] == '.' ? TokenKind::Empty : TokenKind::KeyOff;
        at = 1;
    } else if (context.lane == LaneKind::Single && named) {
        int note = parseNote(s, 0, &at);
        if (note < 0) return bad(error, "bad note '" + s + "'");
        note += context.transpose;
        if (note < 1 || note > 96) return bad(error, "note out of range in '" + s + "'");
        token->kind = TokenKind::Note;
        token->note = note;
    } else if (context.lane == LaneKind::Chord && named) {
        if (!readChord(s, context, token, &at, error)) return false;
    } else if (context.lane == LaneKind::Drums && isDrum(context, s[0])) {
        while (at < s.size() && isDrum(context, s[at])) {
            token->drums += s[at++];
        }
        token->kind = TokenKind::Drums;
    } else if (isModifierStart(s[0])) {
        token->kind = TokenKind::ModifiersOnly;
    } else {
        return bad(error, "cannot read token '" + s + "'");
    }
    if (!parseModifiers(s, at, &token->mods, error)) return false;
    if (token->kind == TokenKind::Empty && (token->mods.volumeColumn || token->mods.effect >= 0)) {
        token->kind = TokenKind::ModifiersOnly;
    }
    return true;
}
