// The songs one module holds. Game music and collections put several tunes in one order list,
// apart by end markers, by jumps that loop each tune on itself, or reached by no path from the
// start at all. The search plays the song's path without mixing (jumps, breaks, loops and markers
// as the player takes them) and marks every (order, row) played:
//
//   - subsong 0 starts at order 0 and plays until it comes round (reaches a row it has played);
//   - the first order position that no subsong has played and that holds a pattern starts the
//     next one, at row 0; it plays until it comes round, or reaches a row of a subsong found
//     before it (where it comes round too: playing it alone goes back to its start there);
//   - and so on, until every order position has been played or holds a marker or no pattern.
//
//     SubsongList list;
//     if (!findSubsongs(song, 44100, LONGEST, &list)) ...;   // memory short
//     for (int k = 0; k < list.count; ++k) ... list.songs[k].order, list.songs[k].frames ...
//     releaseSubsongs(&list);
//
// Bounded work on any file: a subsong is played for at most `passFrames` frames (where the
// library ends a song that never comes round), and the search after the first subsong stops once
// all of them together have taken SUBSONG_SEARCH_WORK channel-ticks (a tick of 8 channels counts
// 8; a song of no channels counts 1 a tick); a search cut short keeps the subsongs found so far.
// The first subsong is always played whole: its length is the song's duration. There are at most as
// many subsongs as order positions.
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/player_state.h"
#include "player/sequencer.h"

constexpr int MAX_SUBSONGS = MAX_ORDERS;
// 2^24: about 23 hours of a 4-channel song at the usual 50 ticks a second, 3 of a 32-channel
// one; under a second of work for the slowest.
constexpr int64_t SUBSONG_SEARCH_WORK = int64_t{1} << 24;

struct Subsong {
    int32_t order;  // where it starts
    int32_t row;
    // Its rows, in the order first played: entries firstVisit .. firstVisit + visitCount - 1 of
    // SubsongList::visits.
    int32_t firstVisit;
    int32_t visitCount;
    int64_t frames;  // one pass at the search's rate, to the frame where it comes round
    bool cameRound;  // false: cut at passFrames
};

struct SubsongList {
    int32_t rate;
    int32_t count;
    Subsong songs[MAX_SUBSONGS];
    // Every (order, row) some subsong plays, as order * 256 + row, subsong after subsong and in
    // each in the order first played; at most 65536 (rows from 256 on are not tracked).
    uint16_t* visits;
    int32_t visitCount;
    bool cut;  // the search ran out of ticks: order positions may be left unexamined
};

// Finds the song's subsongs and their lengths at `rate`; false (and an empty list) when memory
// is short. The list is released with releaseSubsongs.
bool findSubsongs(const Song* song, int32_t rate, int64_t passFrames, SubsongList* list);
void releaseSubsongs(SubsongList* list);

// The entry of `visits` that plays (order, row); when no subsong plays that row, the first entry
// of the order position; -1 when none plays the order at all.
int32_t visitOf(const SubsongList* list, int32_t order, int32_t row);
// The first entry of `visits` in order position `order`; -1 when none plays it.
int32_t firstVisitOfOrder(const SubsongList* list, int32_t order);
// The subsong whose rows hold visit entry `visit`; -1 for none.
int32_t subsongOfVisit(const SubsongList* list, int32_t visit);
// Sets the bits (order * 256 + row, as PlayState::playedRows) of visit entries `from` .. `to` - 1.
void markVisits(const SubsongList* list, int32_t from, int32_t to, uint8_t* rows);

// Plays a started state tick by tick, without mixing, until it comes round, `frameLimit` frames
// have gone by, or `*workLeft` (when not null) runs out, each tick taking one per channel played;
// calls `rowStarted(order, row, frame)`
// at every row start that does not come round. The frames played.
template <typename RowStarted>
int64_t playPass(PlayState* state, int64_t frameLimit, int64_t* workLeft, RowStarted rowStarted) {
    const int channels = playedChannelCount(state->song);
    const int64_t tickWork = channels > 0 ? channels : 1;
    int64_t frames = 0;
    while (frames < frameLimit && (!workLeft || *workLeft > 0)) {
        const bool rowStart = state->tick == 0;
        playerTick(state);
        if (workLeft) *workLeft -= tickWork;
        if (state->hasRepeated) break;
        if (rowStart) rowStarted(state->orderPosition, currentRow(state), frames);
        frames += state->samplesPerTick > 0 ? state->samplesPerTick : 1;
    }
    return frames < frameLimit ? frames : frameLimit;
}
