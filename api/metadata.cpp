// What a module holds (title, format, instruments, samples, patterns) and what it plays now
// (position, each channel's level, peak, state and scope).
#include <cmath>
#include <cstring>

#include "audio/mixer.h"
#include "library.h"
#include "module/cell_text.h"
#include "player/voice_pool.h"

namespace {

const Sample* sampleAt(const brom_module* module, int instrument, int sample) {
    return module ? instrumentSample(module->song, instrument, sample) : nullptr;
}

// Sample frames a peak looks at, at most, spread evenly over the stretch played.
constexpr uint32_t PEAK_PROBES = 1024;

// The loudest of the voice's sample frames within `frames` output frames of where it stands (on
// either side, a ping-pong loop turning), times its gains: left and right, 1.0 = full scale.
void voicePeak(const Voice& voice, int32_t frames, float* left, float* right) {
    *left = *right = 0;
    const Sample* sample = voice.sample;
    if (!sample || !sample->data || sample->length == 0) return;
    const double covered = (voice.step + voice.stepFraction / 4294967296.0) * frames;
    const double at = voice.position;
    double from = at - covered, to = at + covered;
    const bool looped = sample->loopMode != LOOP_NONE;
    const double loopEnd = static_cast<double>(sample->loopStart) + sample->loopLength;
    // A stretch that reaches the loop's ends has played the whole loop.
    if (looped && to >= loopEnd) from = from < sample->loopStart ? from : sample->loopStart;
    from = from < 0 ? 0 : from;
    to = to > sample->length - 1 ? sample->length - 1 : to;
    const uint32_t first = static_cast<uint32_t>(from), last = static_cast<uint32_t>(to);
    const uint32_t stride = (last - first) / PEAK_PROBES + 1;
    int32_t loudest = 0;
    for (uint32_t k = first; k <= last && k >= first; k += stride) {
        const int32_t value = sample->data[k] < 0 ? -sample->data[k] : sample->data[k];
        loudest = value > loudest ? value : loudest;
    }
    // As the mixer scales: a level of 255 x 256 is a hair under 1.0.
    const double scale = loudest / 32768.0 / 256.0 * GAIN_SCALE;
    *left = static_cast<float>(voice.levelLeft * scale);
    *right = static_cast<float>(voice.levelRight * scale);
}

}  // namespace

extern "C" {

const char* brom_version(void) { return "1.0.0"; }

int brom_get_position(const brom_module* module, brom_position* position) {
    if (!module || !position) return 0;
    const Song* song = module->song;
    const PlayState* state = module->engine->state;
    const BlockInfo* info = takenInfo(module);
    const int32_t order = info ? info->order : state->orderPosition;
    position->time_ms = module->cursor.frame * 1000 / module->rate;
    position->order = order;
    position->pattern = order >= 0 && order < MAX_ORDERS ? song->orderTable[order] : 0;
    position->row = info ? info->row : currentRow(state);
    position->speed = info ? info->speed : state->speed;
    position->bpm = info ? info->bpm : state->bpm;
    return 1;
}

int brom_channel_count(const brom_module* module) {
    return module ? module->song->channelCount : 0;
}

int brom_channel_level(const brom_module* module, int channel) {
    if (!module || channel < 0 || channel >= playedChannelCount(module->song)) return 0;
    const BlockInfo* info = takenInfo(module);
    return info ? info->levels[channel] : channelLevel(module->engine->state, channel);
}

int brom_background_notes(const brom_module* module) {
    if (!module) return 0;
    const BlockInfo* info = takenInfo(module);
    return info ? info->backgroundNotes : backgroundNotesOf(module->engine->state, -1);
}

int brom_channel_peak(const brom_module* module, int channel, float* left, float* right) {
    if (!module || !left || !right || channel < 0 || channel >= playedChannelCount(module->song)) {
        return 0;
    }
    *left = *right = 0;
    const AudioEngine* engine = module->engine;
    if (module->cursor.frames == 0 || ((engine->controls.mutedChannels >> channel) & 1)) return 1;
    const BlockInfo* info = takenInfo(module);
    const Voice* voice =
        info ? &info->views[channel].voice : engine->state->channels[channel].voice;
    if (!voice) return 1;
    float l = 0, r = 0;
    voicePeak(*voice, engine->settings.blockFrames, &l, &r);
    // The output controls as the mix has them: width about the middle, then the gain.
    const double width = engine->controls.stereoSeparation / 100.0;
    const double mid = (l + r) * 0.5, side = (l - r) * 0.5;
    const double gain = engine->controls.outputGain;
    *left = static_cast<float>(std::fabs(mid + side * width) * gain);
    *right = static_cast<float>(std::fabs(mid - side * width) * gain);
    return 1;
}

brom_module_format brom_format(const brom_module* module) {
    if (!module) return BROM_FORMAT_UNKNOWN;
    switch (module->song->format) {
        case FORMAT_XM: return BROM_FORMAT_XM;
        case FORMAT_MOD: return BROM_FORMAT_MOD;
        case FORMAT_S3M: return BROM_FORMAT_S3M;
        case FORMAT_IT: return BROM_FORMAT_IT;
        case FORMAT_COUNT: break;
    }
    return BROM_FORMAT_UNKNOWN;
}

const char* brom_format_name(brom_module_format format) {
    switch (format) {
        case BROM_FORMAT_XM: return "XM";
        case BROM_FORMAT_MOD: return "MOD";
        case BROM_FORMAT_S3M: return "S3M";
        case BROM_FORMAT_IT: return "IT";
        case BROM_FORMAT_UNKNOWN: break;
    }
    return "";
}

const char* brom_title(const brom_module* module) { return module ? module->song->title : ""; }

const char* brom_tracker(const brom_module* module) { return module ? module->song->tracker : ""; }

const char* brom_message(const brom_module* module) {
    return module && module->song->message ? module->song->message : "";
}

int brom_instrument_note(const brom_module* module, int instrument, int note, int* played) {
    if (instrument < 0 || instrument >= brom_instrument_count(module) || note < 0 ||
        note >= NOTE_COUNT) {
        return -1;
    }
    const KeyboardEntry& key = module->song->instruments[instrument].keyboard[note];
    if (played) *played = key.note;
    return key.sample >= 0 && key.sample < module->song->sampleCount ? key.sample : -1;
}

int brom_instrument_count(const brom_module* module) {
    return module && module->song->instruments ? module->song->instrumentCount : 0;
}

const char* brom_instrument_name(const brom_module* module, int index) {
    if (index < 0 || index >= brom_instrument_count(module)) return "";
    return module->song->instruments[index].name;
}

int brom_sample_count(const brom_module* module, int instrument) {
    if (instrument < 0 || instrument >= brom_instrument_count(module)) return 0;
    const int count = module->song->instruments[instrument].sampleCount;
    return count < MAX_INSTRUMENT_SAMPLES ? count : MAX_INSTRUMENT_SAMPLES;
}

const char* brom_sample_name(const brom_module* module, int instrument, int sample) {
    const Sample* found = sampleAt(module, instrument, sample);
    return found ? found->name : "";
}

int brom_get_song_info(const brom_module* module, brom_song_info* info) {
    if (!module || !info) return 0;
    const Song* song = module->song;
    info->channels = song->channelCount;
    info->song_length = song->songLength;
    info->restart = song->restartPosition;
    info->patterns = song->patternCount;
    info->instruments = brom_instrument_count(module);
    info->speed = song->defaultSpeed;
    info->bpm = song->defaultBpm;
    info->linear = usesLinearPeriods(song) ? 1 : 0;
    return 1;
}

int brom_order_pattern(const brom_module* module, int order) {
    if (!module || order < 0 || order >= module->song->songLength) return -1;
    const uint16_t entry = module->song->orderTable[order];
    return entry == ORDER_SKIP || entry == ORDER_END ? -1 : entry;
}

int brom_pattern_rows(const brom_module* module, int pattern) {
    if (!module || !module->song->patterns || pattern < 0 ||
        pattern >= module->song->patternCount) {
        return -1;
    }
    return module->song->patterns[pattern].rowCount;
}

int brom_get_instrument_info(const brom_module* module, int instrument,
                             brom_instrument_info* info) {
    if (!info || instrument < 0 || instrument >= brom_instrument_count(module)) return 0;
    const Instrument& ins = module->song->instruments[instrument];
    info->samples = brom_sample_count(module, instrument);
    info->volume_points = ins.volumeEnvelope.pointCount;
    info->volume_envelope = (ins.volumeEnvelope.flags & ENVELOPE_ON) ? 1 : 0;
    info->panning_points = ins.panningEnvelope.pointCount;
    info->panning_envelope = (ins.panningEnvelope.flags & ENVELOPE_ON) ? 1 : 0;
    info->fadeout = ins.fadeout;
    info->vibrato_type = ins.vibratoType;
    info->vibrato_sweep = ins.vibratoSweep;
    info->vibrato_depth = ins.vibratoDepth;
    info->vibrato_rate = ins.vibratoRate;
    return 1;
}

int brom_get_pattern_cell(const brom_module* module, int pattern, int row, int channel,
                          brom_cell* cell) {
    const int rows = brom_pattern_rows(module, pattern);
    if (!cell || row < 0 || row >= rows || channel < 0 || channel >= module->song->channelCount ||
        !module->song->patterns[pattern].cells) {
        return 0;
    }
    const NoteCell& at =
        module->song->patterns[pattern].cells[row * module->song->channelCount + channel];
    const uint8_t note = at.shownNote ? at.shownNote : at.note;
    cell->note = note == NOTE_KEY_OFF ? 97 : note;
    cell->instrument = at.instrument;
    cell->volume = at.shownVolume;
    cell->effect = at.shownEffect;
    cell->param = at.shownParam;
    return 1;
}

int brom_get_sample_info(const brom_module* module, int instrument, int sample,
                         brom_sample_info* info) {
    const Sample* found = sampleAt(module, instrument, sample);
    if (!found || !info) return 0;
    const bool looped = found->loopMode != LOOP_NONE;
    info->length = found->length;
    info->loop_start = looped ? found->loopStart : 0;
    info->loop_length = looped ? found->loopLength : 0;
    info->loop = found->loopMode == LOOP_FORWARD    ? BROM_LOOP_FORWARD
                 : found->loopMode == LOOP_PINGPONG ? BROM_LOOP_PING_PONG
                                                    : BROM_LOOP_NONE;
    info->volume = found->volume;
    info->finetune = found->finetune;
    info->panning = found->panning;
    info->relative_note = found->relativeNote;
    info->bits = found->fileBits ? found->fileBits : found->bits;
    return 1;
}

int brom_set_scope_frames(brom_module* module, int frames) {
    constexpr int MOST_SCOPE_FRAMES = 8192;
    if (!module || frames < 0 || frames > MOST_SCOPE_FRAMES) return 0;
    ModuleViews& views = module->views;
    views.blockHasStems = false;
    if (setScopeFrames(&views, module->song->channelCount, frames) &&
        prepareViews(&views, module->engine)) {
        return 1;
    }
    setScopeFrames(&views, 0, 0);
    prepareViews(&views, module->engine);
    return 0;
}

int brom_channel_scope(const brom_module* module, int channel, float* stereo, int frames) {
    if (!module || !stereo || frames < 0) return 0;
    return copyScope(&module->views, channel, stereo, frames);
}

int brom_get_channel_state(const brom_module* module, int channel, brom_channel_state* state) {
    if (!module || !state || channel < 0 || channel >= playedChannelCount(module->song)) return 0;
    const BlockInfo* info = takenInfo(module);
    const ChannelView view =
        info ? info->views[channel] : viewChannel(module->engine->state, channel);
    state->note = view.note;
    state->instrument = view.instrument;
    state->sample = view.sample;
    state->volume = view.volume;
    state->panning = view.panning;
    const Voice& voice = view.voice;
    state->frequency =
        voice.sample ? (voice.step + voice.stepFraction / 4294967296.0) * module->rate : 0.0;
    state->voices = view.voices;
    return 1;
}

int brom_cell_text(const brom_module* module, int pattern, int row, int channel, char* text,
                   int size) {
    const int rows = brom_pattern_rows(module, pattern);
    if (!text || row < 0 || row >= rows || channel < 0 || channel >= module->song->channelCount ||
        !module->song->patterns[pattern].cells) {
        return 0;
    }
    const Song* song = module->song;
    char cell[CELL_TEXT_SIZE];
    const int length = formatCellText(
        song->format, song->patterns[pattern].cells[row * song->channelCount + channel], cell);
    if (size <= length) return 0;
    memcpy(text, cell, static_cast<size_t>(length) + 1);
    return length;
}

}  // extern "C"
