#include "tests/support/subsong_modules.h"

#include "module/song.h"
#include "module/xm_writer.h"
#include "tests/support/mod_writer.h"
#include "tests/support/s3m_writer.h"

std::vector<uint8_t> subsongXm(const std::vector<int>& jumps) {
    const int orders = static_cast<int>(jumps.size());
    XmSong xm = makeXmSong(2, orders);
    xm.speed = 3;
    xm.instruments.push_back(makeInstrument(makeSample(sineFrames(2000, 40, 9000), true)));
    for (int k = 0; k < orders; ++k) {
        xm.patterns[k] = makePattern(SUBSONG_ROWS, 2);
        cellAt(xm.patterns[k], 2, 0, 0) = {static_cast<uint8_t>(37 + 2 * k), 1, 0, 0, 0};
        if (jumps[k] >= 0) {
            cellAt(xm.patterns[k], 2, SUBSONG_ROWS - 1, 1) = {0, 0, 0, 0xB,
                                                              static_cast<uint8_t>(jumps[k])};
        }
    }
    return writeXm(xm);
}

std::vector<uint8_t> subsongMod(const std::vector<int>& jumps) {
    const int orders = static_cast<int>(jumps.size());
    ModSong mod = makeModSong(4, orders);
    mod.orders.clear();
    mod.samples[0] = makeModSample(squareWave(2000, 40, 60), 0, 1000);
    for (int k = 0; k < orders; ++k) {
        mod.orders.push_back(static_cast<uint8_t>(k));
        modCellAt(mod, k, 0, 0) = {modPeriod(1 + k % 3, k % 12), 1, 0xF, 3};
        const bool jump = jumps[k] >= 0;
        modCellAt(mod, k, SUBSONG_ROWS - 1, 1) = {0, 0, static_cast<uint8_t>(jump ? 0xB : 0xD),
                                                  static_cast<uint8_t>(jump ? jumps[k] : 0)};
    }
    return writeMod(mod);
}

std::vector<uint8_t> subsongS3m(const std::vector<int>& jumps,
                                const std::vector<std::pair<int, uint16_t>>& markers) {
    const int orders = static_cast<int>(jumps.size());
    S3mSong s3m = makeS3mSong(4, orders);
    s3m.speed = 3;
    s3m.orders.clear();
    s3m.samples.push_back(makeS3mSample(s3mSquare(2000, 40, 60), 0, 1000));
    for (int k = 0; k < orders; ++k) {
        s3m.orders.push_back(static_cast<uint8_t>(k));
        s3mCellAt(s3m, k, 0, 0) = {s3mNote(4, k % 12), 1, 255, 0, 0};
        const bool jump = jumps[k] >= 0;
        s3mCellAt(s3m, k, SUBSONG_ROWS - 1, 1) = {255, 0, 255, s3mCommand(jump ? 'B' : 'C'),
                                                  static_cast<uint8_t>(jump ? jumps[k] : 0)};
    }
    for (const auto& [order, marker] : markers) s3m.orders[order] = marker == ORDER_END ? 255 : 254;
    return writeS3m(s3m);
}
