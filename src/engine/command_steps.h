#pragma once

#include "core/job.h"
#include "core/stream_info.h"
#include "core/user_interface_port.h"
#include "video/source.h"

#include <cstdint>
#include <optional>
#include <string>

namespace engine::detail {

// Returns a stream's frame count as the job's 32-bit counts hold it (at most INT32_MAX).
int32_t frameCountOf(uint32_t frames);

// Opens the Ending AVI at path into slot, reads its stream information into info and adds up
// its sample sizes into endingBytes, which starts at 0 once the file is open and its format
// accepted. Shows the opening messages or "ERROR DURING STREAM-READ!!!" and returns false on
// failure; endingBytes then holds the sum up to the failing sample. The slot stays filled for
// the caller to close.
bool measureEnding(std::optional<video::Source>& slot, const std::string& path, core::AviStreamInfo& info,
                   int64_t& endingBytes, core::UiPort& ui);

// Returns the whole seconds per keyframe group of the FM stream: keyframeDistance / (rate /
// scale), both divisions truncating. Shows a message and returns nothing when the rate is below
// one frame per second (or the scale 0), or when a group is shorter than one second: such a
// film has no one-second window to measure.
std::optional<int32_t> groupSecondsOf(const core::AviStreamInfo& fastMotionInfo, int32_t keyframeDistance,
                                      core::UiPort& ui);

// Judges a key-frame layout result: a break (not -1) below framePos with the ending off shows
// "Keyframe inconcistency at <frame>" and returns true, ending the command. With the ending in
// use, or from framePos on, groups never mix sources, so such a break does no harm.
bool layoutBreakEndsCommand(int32_t breakingFrame, const core::JobSettings& settings, core::UiPort& ui);

} // namespace engine::detail
