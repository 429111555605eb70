#include "audio/song_length.h"

#include <cstdlib>

#include "audio/output_end.h"
#include "player/sequencer.h"
#include "player/subsongs.h"
#include "player/voice_pool.h"

int64_t measurePass(const Song* song, PlayProfile profile, int32_t rate, PassStart start,
                    int64_t orderFrames[MAX_ORDERS]) {
    PlayState* state = createPlayState(song);
    auto* voices = static_cast<Voice*>(calloc(VOICE_COUNT, sizeof(Voice)));
    if (!state || !voices) {
        destroyPlayState(state);
        free(voices);
        return -1;
    }
    resetVoices(voices);
    state->profile = profile;
    startSongPosition(state, voices, rate);
    if (start.otherSongRows) {
        startSubsongAt(state, start.order, start.row, start.otherSongRows);
    }
    for (int o = 0; o < MAX_ORDERS; ++o) orderFrames[o] = -1;
    const int64_t frames =
        playPass(state, LONGEST_PASS_SECONDS * rate, nullptr,
                 [orderFrames](int32_t order, int32_t, int64_t frame) {
                     if (order >= 0 && order < MAX_ORDERS && orderFrames[order] < 0) {
                         orderFrames[order] = frame;
                     }
                 });
    destroyPlayState(state);
    free(voices);
    return frames;
}
