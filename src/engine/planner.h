#pragma once

#include "core/frame_table.h"
#include "core/job.h"
#include "core/stream_info.h"

#include <cstdint>
#include <span>
#include <vector>

namespace engine {

// The planner's one-second measures, filled in the pass that decides the plan. Window w of the
// film (group w / groupSeconds, window w % groupSeconds of it) holds its byte count after the
// largest-frame trim, or kNotMeasured where the planner measures nothing (windows from framePos on
// with the ending in use). A window is high motion when windowBytes / 128 reaches the limit.
struct PlanMeasures {
    static constexpr int64_t kNotMeasured = -1;
    int32_t groupSeconds = 0;    // windows per group
    int32_t framesPerWindow = 0; // frames per window
    std::vector<int64_t> windowBytes;

    // Returns window w's bitrate in whole Kbps as the planner compares it with the limit, or -1.
    int64_t windowKbps(size_t w) const;
    // Returns the largest windowKbps of group g: the group is high motion for every limit up to it.
    // -1 when none of its windows is measured.
    int64_t groupPeakKbps(int32_t g) const;
};

// Returns the bytes the target size leaves the Final AVI and its audio: finalSizeMB x 1000 / 1006
// MB, the share the estimate fills.
int64_t targetBytes(const core::JobSettings& settings);

// Returns the bytes the audio reserve takes out of the target for a film of totalFrames:
// audioKbps x 128 per whole second, the seconds counted in windows as the estimate counts them.
// 0 for groups the planner refuses (see plan).
int64_t audioReserveBytes(const core::JobSettings& settings, int32_t totalFrames, int32_t keyframeDistance,
                          int32_t groupSeconds);

// Returns the window's byte count with its removeCount largest sizes (first of equal maxima
// first) replaced by the mean of the others. At most size - 1 sizes are removed, so a window of
// one frame is its plain sum. The sizes are changed in place.
int64_t windowMeasure(std::span<int32_t> window, int32_t removeCount);

// Rebuilds planTable: one record per keyframe group of totalFrames, classified from the FM
// sizes by its one-second windows, smoothed, ending groups marked. With computeEstimate, returns
// the Low Motion bitrate in Kbps that fills the target size (-1 when there is none: negative,
// or no low-motion second left); otherwise 0. Only fastMotionInfo.dwLength (the effective FM
// frame count) is read of the stream information. Never divides by zero: a keyframeDistance or
// groupSeconds below 1 gives an empty plan and -1. With measures, also stores every window's measure.
int64_t plan(const core::AviStreamInfo& fastMotionInfo, int32_t keyframeDistance, int32_t totalFrames,
             int32_t groupSeconds, const core::FrameTable& fmTable, core::PlanTable& planTable, bool computeEstimate,
             int64_t endingBytes, const core::JobSettings& settings, PlanMeasures* measures = nullptr);

// Re-plans with the estimate when the job is analysed and stores "n/a" or the number in
// settings.lowMotionBitrateText; does nothing otherwise.
void refreshEstimate(core::Job& job);

} // namespace engine
