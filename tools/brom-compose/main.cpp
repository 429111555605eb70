// brom-compose: writes "brom-boogie.xm" from its score and its synthesised instruments.
//
//     brom-compose assets/song/song.txt assets/brom-boogie.xm
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/brom-compose/instruments.h"
#include "tools/brom-compose/score.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: brom-compose SCORE.txt OUT.xm\n", stderr);
        return 2;
    }
    Score score;
    std::string error;
    if (!readScore(argv[1], &score, &error)) {
        fprintf(stderr, "brom-compose: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& name : score.instrumentNames) {
        XmInstrument instrument;
        if (!makeSongInstrument(name, &instrument)) {
            fprintf(stderr, "brom-compose: no instrument called '%s'\n", name.c_str());
            return 1;
        }
        score.song.instruments.push_back(instrument);
    }
    std::vector<uint8_t> bytes = writeXm(score.song);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        fprintf(stderr, "brom-compose: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
