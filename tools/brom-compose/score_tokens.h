// The words of the score: its lines, note and chord names, effects in tracker notation, and the
// tokens that stand on a bar's grid ("C4", "Bb5v40!447*", "C7", "Kh", "^", "."). score.cpp puts
// them into patterns.
//
//     Token token;
//     std::string error;
//     TokenContext context{LaneKind::Single, 12, nullptr, ""};
//     parseToken("C4v40", context, &token, &error);   // note 61 at volume 40
#pragma once

#include <map>
#include <string>
#include <vector>

// A chord lane's root names: a chord named on C and played on F is looked up as "F" + the rest.
extern const char* const ROOT_NAMES[12];

struct Modifiers {
    int volumeColumn = 0;  // the raw byte; 0 leaves the column empty
    int effect = -1;  // -1: no effect
    int param = 0;
    bool repeatEffect = false;  // "*": the effect goes on every row until the lane's next token
    int extraDelay = 0;  // ">n": ticks added to the grid position
    bool tie = false;  // "~": no instrument number, so the envelopes run on
};

enum class TokenKind { Empty, Note, KeyOff, Chord, Drums, ModifiersOnly };

struct Token {
    TokenKind kind = TokenKind::Empty;
    int note = 0;  // 1..96
    std::vector<int> chordNotes;  // one per channel of the chord lane
    std::string drums;  // drum letters
    Modifiers mods;
};

enum class LaneKind { Single, Chord, Drums };

// What a token may name where it stands.
struct TokenContext {
    LaneKind lane;
    int transpose;  // semitones added to notes and chord roots
    const std::map<std::string, std::vector<int>>* chords;  // chord lanes
    std::string drumLetters;  // the drum lane
};

struct LogicalLine {
    std::string text;
    int number;  // of its first physical line
};

// The score's lines without comments and blank lines, continuation lines ("| ...") joined on.
std::vector<LogicalLine> logicalLines(const std::string& text);
std::string trim(const std::string& s);
std::vector<std::string> words(const std::string& s);
// A decimal number with an optional sign, nothing else.
bool parseInt(const std::string& s, int* value);

// A pitch class 0..11 from a root name at `at` ("C", "F#", "Bb"); -1 when there is none.
int parseRoot(const std::string& s, size_t at, size_t* length);
// A note such as "C4", "F#2", "Bb3" or "C-4" at `at`, C-4 being note 49; -1 when there is none.
int parseNote(const std::string& s, size_t at, size_t* length);

bool isModifierStart(char c);
// The modifiers from `at` to the end of `s`; false with a message when one cannot be read.
bool parseModifiers(const std::string& s, size_t at, Modifiers* mods, std::string* error);
bool parseToken(const std::string& s, const TokenContext& context, Token* token,
                std::string* error);
