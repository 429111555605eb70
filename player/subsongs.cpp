#include "player/subsongs.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "player/voice_pool.h"

namespace {

constexpr int32_t MOST_VISITS = 256 * 256;

bool bitSet(const uint8_t* rows, int bit) { return (rows[bit >> 3] >> (bit & 7)) & 1; }
void setBit(uint8_t* rows, int bit) { rows[bit >> 3] |= static_cast<uint8_t>(1 << (bit & 7)); }

// The first order position from `order` on that no subsong plays and that holds a pattern; -1
// when there is none. Where an end marker ends the song, the positions the list holds after it
// count too (songs that only a player looking past the marker finds).
int32_t nextStart(const Song* song, const bool* orderPlayed, int32_t order) {
    const bool endMarker =
        song->songLength < MAX_ORDERS && song->orderTable[song->songLength] == ORDER_END;
    const int32_t end = endMarker ? MAX_ORDERS : song->songLength;
    for (; order < end && order < MAX_ORDERS; ++order) {
        if (!orderPlayed[order] && patternAtOrder(song, order)) return order;
    }
    return -1;
}

// The search's working records, apart from the list it fills.
struct Search {
    PlayState* state;
    Voice* voices;
    uint8_t* found;  // rows of the subsongs found so far: the next one's other songs' rows
    uint8_t* pass;  // rows of the subsong being played
    bool orderPlayed[MAX_ORDERS];
};

// Plays the next subsong from (order, 0), after the others found so far, and adds it to the list.
void playSubsong(Search* search, SubsongList* list, int32_t order, int64_t passFrames,
                 int64_t* workLeft) {
    PlayState* state = search->state;
    startSongPosition(state, search->voices, list->rate);
    if (list->count > 0) startSubsongAt(state, order, 0, search->found);
    memset(search->pass, 0, PLAYED_ROW_BYTES);
    Subsong& subsong = list->songs[list->count];
    subsong = {order, 0, list->visitCount, 0, 0, false};
    subsong.frames = playPass(state, passFrames, workLeft, [&](int32_t at, int32_t row, int64_t) {
        if (row < 0 || row >= 256 || at < 0 || at >= MAX_ORDERS) return;
        const int bit = at * 256 + row;
        if (bitSet(search->pass, bit)) return;
        setBit(search->pass, bit);
        list->visits[list->visitCount++] = static_cast<uint16_t>(bit);
        search->orderPlayed[at] = true;
    });
    subsong.cameRound = state->hasRepeated != 0;
    subsong.visitCount = list->visitCount - subsong.firstVisit;
    for (int k = 0; k < PLAYED_ROW_BYTES; ++k) search->found[k] |= search->pass[k];
    list->count += 1;
}

}  // namespace

bool findSubsongs(const Song* song, int32_t rate, int64_t passFrames, SubsongList* list) {
    *list = SubsongList{};
    list->rate = rate;
    Search search = {};
    search.state = createPlayState(song);
    search.voices = static_cast<Voice*>(calloc(VOICE_COUNT, sizeof(Voice)));
    search.found = static_cast<uint8_t*>(calloc(2, PLAYED_ROW_BYTES));
    search.pass = search.found ? search.found + PLAYED_ROW_BYTES : nullptr;
    list->visits = static_cast<uint16_t*>(malloc(MOST_VISITS * sizeof(uint16_t)));
    const bool ready = search.state && search.voices && search.found && list->visits;
    if (ready) {
        resetVoices(search.voices);
        int64_t workLeft = SUBSONG_SEARCH_WORK;
        for (int32_t order = 0; order >= 0 && list->count < MAX_SUBSONGS;
             order = nextStart(song, search.orderPlayed, order + 1)) {
            if (workLeft <= 0) {
                list->cut = true;
                break;
            }
            // The first is played whole (to passFrames), as the library measures a song's
            // duration: its length is that duration whatever it costs of the budget.
            int64_t firstWork = INT64_MAX;
            playSubsong(&search, list, order, passFrames, list->count ? &workLeft : &firstWork);
            if (list->count == 1) workLeft -= INT64_MAX - firstWork;
        }
    }
    destroyPlayState(search.state);
    free(search.voices);
    free(search.found);
    if (!ready) releaseSubsongs(list);
    return ready;
}

void releaseSubsongs(SubsongList* list) {
    free(list->visits);
    list->visits = nullptr;
    list->visitCount = 0;
    list->count = 0;
}

int32_t visitOf(const SubsongList* list, int32_t order, int32_t row) {
    const int bit = order * 256 + row;
    for (int32_t k = 0; k < list->visitCount; ++k) {
        if (list->visits[k] == bit) return k;
    }
    return firstVisitOfOrder(list, order);
}

int32_t firstVisitOfOrder(const SubsongList* list, int32_t order) {
    for (int32_t k = 0; k < list->visitCount; ++k) {
        if (list->visits[k] >> 8 == order) return k;
    }
    return -1;
}

int32_t subsongOfVisit(const SubsongList* list, int32_t visit) {
    for (int32_t k = 0; k < list->count; ++k) {
        const Subsong& subsong = list->songs[k];
        if (visit >= subsong.firstVisit && visit < subsong.firstVisit + subsong.visitCount)
            return k;
    }
    return -1;
}

void markVisits(const SubsongList* list, int32_t from, int32_t to, uint8_t* rows) {
    for (int32_t k = from < 0 ? 0 : from; k < to && k < list->visitCount; ++k) {
        setBit(rows, list->visits[k]);
    }
}
