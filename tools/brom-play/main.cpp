// brom-play: plays, describes, renders or traces XM modules.
#include "tools/brom-play/brom_play.h"

int main(int argc, char** argv) {
    Options options;
    switch (parseCommandLine(argc, argv, &options)) {
        case ParseResult::DONE: return 0;
        case ParseResult::USAGE_ERROR: return 2;
        case ParseResult::RUN: break;
    }
    switch (options.mode) {
        case Mode::INFO: return runInfo(options);
        case Mode::TRACE: return runTrace(options);
        case Mode::RENDER: return runRender(options);
        case Mode::STEMS: return runStems(options);
        case Mode::PLAY: return runPlay(options);
    }
    return 2;
}
