#include "display/display.h"

#include <gtest/gtest.h>

#include <vector>

#include "display/display_memory.h"

namespace {

constexpr int W = 5;  // a small odd frame keeps every row's bytes easy to follow
constexpr int H = 3;

class Display : public ::testing::Test {
  protected:
    void SetUp() override { configure(memoryDisplayDefaults()); }
    void TearDown() override { displayClose(); }

    void configure(const MemoryDisplayConfig& config) {
        displayClose();
        memoryDisplayConfigure(config);
        displayUseBackend(&memoryDisplayBackend);
    }

    // A frame whose pixel (x, y) is 0x00RRGGBB with R = 16y + x, G = 0x40 + x, B = 0x80 + y.
    static std::vector<uint32_t> testFrame() {
        std::vector<uint32_t> frame(W * H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                frame[y * W + x] =
                    static_cast<uint32_t>((16 * y + x) << 16 | (0x40 + x) << 8 | (0x80 + y));
        return frame;
    }

    static void activate(uint32_t active) {
        memoryDisplayPushEvent({DISPLAY_EVENT_ACTIVATE, active});
    }

    const MemoryDisplayRecord& shown() { return memoryDisplayRecord(); }
};

TEST_F(Display, OpensAt32BitsAndShowsTheFrameAsIs) {
    ASSERT_EQ(displayOpen("test", W, H), 1);
    EXPECT_EQ(shown().modeBits, 32u);
    EXPECT_EQ(displayState.converter, convertCopy32);
    EXPECT_EQ(shown().screenSaverEnabled, 0);
    activate(1);
    std::vector<uint32_t> frame = testFrame();
    EXPECT_EQ(displayPresent(frame.data()), 1);
    ASSERT_EQ(shown().frames.size(), 1u);
    const std::vector<uint8_t>& bytes = shown().frames.back();
    // Pixel (2, 1): R 0x12, G 0x42, B 0x81, little-endian.
    int at = 1 * shown().pitch + 2 * 4;
    EXPECT_EQ(bytes[at], 0x81);
    EXPECT_EQ(bytes[at + 1], 0x42);
    EXPECT_EQ(bytes[at + 2], 0x12);
    EXPECT_EQ(bytes[at + 3], 0x00);
    EXPECT_EQ(shown().restoreCount, 1u);
}

TEST_F(Display, FallsBackTo24BitsAndTakesTheConverterFromTheReportedMasks) {
    MemoryDisplayConfig config = memoryDisplayDefaults();
    config.acceptsDepth32 = 0;
    config.format24 = {1, 24, 0xFF, 0xFF00, 0xFF0000};  // bytes red, green, blue
    configure(config);
    ASSERT_EQ(displayOpen("test", W, H), 1);
    EXPECT_EQ(shown().modesTried, (std::vector<uint32_t>{32, 24}));
    EXPECT_EQ(displayState.converter, convertSwapTo24);
    activate(1);
    std::vector<uint32_t> frame = testFrame();
    displayPresent(frame.data());
    const std::vector<uint8_t>& bytes = shown().frames.back();
    int at = 2 * shown().pitch + 4 * 3;  // pixel (4, 2): R 0x24, G 0x44, B 0x82
    EXPECT_EQ(bytes[at], 0x24);
    EXPECT_EQ(bytes[at + 1], 0x44);
    EXPECT_EQ(bytes[at + 2], 0x82);
}

TEST_F(Display, FallsBackTo16Bits) {
    MemoryDisplayConfig config = memoryDisplayDefaults();
    config.acceptsDepth32 = config.acceptsDepth24 = 0;
    configure(config);
    ASSERT_EQ(displayOpen("test", W, H), 1);
    EXPECT_EQ(shown().modesTried, (std::vector<uint32_t>{32, 24, 16}));
    EXPECT_EQ(displayState.converter, convertTo565);
}

TEST_F(Display, RowsAreWrittenAtThePitchAndTheBytesBetweenThemStayUntouched) {
    MemoryDisplayConfig config = memoryDisplayDefaults();
    config.pitchPadding = 6;
    configure(config);
    ASSERT_EQ(displayOpen("test", W, H), 1);
    activate(1);
    std::vector<uint32_t> frame = testFrame();
    displayPresent(frame.data());
    const std::vector<uint8_t>& bytes = shown().frames.back();
    ASSERT_EQ(shown().pitch, W * 4 + 6);
    for (int y = 0; y < H; ++y) {
        EXPECT_EQ(bytes[y * shown().pitch], 0x80 + y) << "row " << y << " starts at its pitch";
        for (int i = W * 4; i < shown().pitch; ++i) EXPECT_EQ(bytes[y * shown().pitch + i], 0xA5);
    }
}

// A failed open leaves nothing behind: no device, no mode, and the screen saver as it was.
TEST_F(Display, AFailedOpenReleasesEverything) {
    MemoryDisplayConfig noMode = memoryDisplayDefaults();
    noMode.acceptsDepth32 = noMode.acceptsDepth24 = noMode.acceptsDepth16 = 0;
    MemoryDisplayConfig noSurfaces = memoryDisplayDefaults();
    noSurfaces.failSurfaces = 1;
    MemoryDisplayConfig notRgb = memoryDisplayDefaults();
    notRgb.format32.isRgb = 0;
    MemoryDisplayConfig unknownMasks = memoryDisplayDefaults();
    unknownMasks.acceptsDepth32 = unknownMasks.acceptsDepth24 = 0;
    unknownMasks.format16 = {1, 16, 0xF00, 0xF0, 0xF};
    MemoryDisplayConfig noDevice = memoryDisplayDefaults();
    noDevice.failOpen = 1;
    for (const MemoryDisplayConfig& config : {noMode, noSurfaces, notRgb, unknownMasks, noDevice}) {
        configure(config);
        EXPECT_EQ(displayOpen("test", W, H), 0);
        EXPECT_EQ(shown().open, 0);
        EXPECT_EQ(shown().surfaces, 0);
        EXPECT_EQ(shown().modeBits, 0u);
        EXPECT_EQ(shown().screenSaverEnabled, 1);
        EXPECT_STRNE(displayOpenError(), "");
    }
    EXPECT_EQ(displayPresent(testFrame().data()), 0);
}

TEST_F(Display, OpenFailsWithoutABackEnd) {
    displayUseBackend(nullptr);
    EXPECT_EQ(displayOpen("test", W, H), 0);
    EXPECT_STRNE(displayOpenError(), "");
}

TEST_F(Display, ShowsNothingUntilActivatedAndWhileInactive) {
    ASSERT_EQ(displayOpen("test", W, H), 1);
    std::vector<uint32_t> frame = testFrame();
    EXPECT_EQ(displayPresent(frame.data()), 1);
    EXPECT_EQ(shown().flipCount, 0u);
    activate(1);
    EXPECT_EQ(displayPresent(frame.data()), 1);
    EXPECT_EQ(shown().flipCount, 1u);
    activate(0);
    EXPECT_EQ(displayPresent(frame.data()), 1);
    EXPECT_EQ(shown().flipCount, 1u);
}

TEST_F(Display, AFrameThatCannotBeLockedIsNotShown) {
    MemoryDisplayConfig config = memoryDisplayDefaults();
    config.failLock = 1;
    configure(config);
    ASSERT_EQ(displayOpen("test", W, H), 1);
    activate(1);
    EXPECT_EQ(displayPresent(testFrame().data()), 0);
    EXPECT_EQ(shown().flipCount, 0u);
}

TEST_F(Display, OtherKeysAreSwallowed) {
    ASSERT_EQ(displayOpen("test", W, H), 1);
    activate(1);
    memoryDisplayPushEvent({DISPLAY_EVENT_KEY_DOWN, 'A'});
    memoryDisplayPushEvent({DISPLAY_EVENT_KEY_DOWN, 0x1C});
    EXPECT_EQ(displayPresent(testFrame().data()), 1);
    EXPECT_EQ(shown().open, 1);
    EXPECT_EQ(shown().flipCount, 1u);
}

TEST_F(Display, CloseReleasesTheDisplayAndSwitchesTheScreenSaverBackOn) {
    ASSERT_EQ(displayOpen("test", W, H), 1);
    displayClose();
    EXPECT_EQ(shown().open, 0);
    EXPECT_EQ(shown().screenSaverEnabled, 1);
    ASSERT_EQ(displayOpen("test", W, H), 1);  // and it opens again
}

// Escape (in the key's low byte) and a close request are requests to quit: reported, with no
// frame shown from then on and the display left to the program to close; a new open forgets them.
// Other keys do nothing.
TEST_F(Display, EscapeAndACloseRequestAreReportedAsRequestsToQuit) {
    const struct {
        DisplayEvent event;
        int quits;
    } cases[] = {
        {{DISPLAY_EVENT_KEY_DOWN, VK_ESCAPE}, 1},
        {{DISPLAY_EVENT_KEY_DOWN, 0x100 | VK_ESCAPE}, 1},
        {{DISPLAY_EVENT_CLOSE, 0}, 1},
        {{DISPLAY_EVENT_KEY_DOWN, 'Q'}, 0},
    };
    std::vector<uint32_t> frame = testFrame();
    for (const auto& c : cases) {
        configure(memoryDisplayDefaults());
        ASSERT_EQ(displayOpen("test", W, H), 1);
        EXPECT_EQ(displayQuitRequested(), 0);
        activate(1);
        memoryDisplayPushEvent(c.event);
        EXPECT_EQ(displayPresent(frame.data()), 1 - c.quits)
            << c.event.kind << " " << c.event.value;
        EXPECT_EQ(displayPresent(frame.data()), 1 - c.quits);
        EXPECT_EQ(displayQuitRequested(), c.quits);
        EXPECT_EQ(shown().flipCount, c.quits ? 0u : 2u);
        EXPECT_EQ(shown().open, 1);
    }
}

}  // namespace
