// Frame pacing for displays whose page flip does not wait for the refresh (a virtual X server,
// a compositor with vsync off): the frame loop would otherwise spin a core and the animation,
// which advances one step per frame, would race. The pacer keeps one flip per refresh period.
//
//     FramePacer pacer;
//     pacerStart(&pacer, backend->refreshRate(), backend->flipWaitsForRefresh());
//     ... after each flip: sleep for pacerAfterFlip(&pacer, nowNanoseconds) nanoseconds
//
// A back end that claims to wait for the refresh is believed only while its flips prove it: if
// most of the first flips come faster than half a period, the pacer takes over.
#pragma once

#include <cstdint>

constexpr int32_t PACER_DEFAULT_RATE = 60;  // Hz, when the display does not say
constexpr int32_t PACER_MEASURED_FLIPS = 30;

struct FramePacer {
    int64_t periodNs;
    int64_t deadlineNs;  // when the latest paced frame may start; 0 until pacing starts
    int64_t lastFlipNs;  // 0 before the first flip
    int32_t measuredIntervals;
    int32_t shortIntervals;
    uint8_t pacing;  // 1 while the pacer keeps the rate
};

void pacerStart(FramePacer* pacer, int32_t refreshRate, int flipWaitsForRefresh);
// Called right after a flip at `nowNs` (a steady clock). Returns the nanoseconds to sleep before
// the next frame is drawn: 0 when the flip itself keeps the pace.
int64_t pacerAfterFlip(FramePacer* pacer, int64_t nowNs);
