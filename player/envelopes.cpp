#include "player/envelopes.h"

#include <cmath>

namespace {

// Envelope values are 16.16 in 32 bits. Point values above 32767 do not fit; they wrap as two's
// complement, which is well defined, instead of overflowing.
int32_t wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int32_t integerPart(int32_t value16_16) { return value16_16 >> 16; }

// Change per tick from point `from` to point `from` + 1; 0 for two points at the same position.
int32_t slopeBetween(const EnvelopePoint* points, int from) {
    const EnvelopePoint& a = points[from];
    const EnvelopePoint& b = points[from + 1];
    int64_t ticks = static_cast<int64_t>(b.position) - a.position;
    if (ticks == 0) return 0;
    int64_t rise = static_cast<int64_t>(b.value) * 65536 - static_cast<int64_t>(a.value) * 65536;
    return wrap32(rise / ticks);
}

}  // namespace

void envelopeStep(ChannelState* channel, EnvelopeState* envelope, const Envelope& shape,
                  uint8_t updateBit, bool heldForGood) {
    const uint8_t flags = shape.flags;
    const int pointCount = shape.pointCount;
    const EnvelopePoint* points = shape.points;
    const int loopEnd = shape.loopEnd;
    const int loopStart = shape.loopStart;
    const int sustain = shape.sustainStart;
    if (envelope->point < pointCount) {
        if (envelope->tick == points[envelope->point].position) {
            // The loop is tested first, and the sustain test sees the point after the jump.
            if ((flags & ENVELOPE_LOOP) && envelope->point == loopEnd) {
                envelope->point = loopStart;
                envelope->tick = points[loopStart].position;
            }
            const int i = envelope->point;
            if (i == pointCount - 1) {
                envelope->output = points[i].value;
                envelope->done = 1;
                channel->updateFlags |= updateBit;
                return;
            }
            const bool holds = !channel->keyOff || (heldForGood && envelope->held);
            if ((flags & ENVELOPE_SUSTAIN) && i == sustain && holds) {
                // Held: neither tick nor point moves until the key is released.
                envelope->held = 1;
                envelope->output = points[i].value;
                channel->updateFlags |= updateBit;
                return;
            }
            envelope->slope = slopeBetween(points, i);
            envelope->value = wrap32(static_cast<int64_t>(points[i].value) * 65536);
            envelope->point = i + 1;
        } else {
            envelope->value = wrap32(static_cast<int64_t>(envelope->value) + envelope->slope);
        }
    }
    envelope->output = integerPart(envelope->value);
    envelope->tick += 1;
    channel->updateFlags |= updateBit;
}

namespace {

void setEnvelopePosition(EnvelopeState* state, const Envelope& shape, int position) {
    if (!(shape.flags & ENVELOPE_ON)) return;
    const int n = shape.pointCount;
    if (n < 2) return;
    const EnvelopePoint* points = shape.points;
    EnvelopeState& envelope = *state;
    envelope.held = 0;
    for (int k = 0; k <= n - 2; ++k) {
        if (position <= points[k + 1].position) {
            envelope.done = 0;
            envelope.tick = position;
            envelope.slope = slopeBetween(points, k);
            envelope.value =
                wrap32(static_cast<int64_t>(position - points[k].position) * envelope.slope +
                       static_cast<int64_t>(points[k].value) * 65536);
            envelope.output = integerPart(envelope.value);
            envelope.point = k + 1;
            return;
        }
    }
    envelope.point = n - 1;
    envelope.output = points[n - 1].value;
    envelope.done = 1;
}

}  // namespace

void setEnvelopePositions(const PlayState* state, ChannelState* channel,
                          const Instrument* instrument, int position) {
    setEnvelopePosition(&channel->volumeEnvelope, instrument->volumeEnvelope, position);
    // The panning envelope follows where the volume envelope has a sustain point.
    if ((state->behaviours & BEHAVIOUR_ENVELOPE_POSITION_MOVES_PANNING) &&
        (instrument->volumeEnvelope.flags & ENVELOPE_SUSTAIN))
        setEnvelopePosition(&channel->panningEnvelope, instrument->panningEnvelope, position);
}

void advanceEnvelopes(const PlayState* state, ChannelState* channel, const Instrument* instrument,
                      bool rowStart) {
    if (instrument->volumeEnvelope.flags & ENVELOPE_ON) {
        if (!channel->volumeEnvelope.done) {
            envelopeStep(channel, &channel->volumeEnvelope, instrument->volumeEnvelope,
                         UPDATE_VOLUME);
        }
    } else if (rowStart && channel->keyOff) {
        // Without a volume envelope a release has nothing to fade through: silence at once.
        channel->volumeEnvelope.output = 0;
    }
    if ((instrument->panningEnvelope.flags & ENVELOPE_ON) && !channel->panningEnvelope.done) {
        envelopeStep(channel, &channel->panningEnvelope, instrument->panningEnvelope,
                     UPDATE_PANNING, state->behaviours & BEHAVIOUR_PANNING_SUSTAIN_HOLDS);
    }
    if (channel->keyOff) {
        channel->fadeoutVolume -= instrument->fadeout;
        if (channel->fadeoutVolume < 0) channel->fadeoutVolume = 0;
        channel->updateFlags |= UPDATE_VOLUME;
    }
}

void releaseNote(const PlayState* state, ChannelState* channel, const Instrument* instrument) {
    channel->keyOff = 1;
    if (!(instrument->volumeEnvelope.flags & ENVELOPE_ON)) {
        if (state->behaviours & BEHAVIOUR_KEY_OFF_ZEROES_VOLUME) {
            channel->volume = 0;
        } else {
            channel->volumeEnvelope.output = 0;
        }
    }
    channel->updateFlags |= UPDATE_VOLUME;
}

void autoVibratoStep(ChannelState* channel, const Instrument* instrument) {
    const int a = channel->autoVibratoPosition;
    int32_t w = 0;
    // Without depth the wave adds nothing: no sine for the many instruments without vibrato.
    switch (instrument->vibratoDepth != 0 ? instrument->vibratoType : -1) {
        case 0: {
            // pi as the single-precision 3.141592; the argument in extended precision, the sine
            // in double.
            const long double pi = static_cast<float>(3.141592);
            long double argument = static_cast<long double>(a) * 2.0L * pi / 256.0L;
            w = static_cast<int32_t>(std::sin(static_cast<double>(argument)) * 64.0);
            break;
        }
        case 1: w = a <= 127 ? 64 : -64; break;
        case 2: w = (128 - ((a + 128) % 256)) >> 1; break;
        case 3: w = (128 - ((384 - a) % 256)) >> 1; break;
        default: w = 0; break;
    }
    w *= instrument->vibratoDepth;
    if (instrument->vibratoSweep != 0) {
        w = w * channel->autoVibratoSweepTicks / instrument->vibratoSweep;
    }
    channel->periodDelta += w >> 6;
    if (channel->autoVibratoSweepTicks + 1 < instrument->vibratoSweep) {
        channel->autoVibratoSweepTicks += 1;
    } else {
        channel->autoVibratoSweepTicks = instrument->vibratoSweep;
    }
    channel->autoVibratoPosition += instrument->vibratoRate;
    if (channel->autoVibratoPosition > 255) channel->autoVibratoPosition -= 256;
    channel->updateFlags |= UPDATE_PITCH;
}
