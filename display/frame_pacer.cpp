#include "display/frame_pacer.h"

void pacerStart(FramePacer* pacer, int32_t refreshRate, int flipWaitsForRefresh) {
    *pacer = {};
    if (refreshRate <= 0) refreshRate = PACER_DEFAULT_RATE;
    pacer->periodNs = 1000000000LL / refreshRate;
    pacer->pacing = flipWaitsForRefresh ? 0 : 1;
}

namespace {

// Watches the first intervals of a display that claims to wait for the refresh.
void measureInterval(FramePacer* pacer, int64_t nowNs) {
    if (pacer->lastFlipNs != 0) {
        pacer->measuredIntervals++;
        if (nowNs - pacer->lastFlipNs < pacer->periodNs / 2) pacer->shortIntervals++;
        if (pacer->measuredIntervals == PACER_MEASURED_FLIPS &&
            pacer->shortIntervals * 2 > PACER_MEASURED_FLIPS)
            pacer->pacing = 1;
    }
    pacer->lastFlipNs = nowNs;
}

}  // namespace

int64_t pacerAfterFlip(FramePacer* pacer, int64_t nowNs) {
    if (!pacer->pacing) {
        if (pacer->measuredIntervals < PACER_MEASURED_FLIPS) measureInterval(pacer, nowNs);
        if (!pacer->pacing) return 0;
    }
    // The first paced flip, and any flip more than a period late, start a new schedule: the loop
    // goes on at once instead of catching up with a burst of unpaced frames.
    if (pacer->deadlineNs == 0 || nowNs > pacer->deadlineNs + pacer->periodNs) {
        pacer->deadlineNs = nowNs;
        return 0;
    }
    pacer->deadlineNs += pacer->periodNs;
    return pacer->deadlineNs > nowNs ? pacer->deadlineNs - nowNs : 0;
}
