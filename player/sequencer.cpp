#include "player/sequencer.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

const Pattern* patternAt(const Song* song, int32_t order) {
    if (!song->patterns || order < 0 || order >= 256) return nullptr;
    const int index = song->orderTable[order];
    if (index >= song->patternCount) return nullptr;
    return &song->patterns[index];
}

// A pattern the order table names but the song lacks has no rows.
int32_t rowCountAt(const Song* song, int32_t order) {
    const Pattern* pattern = patternAt(song, order);
    return pattern ? pattern->rowCount : 0;
}

const NoteCell* rowCells(const Song* song, int32_t order, int32_t row) {
    const Pattern* pattern = patternAt(song, order);
    if (!pattern || !pattern->cells || song->channelCount <= 0) return nullptr;
    if (row < 0 || row >= pattern->rowCount) return nullptr;
    return pattern->cells + static_cast<size_t>(row) * static_cast<size_t>(song->channelCount);
}

// Takes the pending jump or next row. Whatever the song's fields hold, the position stays inside
// the song: an order position outside it goes back to order 0, and a row the pattern does not
// have (a pattern break beyond a short pattern, say) starts the pattern at row 0.
void enterPosition(Song* song) {
    if (song->nextOrderPosition >= 0) song->orderPosition = song->nextOrderPosition;
    if (song->nextRow >= 0) song->row = song->nextRow;
    if (song->orderPosition < 0 || song->orderPosition >= song->songLength ||
        song->orderPosition >= 256) {
        song->orderPosition = 0;
    }
    if (song->row < 0 || song->row >= rowCountAt(song, song->orderPosition)) song->row = 0;
}

// Marks the (order, row) pair as played; reaching one already played, other than by an E6x loop,
// means the song has come round. Rows from 256 on are not tracked.
void notePlayedRow(Song* song) {
    LoopReplay& loopReplay = song->player->loopReplay;
    const bool replay = loopReplay.active && song->orderPosition == loopReplay.order &&
                        song->row <= loopReplay.lastRow;
    if (!replay) loopReplay.active = false;
    if (song->row >= 256) return;
    const int bit = song->orderPosition * 256 + song->row;
    const uint8_t mask = static_cast<uint8_t>(1 << (bit & 7));
    uint8_t& byte = song->playedRows[bit >> 3];
    if ((byte & mask) && !replay) song->hasRepeated = 1;
    byte |= mask;
}

void rememberLoopJump(const Song* song) {
    LoopReplay& loopReplay = song->player->loopReplay;
    int32_t lastRow = song->player->startedRow;
    // An inner loop inside an outer one must not shorten the outer one's replay.
    if (loopReplay.active && loopReplay.order == song->orderPosition &&
        loopReplay.lastRow > lastRow) {
        lastRow = loopReplay.lastRow;
    }
    loopReplay = {true, song->orderPosition, lastRow};
}

// The row after this one, unless a jump or break has chosen it already.
void chooseNextRow(Song* song) {
    if (song->nextRow != -1) {
        song->player->loopReplay.active = false;  // a jump or break leaves any loop
        return;
    }
    if (song->row != song->player->startedRow) rememberLoopJump(song);
    song->nextRow = song->row + 1;
    if (song->nextRow >= rowCountAt(song, song->orderPosition)) {
        song->nextOrderPosition = song->orderPosition + 1;
        if (song->nextOrderPosition >= song->songLength) {
            song->nextOrderPosition = song->restartPosition;
        }
        song->nextRow = 0;
    }
}

}  // namespace

Song* loadPlayableSong(const char* path, SampleDataHook hook, LoadError* error,
                       const FileCallbacks* files) {
    Song* song = readSongWith(files, path, hook, error);
    if (song) song->tickHandler = playerTick;
    return song;
}

int startSongPosition(Song* song, Voice* voices, int32_t sampleRate) {
    if (!song->player) song->player = static_cast<PlayerState*>(calloc(1, sizeof(PlayerState)));
    if (!song->player) return 0;
    PlayerState* player = song->player;
    player->voices = voices;
    player->sampleRate = sampleRate;
    player->startedRow = -1;
    player->loopReplay = {};
    song->globalVolume = song->initialGlobalVolume;
    song->speed = song->defaultSpeed;
    song->row = 0;
    song->orderPosition = 0;
    song->nextOrderPosition = -1;
    song->nextRow = -1;
    song->tickSamplesLeft = 0;
    song->tick = 0;
    song->patternDelayTicks = 0;
    song->songTimeMs = 0;
    memset(song->playedRows, 0, sizeof song->playedRows);
    song->hasRepeated = 0;
    if (song->startHandler) song->startHandler(song);
    setBpm(song, song->defaultBpm);
    const int channels = playedChannelCount(song);
    for (int c = 0; c < channels; ++c) {
        player->channels[c] = ChannelState{};
        player->channels[c].voice = &voices[c];
        player->channels[c].panning = song->channelPanning[c];
    }
    return 1;
}

void setBpm(Song* song, int bpm) {
    if (bpm < 1) bpm = 1;
    song->bpm = bpm;
    // Evaluated step by step in extended precision: bpm 35 and 70 fall just short of an integer.
    long double step = static_cast<long double>(bpm + bpm) / 5.0L;
    step = 1000.0L / step;
    const int32_t sampleRate = song->player ? song->player->sampleRate : 0;
    step = step * static_cast<long double>(sampleRate);
    step = step / 1000.0L;
    int32_t frames = static_cast<int32_t>(step);
    song->samplesPerTick = frames < 1 ? 1 : frames;
}

void playerTick(Song* song) {
    if (!song->player) return;  // never started
    if (song->tick == 0) {
        enterPosition(song);
        notePlayedRow(song);
        processRow(song);
        chooseNextRow(song);
    } else {
        processTickEffects(song);
    }
    // A row lasts speed + patternDelayTicks ticks, at least one.
    song->tick += 1;
    if (song->tick >= song->speed + song->patternDelayTicks) {
        song->tick = 0;
        song->patternDelayTicks = 0;
    }
}

void processRow(Song* song) {
    song->nextOrderPosition = -1;
    song->nextRow = -1;
    song->player->startedRow = song->row;
    const NoteCell* cells = rowCells(song, song->orderPosition, song->row);
    if (!cells) return;
    // Channels act in order: a later channel sees what the earlier ones did to the song.
    bool jumpSeen = false;
    const int channels = playedChannelCount(song);
    for (int c = 0; c < channels; ++c)
        startChannelRow(song, &song->player->channels[c], cells[c], &jumpSeen);
}

void jumpToPosition(Song* song, int32_t order, int32_t row) {
    song->nextOrderPosition = order;
    song->nextRow = row;
    song->tick = 0;
    song->patternDelayTicks = 0;
    memset(song->playedRows, 0, sizeof song->playedRows);
    song->hasRepeated = 0;
    if (song->player) song->player->loopReplay.active = false;
}

void forgetPlayedRows(Song* song) {
    memset(song->playedRows, 0, sizeof song->playedRows);
    song->hasRepeated = 0;
    if (song->row < 0 || song->row >= 256 || song->orderPosition < 0 ||
        song->orderPosition >= 256) {
        return;
    }
    const int bit = song->orderPosition * 256 + song->row;
    song->playedRows[bit >> 3] |= static_cast<uint8_t>(1 << (bit & 7));
}

const NoteCell* currentRowCells(const Song* song) {
    if (!song->player) return nullptr;
    return rowCells(song, song->orderPosition, song->player->startedRow);
}

int32_t currentRow(const Song* song) {
    if (song->player && song->player->startedRow >= 0) return song->player->startedRow;
    return song->row;
}

int playedChannelCount(const Song* song) {
    if (song->channelCount <= 0) return 0;
    return song->channelCount < MAX_PLAYER_CHANNELS ? song->channelCount : MAX_PLAYER_CHANNELS;
}

int channelLevel(const Song* song, int channel) {
    if (!song->player || channel < 0 || channel >= playedChannelCount(song)) return 0;
    const Voice* voice = song->player->channels[channel].voice;
    if (!voice || !voice->sample) return 0;
    const int32_t level =
        voice->volumeLeft > voice->volumeRight ? voice->volumeLeft : voice->volumeRight;
    return level < 0 ? 0 : level > 255 ? 255 : level;
}
