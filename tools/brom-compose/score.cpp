#include "tools/brom-compose/score.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/brom-compose/score_tokens.h"

namespace {

constexpr int TICKS_PER_ROW = 6;  // the song's speed; delays must stay inside a row
constexpr int ROWS_PER_BAR = 16;
constexpr int TICKS_PER_BAR = TICKS_PER_ROW * ROWS_PER_BAR;
constexpr int TICKS_PER_BEAT = TICKS_PER_BAR / 4;
constexpr int CELL_KEY_OFF = 97;
constexpr int MAX_PHRASE_DEPTH = 16;
constexpr int MAX_INCLUDE_DEPTH = 8;

struct Event {
    int tick;  // from the start of the lane line
    Token token;
    int instrument;
};

struct Lane {
    LaneKind kind;
    std::vector<int> channels;
};

struct Drum {
    int channel;
    int instrument;
    int note;
    Modifiers mods;
};

// What one lane line carries from bar to bar while it is expanded.
struct LaneState {
    Lane lane;
    int instrument = 0;
    int barCount = 0;
    std::vector<Event> previousBar;  // ticks within the bar, for "%"
};

bool isKeyword(const std::string& word) {
    static const char* const keywords[] = {"title",   "speed", "bpm",     "swing",   "instruments",
                                           "channel", "group", "chord",   "drum",    "phrase",
                                           "pattern", "order", "restart", "include", "drums"};
    for (const char* k : keywords) {
        if (word == k) return true;
    }
    return false;
}

struct Parser {
    Parser(Score* s, std::string* e) : score(s), error(e) {}

    Score* score;
    std::string* error;
    std::string file = "score";
    int line = 0;

    int swingTick = 16;
    std::vector<std::string> channelNames;
    std::vector<int> channelInstruments;
    std::vector<int> channelVolumes;  // volume-column byte for notes of the channel's instrument
    std::map<std::string, std::vector<int>> groups;
    std::map<std::string, std::vector<int>> chords;
    std::map<char, Drum> drums;
    std::map<std::string, std::string> phrases;
    std::map<std::string, int> patternNumbers;
    std::vector<std::string> patternNames;
    std::vector<std::string> orderNames;
    std::string restartName;
    int currentPattern = -1;

    bool fail(const std::string& message) {
        *error = file + ":" + std::to_string(line) + ": " + message;
        return false;
    }

    bool readModifiers(const std::string& s, Modifiers* mods) {
        std::string message;
        return parseModifiers(s, 0, mods, &message) || fail(message);
    }

    bool readToken(const std::string& s, const Lane& lane, int transpose, Token* token) {
        std::string letters;
        for (const auto& [letter, drum] : drums) letters += letter;
        TokenContext context{lane.kind, transpose, &chords, letters};
        std::string message;
        return parseToken(s, context, token, &message) || fail(message);
    }

    int instrumentNumber(const std::string& name) {
        for (size_t i = 0; i < score->instrumentNames.size(); ++i) {
            if (score->instrumentNames[i] == name) return static_cast<int>(i) + 1;
        }
        return 0;
    }

    int channelNumber(const std::string& name) {
        for (size_t i = 0; i < channelNames.size(); ++i) {
            if (channelNames[i] == name) return static_cast<int>(i);
        }
        return -1;
    }

    // The tick of token i of n in a bar: 8 tokens are shuffled eighths, the off-beat late.
    int gridTick(int i, int n) {
        if (n == 8) return (i / 2) * TICKS_PER_BEAT + (i % 2 ? swingTick : 0);
        return i * TICKS_PER_BAR / n;
    }

    // "name", "name(F)", "name+12", "name(G)-12": a phrase and its transposition in semitones.
    bool parsePhraseCall(const std::string& s, std::string* name, int* transpose) {
        size_t i = 0;
        while (i < s.size() &&
               (islower(static_cast<unsigned char>(s[i])) ||
                isdigit(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == '_')) {
            if (s[i] == '-' && i + 1 < s.size() && isdigit(static_cast<unsigned char>(s[i + 1]))) {
                break;
            }
            ++i;
        }
        *name = s.substr(0, i);
        if (name->size() < 2 || !phrases.count(*name)) return false;
        *transpose = 0;
        if (i < s.size() && s[i] == '(') {
            size_t length = 0;
            int pc = parseRoot(s, i + 1, &length);
            if (pc < 0 || i + 1 + length >= s.size() || s[i + 1 + length] != ')') return false;
            *transpose = pc > 5 ? pc - 12 : pc;
            i += length + 2;
        }
        if (i < s.size()) {
            int shift = 0;
            if (!parseInt(s.substr(i), &shift)) return false;
            *transpose += shift;
        }
        return true;
    }

    bool expandTokens(const std::string& segment, int transpose, LaneState* state,
                      std::vector<Event>* events) {
        std::vector<std::string> tokens;
        std::vector<std::pair<size_t, int>> switches;  // (token index, instrument)
        for (const std::string& w : words(segment)) {
            if (w.front() == '[') {
                if (w.back() != ']') return fail("bad instrument switch '" + w + "'");
                int number = instrumentNumber(w.substr(1, w.size() - 2));
                if (!number) return fail("no instrument '" + w + "'");
                switches.push_back({tokens.size(), number});
            } else {
                tokens.push_back(w);
            }
        }
        int n = static_cast<int>(tokens.size());
        if (n == 0 || TICKS_PER_BAR % n != 0) {
            return fail("a bar of " + std::to_string(n) + " tokens does not fit the grid");
        }
        std::vector<Event> bar;
        size_t nextSwitch = 0;
        for (int i = 0; i < n; ++i) {
            while (nextSwitch < switches.size() && switches[nextSwitch].first <= size_t(i)) {
                state->instrument = switches[nextSwitch++].second;
            }
            Token token;
            if (!readToken(tokens[i], state->lane, transpose, &token)) return false;
            if (token.kind == TokenKind::Empty) continue;
            bar.push_back({gridTick(i, n), token, state->instrument});
        }
        while (nextSwitch < switches.size()) state->instrument = switches[nextSwitch++].second;
        appendBar(bar, state, events);
        return true;
    }

    void appendBar(const std::vector<Event>& bar, LaneState* state, std::vector<Event>* events) {
        for (Event e : bar) {
            e.tick += state->barCount * TICKS_PER_BAR;
            events->push_back(e);
        }
        state->previousBar = bar;
        ++state->barCount;
    }

    bool expandBars(const std::string& text, int transpose, int depth, LaneState* state,
                    std::vector<Event>* events) {
        if (depth > MAX_PHRASE_DEPTH) return fail("phrases call each other too deeply");
        std::string segment;
        std::istringstream in(text);
        while (std::getline(in, segment, '|')) {
            segment = trim(segment);
            if (segment.empty()) continue;
            std::string name;
            int shift = 0;
            if (segment == "%") {
                if (state->barCount == 0) return fail("'%' with no bar before it");
                std::vector<Event> copy = state->previousBar;
                appendBar(copy, state, events);
            } else if (segment.find(' ') == std::string::npos &&
                       parsePhraseCall(segment, &name, &shift)) {
                if (!expandBars(phrases[name], transpose + shift, depth + 1, state, events)) {
                    return false;
                }
            } else if (!expandTokens(segment, transpose, state, events)) {
                return false;
            }
        }
        return true;
    }

    bool findLane(const std::string& name, Lane* lane) {
        int channel = channelNumber(name);
        if (channel >= 0) {
            *lane = {LaneKind::Single, {channel}};
            return true;
        }
        if (groups.count(name)) {
            *lane = {LaneKind::Chord, groups[name]};
            return true;
        }
        if (name == "drums") {
            *lane = {LaneKind::Drums, {}};
            return true;
        }
        return false;
    }

    bool mergeByte(uint8_t* field, int value, const char* what, int row, int channel) {
        if (value == 0) return true;
        if (*field != 0 && *field != value) {
            return fail(std::string("two ") + what + "s meet in row " + std::to_string(row) +
                        " of channel " + channelNames[channel]);
        }
        *field = static_cast<uint8_t>(value);
        return true;
    }

    bool mergeEffect(XmCell* cell, int effect, int param, int row, int channel) {
        if (effect < 0 || (effect == 0 && param == 0)) return true;
        bool has = cell->effect || cell->param;
        if (has && (cell->effect != effect || cell->param != param)) {
            return fail("two effects meet in row " + std::to_string(row) + " of channel " +
                        channelNames[channel]);
        }
        cell->effect = static_cast<uint8_t>(effect);
        cell->param = static_cast<uint8_t>(param);
        return true;
    }

    struct Write {
        int channel;
        int note;  // 0 none, 97 key-off
        int instrument;
        Modifiers mods;
    };

    std::vector<Write> writesOf(const Event& e, const Lane& lane) {
        std::vector<Write> writes;
        const Token& t = e.token;
        auto noteWrite = [&](int channel, int note, const Modifiers& mods) {
            bool porta = mods.effect == 3 || mods.effect == 5 || mods.volumeColumn >= 0xF0;
            bool sounds = note && note != CELL_KEY_OFF;
            int instrument = sounds && !mods.tie && !porta ? e.instrument : 0;
            Modifiers written = mods;
            if (instrument && instrument == channelInstruments[channel] && !written.volumeColumn) {
                written.volumeColumn = channelVolumes[channel];
            }
            writes.push_back({channel, note, instrument, written});
        };
        int keyOrNothing = t.kind == TokenKind::KeyOff ? CELL_KEY_OFF : 0;
        if (lane.kind == LaneKind::Drums) {
            for (char letter : t.drums) {
                const Drum& d = drums[letter];
                Modifiers mods = d.mods;
                if (t.mods.volumeColumn) mods.volumeColumn = t.mods.volumeColumn;
                if (t.mods.effect >= 0) {
                    mods.effect = t.mods.effect;
                    mods.param = t.mods.param;
                }
                mods.repeatEffect = d.mods.repeatEffect || t.mods.repeatEffect;
                mods.extraDelay = t.mods.extraDelay;
                writes.push_back({d.channel, d.note, d.instrument, mods});
            }
            return writes;
        }
        for (size_t i = 0; i < lane.channels.size(); ++i) {
            int note = keyOrNothing;
            if (t.kind == TokenKind::Note) note = t.note;
            if (t.kind == TokenKind::Chord) {
                if (i >= t.chordNotes.size()) continue;
                note = t.chordNotes[i];
            }
            noteWrite(lane.channels[i], note, t.mods);
        }
        return writes;
    }

    XmCell& cellOf(int row, int channel) {
        return cellAt(score->song.patterns[currentPattern], static_cast<int>(channelNames.size()),
                      row, channel);
    }

    // One token's write into its cell; a note delay takes the effect column.
    bool writeCell(int row, int delay, const Write& w) {
        XmCell& cell = cellOf(row, w.channel);
        int effect = w.mods.effect;
        int param = w.mods.param;
        if (delay > 0) {
            if (effect >= 0) {
                return fail("an effect on a delayed note in row " + std::to_string(row) +
                            " of channel " + channelNames[w.channel]);
            }
            effect = 0xE;
            param = 0xD0 | delay;
        }
        return mergeByte(&cell.note, w.note, "note", row, w.channel) &&
               mergeByte(&cell.instrument, w.instrument, "instrument", row, w.channel) &&
               mergeByte(&cell.volumeColumn, w.mods.volumeColumn, "volume column", row,
                         w.channel) &&
               mergeEffect(&cell, effect, param, row, w.channel);
    }

    // Only a starting note is delayed to its tick. A delayed cell starts its note again when the
    // delay runs out, so key-offs and bare effects act at their row's start.
    static int delayOf(const Event& e) {
        TokenKind kind = e.token.kind;
        bool startsNote =
            kind == TokenKind::Note || kind == TokenKind::Chord || kind == TokenKind::Drums;
        return startsNote ? e.tick % TICKS_PER_ROW + e.token.mods.extraDelay : 0;
    }

    bool placeEvents(const std::vector<Event>& events, const Lane& lane, int laneRows) {
        for (size_t k = 0; k < events.size(); ++k) {
            int row = events[k].tick / TICKS_PER_ROW;
            int delay = delayOf(events[k]);
            if (k > 0 && events[k - 1].tick / TICKS_PER_ROW == row) {
                return fail("two tokens of one lane fall in row " + std::to_string(row));
            }
            if (delay >= TICKS_PER_ROW) return fail("a delay reaches the next row");
            // "*" carries the effect on to the row before the lane's next token.
            int end = k + 1 < events.size() ? events[k + 1].tick / TICKS_PER_ROW : laneRows;
            for (const Write& w : writesOf(events[k], lane)) {
                if (!writeCell(row, delay, w)) return false;
                for (int r = row + 1; w.mods.repeatEffect && r < end; ++r) {
                    if (!mergeEffect(&cellOf(r, w.channel), w.mods.effect, w.mods.param, r,
                                     w.channel)) {
                        return false;
                    }
                }
            }
        }
        return true;
    }

    bool readLane(const std::string& laneName, const std::string& bars) {
        if (currentPattern < 0) return fail("'" + laneName + "' outside a pattern");
        LaneState state;
        if (!findLane(laneName, &state.lane)) {
            return fail("no channel or group '" + laneName + "'");
        }
        if (state.lane.kind != LaneKind::Drums) {
            state.instrument = channelInstruments[state.lane.channels[0]];
        }
        std::vector<Event> events;
        if (!expandBars(bars, 0, 0, &state, &events)) return false;
        int rows = state.barCount * ROWS_PER_BAR;
        if (rows > score->song.patterns[currentPattern].rows) {
            return fail("lane '" + laneName + "' is longer than its pattern");
        }
        return placeEvents(events, state.lane, rows);
    }

    bool startPattern(const std::vector<std::string>& w) {
        if (w.size() < 2 || w.size() > 3) return fail("pattern NAME [ROWS]");
        if (patternNumbers.count(w[1])) return fail("pattern '" + w[1] + "' twice");
        int rows = 64;
        if (w.size() == 3 && (!parseInt(w[2], &rows) || rows < 1 || rows > 256)) {
            return fail("bad row count");
        }
        if (channelNames.empty()) return fail("patterns come after the channels");
        currentPattern = static_cast<int>(patternNames.size());
        patternNumbers[w[1]] = currentPattern;
        patternNames.push_back(w[1]);
        score->song.patterns.push_back(makePattern(rows, static_cast<int>(channelNames.size())));
        return true;
    }

    bool readChannel(const std::vector<std::string>& w) {
        if (w.size() < 3 || w.size() > 4) return fail("channel NAME INSTRUMENT [vVOLUME]");
        if (!score->song.patterns.empty()) return fail("channels come before the patterns");
        int instrument = w[2] == "-" ? 0 : instrumentNumber(w[2]);
        if (w[2] != "-" && !instrument) return fail("no instrument '" + w[2] + "'");
        if (channelNumber(w[1]) >= 0 || isKeyword(w[1]))
            return fail("channel '" + w[1] + "' twice");
        Modifiers mods;
        if (w.size() == 4 && (!readModifiers(w[3], &mods) || mods.effect >= 0)) {
            return fail("a channel takes a volume only");
        }
        channelNames.push_back(w[1]);
        channelInstruments.push_back(instrument);
        channelVolumes.push_back(mods.volumeColumn);
        return true;
    }

    bool readGroup(const std::vector<std::string>& w) {
        if (w.size() < 3) return fail("group NAME CHANNEL...");
        std::vector<int> channels;
        for (size_t i = 2; i < w.size(); ++i) {
            int c = channelNumber(w[i]);
            if (c < 0) return fail("no channel '" + w[i] + "'");
            channels.push_back(c);
        }
        groups[w[1]] = channels;
        return true;
    }

    bool readChord(const std::vector<std::string>& w) {
        if (w.size() < 3) return fail("chord NAME NOTE...");
        size_t length = 0;
        int pc = parseRoot(w[1], 0, &length);
        if (pc < 0 || w[1].substr(0, length) != ROOT_NAMES[pc]) {
            return fail("chord names start with one of C Db D Eb E F F# G Ab A Bb B");
        }
        std::vector<int> notes;
        for (size_t i = 2; i < w.size(); ++i) {
            int note = parseNote(w[i], 0, &length);
            if (note < 1 || note > 96 || length != w[i].size())
                return fail("bad note '" + w[i] + "'");
            notes.push_back(note);
        }
        chords[w[1]] = notes;
        return true;
    }

    bool readDrum(const std::vector<std::string>& w) {
        if (w.size() < 5 || w.size() > 6 || w[1].size() != 1 ||
            !isalpha(static_cast<unsigned char>(w[1][0])) || isModifierStart(w[1][0])) {
            return fail("drum LETTER CHANNEL INSTRUMENT NOTE [MODIFIERS]");
        }
        Drum d;
        d.channel = channelNumber(w[2]);
        d.instrument = instrumentNumber(w[3]);
        size_t length = 0;
        d.note = parseNote(w[4], 0, &length);
        if (d.channel < 0 || !d.instrument || d.note < 1 || length != w[4].size()) {
            return fail("bad drum '" + w[1] + "'");
        }
        if (w.size() == 6 && !readModifiers(w[5], &d.mods)) return false;
        drums[w[1][0]] = d;
        return true;
    }

    bool readNumber(const std::vector<std::string>& w, int low, int high, int* value) {
        if (w.size() != 2 || !parseInt(w[1], value) || *value < low || *value > high) {
            return fail(w[0] + " takes a number from " + std::to_string(low) + " to " +
                        std::to_string(high));
        }
        return true;
    }

    bool readStatement(const LogicalLine& l, const std::string& directory, int depth) {
        line = l.number;
        std::vector<std::string> w = words(l.text);
        const std::string& key = w[0];
        std::string rest = trim(l.text.substr(key.size()));
        if (key == "title") {
            score->song.name = rest;
        } else if (key == "speed") {
            if (!readNumber(w, TICKS_PER_ROW, TICKS_PER_ROW, &score->song.speed)) return false;
        } else if (key == "bpm") {
            if (!readNumber(w, 32, 255, &score->song.bpm)) return false;
        } else if (key == "swing") {
            if (!readNumber(w, 12, 20, &swingTick)) return false;
        } else if (key == "instruments") {
            score->instrumentNames.assign(w.begin() + 1, w.end());
        } else if (key == "channel") {
            return readChannel(w);
        } else if (key == "group") {
            return readGroup(w);
        } else if (key == "chord") {
            return readChord(w);
        } else if (key == "drum") {
            return readDrum(w);
        } else if (key == "phrase") {
            if (w.size() < 2 || phrases.count(w[1])) return fail("phrase NAME BARS, once per name");
            phrases[w[1]] = trim(rest.substr(w[1].size()));
        } else if (key == "pattern") {
            return startPattern(w);
        } else if (key == "order") {
            orderNames.insert(orderNames.end(), w.begin() + 1, w.end());
        } else if (key == "restart") {
            if (w.size() != 2) return fail("restart PATTERN");
            restartName = w[1];
        } else if (key == "include") {
            return include(directory + "/" + rest, depth + 1);
        } else {
            return readLane(key, rest);
        }
        return true;
    }

    bool readText(const std::string& text, const std::string& directory, int depth) {
        for (const LogicalLine& l : logicalLines(text)) {
            if (!readStatement(l, directory, depth)) return false;
        }
        return true;
    }

    bool include(const std::string& path, int depth) {
        if (depth > MAX_INCLUDE_DEPTH) return fail("includes nest too deeply");
        std::ifstream in(path, std::ios::binary);
        if (!in) return fail("cannot read " + path);
        std::stringstream text;
        text << in.rdbuf();
        std::string outerFile = file;
        int outerLine = line;
        file = path.substr(path.find_last_of('/') + 1);
        size_t slash = path.find_last_of('/');
        std::string directory = slash == std::string::npos ? "." : path.substr(0, slash);
        if (!readText(text.str(), directory, depth)) return false;
        file = outerFile;
        line = outerLine;
        return true;
    }

    bool finish() {
        XmSong& song = score->song;
        song.channels = static_cast<int>(channelNames.size());
        song.orders.clear();
        std::vector<bool> used(patternNames.size(), false);
        for (const std::string& name : orderNames) {
            if (!patternNumbers.count(name))
                return fail("the order names no pattern '" + name + "'");
            song.orders.push_back(static_cast<uint8_t>(patternNumbers[name]));
            used[patternNumbers[name]] = true;
        }
        if (song.orders.empty() || song.orders.size() > 256)
            return fail("the order needs 1 to 256 entries");
        for (size_t p = 0; p < used.size(); ++p) {
            if (!used[p]) return fail("pattern '" + patternNames[p] + "' is never played");
        }
        song.restartPosition = 0;
        if (!restartName.empty()) {
            auto at = std::find(orderNames.begin(), orderNames.end(), restartName);
            if (at == orderNames.end()) return fail("the restart names no entry of the order");
            song.restartPosition = static_cast<int>(at - orderNames.begin());
        }
        song.songLength = -1;
        song.flags = 1;
        return true;
    }
};

}  // namespace

bool parseScore(const std::string& text, const std::string& directory, Score* score,
                std::string* error) {
    *score = Score{};
    Parser parser(score, error);
    return parser.readText(text, directory, 0) && parser.finish();
}

bool readScore(const std::string& path, Score* score, std::string* error) {
    *score = Score{};
    Parser parser(score, error);
    return parser.include(path, 0) && parser.finish();
}
