#pragma once

#include "core/frame_table.h"
#include "core/user_interface_port.h"
#include "video/source.h"

#include <cstdint>

namespace video {

// Resizes table to frameCount records and fills record i with frame i's key flag and sample
// size. Where the source has no frame i, shows "ERROR DURING STREAM-READ!!!" once and stops;
// the remaining records keep what the resize left. Returns false in that case.
bool readFrameTable(core::FrameTable& table, int32_t frameCount, const Source& source, core::UiPort& ui);

// Returns the distance from frame 0 to the next key frame within frameCount frames (at least 1;
// frameCount when no later frame is key).
int32_t findKeyframeDistance(const core::FrameTable& table, int32_t frameCount);

// Returns the first frame of the whole table that breaks the grid of key frames at 0, distance,
// 2 x distance, ..., or -1 when every frame fits.
int32_t checkKeyframeLayout(const core::FrameTable& table, int32_t distance);

} // namespace video
