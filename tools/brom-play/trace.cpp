// --trace: runs the player alone (no device, no mixing) and prints, after every tick, one line
// per channel with the channel's state, its voice and the song's tempo, as tab-separated numbers.
// This is the player's inner state, which the public library does not show: the one mode that
// uses the engine itself.
#include <cstdio>

#include "audio/scheduler.h"
#include "module/file_access.h"
#include "player/channel.h"
#include "player/voice.h"
#include "player/sequencer.h"
#include "tools/brom-play/brom_play.h"
#include "tools/brom-play/source.h"

namespace {

constexpr int64_t DEFAULT_TICK_LIMIT = 100000;

const char HEADER[] =
    "tickIndex\torder\trow\ttick\tchannel\tnote\tinstrument\tperiod\tperiodDelta\tvolume\t"
    "volumeDelta\tpanning\tvolumeEnvelope\tpanningEnvelope\tfadeoutVolume\tkeyOff\tvoice\t"
    "frequency\tfinalVolume\tvolumeLeft\tvolumeRight\tspeed\tbpm\tsamplesPerTick\tglobalVolume\n";

// The note as the file writes it.
int shownNote(const NoteCell& cell) { return cell.shownNote ? cell.shownNote : cell.note; }

void printChannel(const PlayState* state, int64_t tickIndex, int32_t tick, int number,
                  const ChannelState& ch, const NoteCell& cell) {
    const Voice empty{};
    const Voice& voice = ch.voice ? *ch.voice : empty;
    printf(
        "%lld\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t"
        "%d\t%d\t%d\t%d\t%d\n",
        static_cast<long long>(tickIndex), state->orderPosition, state->row, tick, number,
        shownNote(cell), cell.instrument, ch.period, ch.periodDelta, ch.volume, ch.volumeDelta,
        ch.panning, ch.volumeEnvelope.output, ch.panningEnvelope.output, ch.fadeoutVolume,
        ch.keyOff, voice.index, voice.frequency, voice.finalVolume, voice.volumeLeft,
        voice.volumeRight, state->speed, state->bpm, state->samplesPerTick, state->globalVolume);
}

// The song's channels, then the background channels that hold a note (numbered from
// MAX_PLAYER_CHANNELS on, their note and instrument those of the note they play).
void printTick(const PlayState* state, int64_t tickIndex, int32_t tick) {
    const NoteCell* cells = currentRowCells(state);
    const int channels = playedChannelCount(state->song);
    for (int c = 0; c < channels; ++c) {
        printChannel(state, tickIndex, tick, c, state->channels[c], cells ? cells[c] : NoteCell{});
    }
    for (int b = 0; b < BACKGROUND_CHANNELS; ++b) {
        const ChannelState& slot = state->background[b];
        if (!slot.active) continue;
        NoteCell shown = {};
        shown.note = static_cast<uint8_t>(slot.noteIndex + 1);
        shown.instrument = static_cast<uint8_t>(slot.instrumentIndex + 1);
        printChannel(state, tickIndex, tick, MAX_PLAYER_CHANNELS + b, slot, shown);
    }
}

}  // namespace

int runTrace(const Options& options) {
    const char* path = options.files[0];
    useStandardFiles();
    Song* song = loadSong(path, nullptr);
    if (!song) {
        fprintf(stderr, "brom-play: %s: %s\n", path, songLoadError());
        return 1;
    }
    sayRepairs(path, song->repairCount, song->repairNotes[0]);
    const int64_t ticks = options.ticks;
    Voice voices[VOICE_COUNT];
    resetVoices(voices);
    PlayState* state = createPlayState(song);
    if (!state) {
        fprintf(stderr, "brom-play: out of memory\n");
        freeSong(song);
        return 1;
    }
    PlayProfile profile = PROFILE_BROM;
    if (options.profile) profileNamed(options.profile, &profile);
    state->profile = profile;
    startSongPosition(state, voices, 44100);
    // Without a tick count: one pass through the song; the tick that comes round is not printed.
    const bool untilRepeat = ticks < 0;
    const int64_t limit = untilRepeat ? DEFAULT_TICK_LIMIT : ticks;
    // Brom's own profile leaves the trace as it has always been; another one is named first.
    if (options.profile && profile != PROFILE_BROM) {
        printf("profile\t%s\tbehaviours\t%016llx\n", profileName(profile),
               static_cast<unsigned long long>(state->behaviours));
    }
    fputs(HEADER, stdout);
    for (int64_t tickIndex = 0; tickIndex < limit; ++tickIndex) {
        const int32_t tick = state->tick;
        playerTick(state);
        if (untilRepeat && state->hasRepeated) break;
        printTick(state, tickIndex, tick);
    }
    destroyPlayState(state);
    freeSong(song);
    if (fflush(stdout) != 0) {
        fprintf(stderr, "brom-play: cannot write the trace\n");
        return 1;
    }
    return 0;
}
