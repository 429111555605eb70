// Impulse Tracker's effects and volume-column commands where they differ from the shared ones, and
// the commands only IT has. Each returns true when it handled the command (the shared code then
// leaves it alone). Read under BEHAVIOUR_IMPULSE_EFFECTS.
#pragma once

#include "module/song.h"
#include "player/channel.h"
#include "player/player_state.h"

bool impulseVolumeColumnRow(const PlayState* state, ChannelState* channel, CellCommand volume);
bool impulseVolumeColumnTick(const PlayState* state, ChannelState* channel, CellCommand volume);
bool impulseRowEffect(PlayState* state, ChannelState* channel, const NoteCell& cell,
                      const ChannelSound& sound);
bool impulseTickEffect(PlayState* state, ChannelState* channel, const NoteCell& cell,
                       const ChannelSound& sound);
