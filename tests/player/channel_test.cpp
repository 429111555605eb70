// Note trigger, the two period systems, twin voices, the instrument reset and what updateVoice
// writes into the voice: frequency, step, final volume and the two gains.
#include "tests/player/player_fixture.h"

namespace {

using ChannelTest = PlayerTest;

TEST_F(ChannelTest, LinearC4PlaysAt8363Hz) {
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel().realNote, 48);
    EXPECT_EQ(channel().period, 4608);
    EXPECT_EQ(voice().frequency, 8363);
    EXPECT_EQ(voice().step, 0);
    EXPECT_EQ(voice().stepFraction, 814485521u);  // 8363 x 2^32 / 44100
    EXPECT_NE(voice().sample, nullptr);
    // Envelope 64, volume 64, no fade, global 64: 127; centre panning 128 halves it.
    EXPECT_EQ(voice().finalVolume, 127);
    EXPECT_EQ(voice().volumeLeft, 127 * 127 / 255);
    EXPECT_EQ(voice().volumeRight, 127 * 128 / 255);
}

TEST_F(ChannelTest, AmigaC4HasPeriod1712) {
    xm.flags = 0;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel().period, 1712);
    EXPECT_EQ(voice().frequency, 14317056 / 1712);
}

TEST_F(ChannelTest, AmigaPeriodsInterpolateFinetuneTowardTheNeighbouringNote) {
    EXPECT_EQ(amigaPeriod(48, 0), 1712);
    EXPECT_EQ(amigaPeriod(49, 0), 1615);
    EXPECT_EQ(amigaPeriod(48, 127), 1712 - (97 * 127) / 128);
    EXPECT_EQ(amigaPeriod(48, -64), 1712 + (101 * 64) / 128);
    EXPECT_EQ(amigaPeriod(48, -128), 1813);
    // Note 0 has no note below: a negative finetune leans on the note above and rises.
    EXPECT_EQ(amigaPeriod(0, -8), 27392 + ((25854 - 27392) * -8) / 128);
}

TEST_F(ChannelTest, LinearFinetuneAndRelativeNote) {
    xm = makeXmSong(3, 1);
    const int8_t finetunes[] = {-1, -3, 0};
    for (int8_t finetune : finetunes) {
        XmSample sample = loopedSample();
        sample.finetune = finetune;
        sample.relativeNote = finetune == 0 ? 12 : 0;
        xm.instruments.push_back(makeInstrument(sample));
    }
    for (int c = 0; c < 3; ++c) cell(0, c) = {C4, static_cast<uint8_t>(c + 1), 0, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).period, 4608);  // trunc(-1 / 2) = 0
    EXPECT_EQ(channel(1).period, 4609);
    EXPECT_EQ(channel(2).realNote, 60);
    EXPECT_EQ(channel(2).period, 4608 - 768);
    EXPECT_EQ(voice(2).frequency, 16726);
}

TEST_F(ChannelTest, EachNewNoteMovesToTheTwinVoiceAndTheOldOneFadesOut) {
    for (int row = 0; row < 3; ++row) cell(row, 0) = {C4, 1, 0, 0, 0};
    cell(0, 1) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(voice(0).index, 0);
    EXPECT_EQ(voice(1).index, 1);
    voices[0].position = 300;  // as if mixed for a while
    voices[0].levelLeft = 63 * 256;
    tick(6);
    EXPECT_EQ(voice(0).index, 32);
    EXPECT_EQ(voice(0).position, 0u);
    EXPECT_EQ(voice(0).levelLeft, 0);
    EXPECT_EQ(voice(0).finalVolume, 127);
    // The voice left behind keeps its sample and position and ramps to silence.
    const Voice& old = voices[0];
    EXPECT_NE(old.sample, nullptr);
    EXPECT_EQ(old.position, 300u);
    EXPECT_EQ(old.finalVolume, 0);
    EXPECT_EQ(old.mixVolume, 0);
    EXPECT_EQ(old.volumeLeft, 0);
    EXPECT_EQ(old.volumeRight, 0);
    tick(6);
    EXPECT_EQ(voice(0).index, 0);
    EXPECT_EQ(voices[32].volumeLeft, 0);
    EXPECT_EQ(voice(1).index, 1);
}

TEST_F(ChannelTest, InstrumentAloneResetsWithoutRestartAndNoteAloneKeepsTheLevel) {
    xm.instruments[0].samples[0].volume = 48;
    xm.instruments[0].samples[0].panning = 200;
    cell(0, 0) = {C4, 1, 0x20, 0x08, 0x40};  // volume 16, panning 64
    cell(1, 0) = {0, 1, 0, 0, 0};
    cell(2, 0) = {0, 0, 0x30, 0, 0};
    cell(3, 0) = {C4, 0, 0, 0, 0};
    cell(4, 0) = {C4 + 12, 0, 0, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel().volume, 16);
    EXPECT_EQ(channel().panning, 64);
    voices[0].position = 300;
    tick(6);
    EXPECT_EQ(channel().volume, 48);
    EXPECT_EQ(channel().panning, 200);
    EXPECT_EQ(voice().index, 0);
    EXPECT_EQ(voice().position, 300u);
    tick(12);
    EXPECT_EQ(channel().volume, 32);
    EXPECT_EQ(channel().panning, 200);
    EXPECT_EQ(voice().index, 32);
    tick(6);
    EXPECT_EQ(channel().period, 4608 - 768);
    EXPECT_EQ(voice().index, 0);
}

TEST_F(ChannelTest, AnInstrumentTheSongLacksPlaysTheEmptySample) {
    cell(0, 0) = {C4, 5, 0, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel().volume, 0);
    EXPECT_EQ(channel().panning, 0);
    EXPECT_EQ(voice().sample, &emptySample);
    EXPECT_EQ(voice().finalVolume, 0);
}

TEST_F(ChannelTest, PanningZeroIsLeftAnd255IsRight) {
    cell(0, 0) = {C4, 1, 0, 0x08, 0x00};
    cell(0, 1) = {C4, 1, 0, 0x08, 0xFF};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(voice(0).volumeLeft, 127);
    EXPECT_EQ(voice(0).volumeRight, 0);
    EXPECT_EQ(voice(1).volumeLeft, 0);
    EXPECT_EQ(voice(1).volumeRight, 127);
    EXPECT_EQ(voice(1).finalPanning, 255);
}

TEST_F(ChannelTest, SetVolumeAbove64RaisesTheFinalVolumeUntilASlideLimitsIt) {
    cell(0, 0) = {C4, 1, 0, 0x0C, 0x80};
    cell(1, 0) = {0, 0, 0, 0x0A, 0x10};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel().volume, 128);
    EXPECT_EQ(voice().finalVolume, 255);
    tick(7);
    EXPECT_EQ(channel().volume, 64);
    EXPECT_EQ(voice().finalVolume, 127);
}

TEST_F(ChannelTest, KeyOffWithoutVolumeEnvelopeSilencesAtOnce) {
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(0, 1) = {C4, 1, 0, 0, 0};
    cell(1, 0) = {KEY_OFF_NOTE, 0, 0, 0, 0};
    cell(1, 1) = {0, 0, 0, 0x14, 0x05};  // K: its parameter is not used
    ASSERT_TRUE(start());
    tick(6);
    EXPECT_EQ(voice(0).finalVolume, 127);
    tick();
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(channel(c).keyOff, 1);
        EXPECT_EQ(channel(c).volumeEnvelope.output, 0);
        EXPECT_EQ(voice(c).finalVolume, 0);
    }
}

TEST_F(ChannelTest, NoteValuesAbove96AreNoNote) {
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(1, 0) = {100, 0, 0, 0, 0};
    ASSERT_TRUE(start());
    tick(7);
    EXPECT_EQ(channel().noteIndex, 48);
    EXPECT_EQ(channel().period, 4608);
    EXPECT_EQ(voice().index, 0);
    EXPECT_EQ(channel().keyOff, 0);
}

TEST_F(ChannelTest, ExtremePeriodsKeepTheStepAtLeast100HzAndZeroSkipsThePitch) {
    xm.flags = 0;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    tick(6);
    channel().period = 200000;
    tick();
    EXPECT_EQ(voice().frequency, 14317056 / 200000);
    EXPECT_EQ(voice().step, 0);
    EXPECT_EQ(voice().stepFraction, 9739154u);  // 100 x 2^32 / 44100
    tick(5);
    channel().period = 0;
    tick();
    EXPECT_EQ(voice().frequency, 71);
}

}  // namespace
