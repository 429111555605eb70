// The instruments of "brom-boogie.xm", synthesised from nothing: a two-sample piano, a darker bass
// piano, a drawbar organ, an FM saxophone lead and five drums. Each is built by its own function;
// the score asks for them by name.
//
//     XmInstrument piano;
//     if (!makeSongInstrument("piano", &piano)) ...;   // unknown name
#pragma once

#include <string>
#include <vector>

#include "module/xm_writer.h"

// Builds the instrument called `name`; false when no instrument has that name.
bool makeSongInstrument(const std::string& name, XmInstrument* instrument);
// The names makeSongInstrument knows, in a fixed order.
std::vector<std::string> songInstrumentNames();
