// Playing: the files one after the other through the sound device, which pulls the frames of the
// current file (a Source) on its own thread. On a terminal the keys steer and a status line is
// redrawn in place every 50 ms; without one, each file gets one line and nothing more.
//
// Every call on the module that plays happens under the sound device's lock. A seek takes a
// while (the library renders its way there without sound): it happens on a second module of the
// same file, off the lock, while the first plays on; then the two change places. What the keys
// change (gain, muted channels, looping) stays for the files that follow.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/brom-play/brom_play.h"
#include "tools/brom-play/info.h"
#include "tools/brom-play/pattern_view.h"
#include "tools/brom-play/sound.h"
#include "tools/brom-play/source.h"
#include "tools/brom-play/status.h"
#include "tools/brom-play/terminal.h"
#include "tools/brom-play/text.h"

namespace {

constexpr int TICK_MS = 50;  // keys are read and the status line drawn this often
constexpr int HELP_MS = 5000;  // the key help stays this long on the status line
constexpr int SEEK_STEP_MS = 10000;
constexpr double GAIN_STEP_DB = 1;
constexpr double LOWEST_GAIN_DB = -60, HIGHEST_GAIN_DB = 24;
constexpr int PATTERN_ROWS = 9;  // the pattern view's rows, fewer on a short screen

struct Player {
    Options live;  // the command line's options as the keys have changed them
    Source source;  // what the device renders; under the device's lock
    brom_module* spare = nullptr;  // the same file, where seeks happen; loaded at the first
    const char* path = nullptr;
    std::atomic<bool> ended{false};  // the source has given its last frame
    std::atomic<int64_t> quietFrames{0};  // silence handed out since then
    bool paused = false;
    // Of the file playing, read before it starts.
    int fileNumber = 0;
    int64_t durationMs = -1;
    int subsongs = 1;
    bool fadeAtEnd = false;  // --end fade: where looping stops, the song fades
    brom_song_info song = {};
    std::chrono::steady_clock::time_point helpUntil;
    bool patternShown = false;  // the v key's pattern view
    std::vector<std::string> shownView;  // the pattern view's lines on the screen
    std::string shown;  // the status line on the screen
    int shownWidth = 0;  // the terminal's width when it was drawn
    std::string announced;  // the line that names the file, above the status line
};

enum class Outcome : uint8_t { PLAYING, NEXT_FILE, PREVIOUS_FILE, QUIT, SIGNALLED };

// Holds the sound device's lock for its lifetime.
struct DeviceLock {
    DeviceLock() { soundLock(); }
    ~DeviceLock() { soundUnlock(); }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
};

// The device's thread: the source's frames, then silence.
void fillFrames(void* user, int16_t* stereo, int frames) {
    auto* player = static_cast<Player*>(user);
    const size_t got =
        player->source.module ? pullS16(&player->source, stereo, static_cast<size_t>(frames)) : 0;
    if (got == static_cast<size_t>(frames)) return;
    memset(stereo + 2 * got, 0, (static_cast<size_t>(frames) - got) * 4);
    if (!player->source.module) return;
    player->ended.store(true);
    player->quietFrames.fetch_add(frames - static_cast<int64_t>(got));
}

// What the device has played is over once it has asked for a tenth of a second of silence after
// the end: more than the device keeps ahead.
bool playedOut(const Player& player) {
    return player.ended.load() && player.quietFrames.load() >= player.live.rate / 10;
}

void toggleMute(Player* player, int channel) {
    if (channel >= player->song.channels) return;
    player->live.mutedChannels ^= uint32_t{1} << channel;
    DeviceLock hold;
    brom_set_channel_mute(player->source.module, channel,
                          (player->live.mutedChannels >> channel) & 1);
}

void unmuteAll(Player* player) {
    player->live.mutedChannels = 0;
    DeviceLock hold;
    for (int c = 0; c < player->song.channels; ++c) {
        brom_set_channel_mute(player->source.module, c, 0);
    }
}

void changeGain(Player* player, double step) {
    player->live.gainDb = std::clamp(player->live.gainDb + step, LOWEST_GAIN_DB, HIGHEST_GAIN_DB);
    DeviceLock hold;
    brom_set_gain_db(player->source.module, player->live.gainDb);
}

bool looping(const Options& options) { return options.repeat < 0 || options.end == BROM_END_LOOP; }

// Looping: repeats without end, or ends where the song next comes round (stopping, or fading
// when --end says so).
void toggleLoop(Player* player) {
    Options& live = player->live;
    if (looping(live)) {
        live.repeat = std::max(live.repeat, 0);
        if (live.end == BROM_END_LOOP) live.end = BROM_END_STOP;
        if (player->fadeAtEnd) live.end = BROM_END_FADE;
    } else {
        live.end = BROM_END_LOOP;
    }
    DeviceLock hold;
    brom_set_repeat_count(player->source.module, live.repeat);
    brom_set_end(player->source.module, live.end, live.fadeMs);
}

brom_position positionNow(const Player& player) {
    brom_position at = {};
    DeviceLock hold;
    brom_get_position(player.source.module, &at);
    return at;
}

// The spare module with the settings of the one playing; null when the file no longer loads.
brom_module* spareModule(Player* player) {
    if (!player->spare) player->spare = loadOrComplain(player->path);
    if (player->spare) applySettings(player->spare, player->live);
    return player->spare;
}

// Seeks the spare module, then lets it play in the place of the other.
void seekTo(Player* player, int64_t ms) {
    brom_module* spare = spareModule(player);
    if (spare) brom_seek_ms(spare, ms);
    DeviceLock hold;
    if (!spare) {
        brom_seek_ms(player->source.module, ms);
        return;
    }
    std::swap(player->source.module, player->spare);
    player->ended.store(false);
    player->quietFrames.store(0);
}

// The subsong selected, or when none is, the one whose order plays.
int subsongNow(const Player& player) {
    if (player.live.subsong >= 0) return player.live.subsong;
    const int order = positionNow(player).order;
    DeviceLock hold;
    return std::max(brom_order_subsong(player.source.module, order), 0);
}

// To the start of the subsong `step` away; past the last one, the next file.
Outcome moveSubsong(Player* player, int step) {
    const int subsong = std::max(subsongNow(*player) + step, 0);
    if (subsong >= player->subsongs) return Outcome::NEXT_FILE;
    player->live.subsong = subsong;
    DeviceLock hold;
    brom_select_subsong(player->source.module, subsong);
    brom_subsong found = {};
    brom_get_subsong(player->source.module, subsong, &found);
    player->durationMs = found.duration_ms;
    player->ended.store(false);
    player->quietFrames.store(0);
    return Outcome::PLAYING;
}

// To the start of the order position `step` away, as a time, so that the clock stays right; an
// order that one pass from the start never plays is jumped to.
Outcome moveOrder(Player* player, int step) {
    int order = std::max(positionNow(*player).order + step, 0);
    brom_module* spare = spareModule(player);
    // A subsong played alone: the orders it plays, which may lie past the song's end marker.
    if (player->live.subsong >= 0 && spare) {
        while (order >= 0 && order < 256 &&
               brom_order_subsong(spare, order) != player->live.subsong) {
            order += step;
        }
        if (order < 0) return Outcome::PLAYING;
        if (order >= 256) return moveSubsong(player, 1);
    } else if (order >= player->song.song_length) {
        return Outcome::NEXT_FILE;
    }
    const int64_t ms = spare ? brom_order_time_ms(spare, order) : -1;
    if (ms >= 0) {
        seekTo(player, ms);
    } else {
        DeviceLock hold;
        brom_seek_order_row(player->source.module, order, 0);
    }
    return Outcome::PLAYING;
}

void seekBy(Player* player, int64_t ms) {
    seekTo(player, std::max<int64_t>(positionNow(*player).time_ms + ms, 0));
}

Outcome handleKey(Player* player, int key) {
    switch (key) {
        case ' ':
            player->paused = !player->paused;
            soundPause(player->paused);
            return Outcome::PLAYING;
        case KEY_LEFT: return moveOrder(player, -1);
        case KEY_RIGHT: return moveOrder(player, 1);
        case KEY_UP: seekBy(player, -SEEK_STEP_MS); return Outcome::PLAYING;
        case KEY_DOWN: seekBy(player, SEEK_STEP_MS); return Outcome::PLAYING;
        case '+':
        case '=': changeGain(player, GAIN_STEP_DB); return Outcome::PLAYING;
        case '-':
        case '_': changeGain(player, -GAIN_STEP_DB); return Outcome::PLAYING;
        case '!': unmuteAll(player); return Outcome::PLAYING;
        case 'l':
        case 'L': toggleLoop(player); return Outcome::PLAYING;
        case 'v':
        case 'V': player->patternShown = !player->patternShown; return Outcome::PLAYING;
        case '>':
        case '.': return moveSubsong(player, 1);
        case '<':
        case ',': return moveSubsong(player, -1);
        case 'n':
        case 'N': return Outcome::NEXT_FILE;
        case 'p':
        case 'P': return Outcome::PREVIOUS_FILE;
        case 'h':
        case '?':
            player->helpUntil =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(HELP_MS);
            return Outcome::PLAYING;
        case 'q':
        case 'Q':
        case KEY_ESCAPE: return Outcome::QUIT;
        default:
            if (key >= '1' && key <= '9') toggleMute(player, key - '1');
            if (key == '0') toggleMute(player, 9);
            return Outcome::PLAYING;
    }
}

StatusView statusOf(const Player& player, int fileCount) {
    StatusView view = {};
    view.fileNumber = player.fileNumber;
    view.fileCount = fileCount;
    brom_get_position(player.source.module, &view.position);
    view.subsongCount = player.subsongs;
    view.subsong = player.live.subsong >= 0
                       ? player.live.subsong
                       : std::max(brom_order_subsong(player.source.module, view.position.order), 0);
    view.songLength = player.song.song_length;
    view.durationMs = player.durationMs;
    view.paused = player.paused;
    view.looping = looping(player.live);
    view.gainDb = player.live.gainDb;
    view.channels = player.song.channels;
    view.mutedChannels = player.live.mutedChannels;
    for (int c = 0; c < view.channels && c < STATUS_CHANNELS; ++c) {
        float left = 0, right = 0;
        brom_channel_peak(player.source.module, c, &left, &right);
        view.peaks[c] = std::max(left, right);
    }
    view.backgroundNotes = brom_background_notes(player.source.module);
    return view;
}

// Replaces the status line in place, padded with spaces to the width (which also covers a longer
// line before it) and never into the last column, and below it the lines of `view`. The cursor
// waits at the line's start: when the window narrows and the terminal wraps the old line into
// several rows, it stays on the first, and the next line clears the rows below it. The view's
// lines are written on the lines below, then the cursor goes back up: the first time, at the
// bottom of the screen, that makes room once; then they are rewritten in place.
// When the window narrows, terminals differ in where they leave the cursor among the rows the old
// line was wrapped into (some on the first, some on the last, some do not rewrap at all), so the
// screen is cleared and the file's line written again above the new status line.
void showLine(Player* player, const std::string& line, const std::vector<std::string>& view = {}) {
    const int width = terminalWidth();
    if (line == player->shown && view == player->shownView && width == player->shownWidth) return;
    if (width < player->shownWidth && !player->shown.empty() && *terminalClearBelow()) {
        printf("\033[H%s%s\n", terminalClearBelow(), player->announced.c_str());
    }
    const int pad = width - 1 - statusColumns(line);
    printf("\r%s%*s%s", line.c_str(), pad > 0 ? pad : 0, "", terminalClearBelow());
    for (const std::string& text : view) printf("\n\r%s", text.c_str());
    if (!view.empty()) printf("\033[%zuA", view.size());
    printf("\r");
    fflush(stdout);
    player->shown = line;
    player->shownView = view;
    player->shownWidth = width;
}

void drawStatus(Player* player, int fileCount) {
    const int width = terminalWidth();
    if (std::chrono::steady_clock::now() < player->helpUntil) {
        showLine(player,
                 std::string(KEY_HELP).substr(0, static_cast<size_t>(std::max(width - 1, 0))));
        return;
    }
    StatusView view;
    std::vector<std::string> pattern;
    // The view needs a screen that moves the cursor, and a line for each row.
    const int rows = std::min(PATTERN_ROWS, terminalHeight() - 3);
    {
        DeviceLock hold;
        view = statusOf(*player, fileCount);
        if (player->patternShown && *terminalClearBelow() && rows > 0) {
            pattern = patternViewLines(player->source.module, view.position, rows, width);
        }
    }
    showLine(player, formatStatus(view, width, terminalUtf8()), pattern);
}

// Leaves the line of the file above as it was and the cursor at the start of an empty line.
void clearStatus(Player* player) {
    if (player->shown.empty()) return;
    showLine(player, "");
}

// Swaps `next` in as the source the device plays; the old source goes back in `next`.
void startFile(Player* player, Source* next, const char* path) {
    {
        DeviceLock hold;
        std::swap(player->source, *next);
        player->ended.store(false);
        player->quietFrames.store(0);
    }
    closeSource(next);
    brom_free(player->spare);
    player->spare = nullptr;
    player->path = path;
    soundPause(player->paused);
}

Outcome playFile(Player* player, int fileCount) {
    for (;;) {
        const int key = terminalReadKey(TICK_MS);
        if (terminalSignal()) return Outcome::SIGNALLED;
        if (key != KEY_NONE) {
            const Outcome outcome = handleKey(player, key);
            if (outcome != Outcome::PLAYING) return outcome;
        }
        if (playedOut(*player)) return Outcome::NEXT_FILE;
        if (terminalHasScreen()) drawStatus(player, fileCount);
    }
}

// Reads what the status line needs before the file starts, and says which file it is.
void announce(Player* player, Source* next, const char* path, int fileCount) {
    player->durationMs = brom_duration_ms(next->module);
    player->subsongs = brom_subsong_count(next->module);
    brom_get_song_info(next->module, &player->song);
    char duration[24];
    formatDuration(player->durationMs, duration);
    char line[1024];
    snprintf(line, sizeof line, "%d/%d  %s  \"%s\"  %s", player->fileNumber, fileCount, path,
             terminalText(brom_title(next->module)).c_str(), duration);
    player->announced = line;
    printf("%s\n", line);
    fflush(stdout);
}

}  // namespace

int runPlay(const Options& options) {
    Player player;
    player.live = options;
    player.fadeAtEnd = options.end == BROM_END_FADE;
    if (!soundOpen(options.rate, fillFrames, &player)) {
        fprintf(stderr, "brom-play: no sound device: %s\n", soundError());
        return 1;
    }
    terminalStart();
    const int count = static_cast<int>(options.files.size());
    int status = 0;
    int index = 0;
    int direction = 1;  // where to go past a file that does not load
    while (index >= 0 && index < count) {
        Source next;
        player.live.subsong = options.subsong;  // the subsong keys count for one file
        if (!openSource(&next, options.files[index], player.live)) {
            status = 1;
            if (index == 0) direction = 1;
            index += direction;
            continue;
        }
        player.fileNumber = index + 1;
        announce(&player, &next, options.files[index], count);
        startFile(&player, &next, options.files[index]);
        const Outcome outcome = playFile(&player, count);
        clearStatus(&player);
        if (outcome == Outcome::QUIT) break;
        if (outcome == Outcome::SIGNALLED) {
            status = 128 + terminalSignal();
            break;
        }
        direction = outcome == Outcome::PREVIOUS_FILE ? -1 : 1;
        index = std::max(index + direction, 0);
    }
    terminalStop();
    soundClose();
    closeSource(&player.source);
    brom_free(player.spare);
    return status;
}
