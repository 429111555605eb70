// The voice pool: a note handed to the background sounds on, on a voice of its own, while its
// channel plays the next note.
#include "player/voice_pool.h"

#include "tests/player/player_fixture.h"

namespace {

using VoicePoolTest = PlayerTest;

TEST_F(VoicePoolTest, ABackgroundNoteSoundsOnWhileItsChannelPlaysTheNext) {
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(1, 0) = {C4 + 7, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    tick(6);  // row 0: C-4
    const int32_t oldFrequency = voice(0).frequency;
    ChannelState* past = moveToBackground(state, &channel(0));
    ASSERT_NE(past, nullptr);
    EXPECT_EQ(past->owner, 0);
    EXPECT_EQ(backgroundNotesOf(state, 0), 1);
    tick(6);  // row 1: G-4 on the channel, C-4 on in the background
    const Voice& background = *past->voice;
    EXPECT_GE(background.index, MAX_PLAYER_CHANNELS * 2);
    EXPECT_NE(background.sample, nullptr);
    EXPECT_GT(background.volumeLeft + background.volumeRight, 0);
    EXPECT_EQ(background.frequency, oldFrequency);
    EXPECT_EQ(background.channel, 0);
    EXPECT_NE(voice(0).index, background.index);
    EXPECT_GT(voice(0).frequency, oldFrequency);
    EXPECT_EQ(backgroundNotesOf(state, 0), 1);
    EXPECT_EQ(backgroundNotesOf(state, 1), 0);
}

TEST_F(VoicePoolTest, AFullPoolTakesOverItsQuietestNote) {
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    tick();
    for (int k = 0; k < BACKGROUND_CHANNELS; ++k) {
        channel(0).volume = 64 - k % 64;
        channel(0).updateFlags = UPDATE_VOLUME;
        updateVoice(state, &channel(0), &song->samples[0]);
        ASSERT_NE(moveToBackground(state, &channel(0)), nullptr);
        channel(0).updateFlags = UPDATE_TRIGGER | UPDATE_VOLUME | UPDATE_PITCH;
        updateVoice(state, &channel(0), &song->samples[0]);
    }
    EXPECT_EQ(backgroundNotesOf(state, -1), BACKGROUND_CHANNELS);
    ChannelState* quietest = &state->background[BACKGROUND_CHANNELS - 1];
    channel(0).volume = 64;
    channel(0).updateFlags = UPDATE_VOLUME;
    updateVoice(state, &channel(0), &song->samples[0]);
    EXPECT_EQ(moveToBackground(state, &channel(0)), quietest);
    EXPECT_EQ(backgroundNotesOf(state, -1), BACKGROUND_CHANNELS);
}

}  // namespace
