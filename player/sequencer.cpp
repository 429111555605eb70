#include "player/sequencer.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "player/voice_pool.h"

namespace {

// A pattern the order table names but the song lacks has no rows.
int32_t rowCountAt(const Song* song, int32_t order) {
    const Pattern* pattern = patternAtOrder(song, order);
    return pattern ? pattern->rowCount : 0;
}

const NoteCell* rowCells(const Song* song, int32_t order, int32_t row) {
    const Pattern* pattern = patternAtOrder(song, order);
    if (!pattern || !pattern->cells || song->channelCount <= 0) return nullptr;
    if (row < 0 || row >= pattern->rowCount) return nullptr;
    return pattern->cells + static_cast<size_t>(row) * static_cast<size_t>(song->channelCount);
}

bool rowBitSet(const uint8_t* rows, int32_t order, int32_t row) {
    const int bit = order * 256 + row;
    return (rows[bit >> 3] >> (bit & 7)) & 1;
}

// A subsong that starts beyond the song's length (after the end marker that ends it) plays up to
// the next end marker.
int32_t orderEndFrom(const Song* song, int32_t order) {
    if (order < song->songLength) return song->songLength;
    while (order < MAX_ORDERS && song->orderTable[order] != ORDER_END) ++order;
    return order;
}

// Passes over the order list's markers: a skip marker to the position after it, the end marker
// (or the end of the list) back to the restart position. A list of nothing but markers stays
// where it is.
void passMarkers(PlayState* state) {
    const Song* song = state->song;
    for (int guard = 0; guard < MAX_ORDERS; ++guard) {
        const int32_t order = state->orderPosition;
        if (order < 0 || order >= state->orderEnd || order >= MAX_ORDERS) return;
        const uint16_t entry = song->orderTable[order];
        if (entry == ORDER_SKIP) {
            state->orderPosition = order + 1 < state->orderEnd ? order + 1 : song->restartPosition;
        } else if (entry == ORDER_END) {
            state->orderPosition = song->restartPosition;
        } else {
            return;
        }
        state->row = 0;
    }
}

// Takes the pending jump or next row. Whatever the song's fields hold, the position stays inside
// the song: an order position outside it goes back to order 0, and a row the pattern does not
// have (a pattern break beyond a short pattern, say) starts the pattern at row 0.
void enterPosition(PlayState* state) {
    const Song* song = state->song;
    if (state->nextOrderPosition >= 0) state->orderPosition = state->nextOrderPosition;
    if (state->nextRow >= 0) state->row = state->nextRow;
    passMarkers(state);
    if (state->orderPosition < 0 || state->orderPosition >= state->orderEnd ||
        state->orderPosition >= MAX_ORDERS) {
        state->orderPosition = 0;
    }
    if (state->row < 0 || state->row >= rowCountAt(song, state->orderPosition)) state->row = 0;
    if (state->otherSongRows && state->row < 256 &&
        rowBitSet(state->otherSongRows, state->orderPosition, state->row)) {
        state->orderPosition = state->songStartOrder;
        state->row = state->songStartRow;
        state->hasRepeated = 1;
    }
}

// Marks the (order, row) pair as played; reaching one already played, other than by an E6x loop,
// means the song has come round. Rows from 256 on are not tracked.
void notePlayedRow(PlayState* state) {
    LoopReplay& loopReplay = state->loopReplay;
    const bool replay = loopReplay.active && state->orderPosition == loopReplay.order &&
                        state->row <= loopReplay.lastRow;
    if (!replay) loopReplay.active = false;
    if (state->row >= 256) return;
    const int bit = state->orderPosition * 256 + state->row;
    const uint8_t mask = static_cast<uint8_t>(1 << (bit & 7));
    uint8_t& byte = state->playedRows[bit >> 3];
    if ((byte & mask) && !replay) state->hasRepeated = 1;
    byte |= mask;
}

void rememberLoopJump(PlayState* state) {
    LoopReplay& loopReplay = state->loopReplay;
    int32_t lastRow = state->startedRow;
    // An inner loop inside an outer one must not shorten the outer one's replay.
    if (loopReplay.active && loopReplay.order == state->orderPosition &&
        loopReplay.lastRow > lastRow) {
        lastRow = loopReplay.lastRow;
    }
    loopReplay = {true, state->orderPosition, lastRow};
}

// A break's or jump's row passed over: the one after it, or the next position's first.
void skipBreakRow(PlayState* state) {
    const int32_t order =
        state->nextOrderPosition >= 0 ? state->nextOrderPosition : state->orderPosition;
    state->nextRow += 1;
    if (state->nextRow < rowCountAt(state->song, order)) return;
    state->nextOrderPosition = order + 1 >= state->orderEnd ? 0 : order + 1;
    state->nextRow = 0;
}

// The row after this one, unless a jump or break has chosen it already.
void chooseNextRow(PlayState* state) {
    if (state->nextRow != -1) {
        state->loopReplay.active = false;  // a jump or break leaves any loop
        if (state->patternDelayTicks > 0 && (state->behaviours & BEHAVIOUR_DELAYED_BREAK_SKIPS_ROW))
            skipBreakRow(state);
        return;
    }
    if (state->row != state->startedRow) rememberLoopJump(state);
    state->nextRow = state->row + 1;
    if (state->nextRow >= rowCountAt(state->song, state->orderPosition)) {
        state->nextOrderPosition = state->orderPosition + 1;
        if (state->nextOrderPosition >= state->orderEnd) {
            state->nextOrderPosition = state->song->restartPosition;
        }
        state->nextRow = 0;
    }
}

}  // namespace

PlayState* createPlayState(const Song* song) {
    auto* state = static_cast<PlayState*>(calloc(1, sizeof(PlayState)));
    if (state) state->song = song;
    return state;
}

void destroyPlayState(PlayState* state) { free(state); }

void startSongPosition(PlayState* state, Voice* voices, int32_t sampleRate) {
    const Song* song = state->song;
    // The format's row, and what the file itself asks for (S3M's header flags).
    state->behaviours = profileBehaviours(state->profile, song->format) | song->fileBehaviours;
    state->voices = voices;
    state->sampleRate = sampleRate;
    state->startedRow = -1;
    state->loopReplay = {};
    state->globalVolume = song->initialGlobalVolume;
    state->globalVolumeSlideMemory = 0;
    state->amigaLedFilter = 0;
    state->speed = song->defaultSpeed;
    state->row = 0;
    state->orderPosition = 0;
    state->nextOrderPosition = -1;
    state->nextRow = -1;
    state->tickSamplesLeft = 0;
    state->tick = 0;
    state->patternDelayTicks = 0;
    state->songTimeMs = 0;
    memset(state->playedRows, 0, sizeof state->playedRows);
    state->hasRepeated = 0;
    state->otherSongRows = nullptr;
    state->orderEnd = song->songLength;
    state->songStartOrder = 0;
    state->songStartRow = 0;
    for (int32_t i = 0; i < song->sampleCount && i < MAX_SONG_SAMPLES; ++i)
        state->sampleFinetune[i] = song->samples[i].finetune;
    setBpm(state, song->defaultBpm);
    const int channels = playedChannelCount(song);
    for (int c = 0; c < channels; ++c) {
        ChannelState& channel = state->channels[c];
        channel = ChannelState{};
        channel.voice = &voices[firstVoiceOf(c)];
        channel.panning = song->channelPanning[c];
        channel.channelVolume = song->channelVolume[c];
        channel.filterCutoff = 127;  // no filter until an instrument or a macro sets one
        channel.surround = (song->channelFlags[c] & CHANNEL_SURROUND) ? 1 : 0;
        channel.owner = c;
    }
    for (ChannelState& slot : state->background) slot = ChannelState{};
}

void setBpm(PlayState* state, int bpm) {
    if (bpm < 1) bpm = 1;
    state->bpm = bpm;
    // Evaluated step by step in extended precision: bpm 35 and 70 fall just short of an integer.
    long double step = static_cast<long double>(bpm + bpm) / 5.0L;
    step = 1000.0L / step;
    step = step * static_cast<long double>(state->sampleRate);
    step = step / 1000.0L;
    int32_t frames = static_cast<int32_t>(step);
    state->samplesPerTick = frames < 1 ? 1 : frames;
}

void playerTick(PlayState* state) {
    if (!state->voices) return;  // never started
    if (state->tick == 0) {
        enterPosition(state);
        notePlayedRow(state);
        processRow(state);
        chooseNextRow(state);
    } else {
        processTickEffects(state);
    }
    // A row lasts speed + patternDelayTicks ticks, at least one.
    state->tick += 1;
    if (state->tick >= state->speed + state->patternDelayTicks) {
        state->tick = 0;
        state->patternDelayTicks = 0;
    }
}

void processRow(PlayState* state) {
    state->nextOrderPosition = -1;
    state->nextRow = -1;
    state->startedRow = state->row;
    const NoteCell* cells = rowCells(state->song, state->orderPosition, state->row);
    if (cells) {
        // Channels act in order: a later channel sees what the earlier ones did to the state.
        bool jumpSeen = false;
        const int channels = playedChannelCount(state->song);
        for (int c = 0; c < channels; ++c)
            startChannelRow(state, &state->channels[c], cells[c], &jumpSeen);
    }
    processBackgroundChannels(state);
}

void jumpToPosition(PlayState* state, int32_t order, int32_t row) {
    state->nextOrderPosition = order;
    state->nextRow = row;
    state->tick = 0;
    state->patternDelayTicks = 0;
    memset(state->playedRows, 0, sizeof state->playedRows);
    state->hasRepeated = 0;
    state->loopReplay.active = false;
}

void startSubsongAt(PlayState* state, int32_t order, int32_t row, const uint8_t* otherSongRows) {
    jumpToPosition(state, order, row);
    state->orderPosition = order;  // where the song stands until its first tick
    state->row = row;
    state->orderEnd = orderEndFrom(state->song, order);
    state->otherSongRows = otherSongRows;
    state->songStartOrder = order;
    state->songStartRow = row;
}

void forgetPlayedRows(PlayState* state) {
    memset(state->playedRows, 0, sizeof state->playedRows);
    state->hasRepeated = 0;
    if (state->row < 0 || state->row >= 256 || state->orderPosition < 0 ||
        state->orderPosition >= 256) {
        return;
    }
    const int bit = state->orderPosition * 256 + state->row;
    state->playedRows[bit >> 3] |= static_cast<uint8_t>(1 << (bit & 7));
}

const NoteCell* currentRowCells(const PlayState* state) {
    return rowCells(state->song, state->orderPosition, state->startedRow);
}

int32_t currentRow(const PlayState* state) {
    return state->startedRow >= 0 ? state->startedRow : state->row;
}

int playedChannelCount(const Song* song) {
    if (song->channelCount <= 0) return 0;
    return song->channelCount < MAX_PLAYER_CHANNELS ? song->channelCount : MAX_PLAYER_CHANNELS;
}

int channelLevel(const PlayState* state, int channel) {
    if (channel < 0 || channel >= playedChannelCount(state->song)) return 0;
    const Voice* voice = state->channels[channel].voice;
    if (!voice || !voice->sample) return 0;
    const int32_t level =
        voice->volumeLeft > voice->volumeRight ? voice->volumeLeft : voice->volumeRight;
    return level < 0 ? 0 : level > 255 ? 255 : level;
}
