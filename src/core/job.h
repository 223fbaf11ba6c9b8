#pragma once

#include "core/frame_table.h"
#include "core/stream_info.h"

#include <cstdint>
#include <string>

namespace core {

// The user's settings of one job, at their construction values. The main window sets the
// opening defaults (audio 128, final size 702, limit 700) when it opens.
struct JobSettings {
    std::string fastMotionPath;
    std::string lowMotionPath;
    std::string finalPath;
    std::string endingPath;
    int32_t framePos = 0;           // film frame at which the Ending AVI takes over
    int32_t finalSizeMB = 0;        // target size of the Final AVI, 1 MB = 1,048,576 bytes
    int32_t audioKbps = 0;          // audio bitrate reserved out of the target, 1 Kbps = 128 bytes/s
    bool stopAfterEnabled = false;  // the film ends after stopAfterFrames frames
    bool endingEnabled = false;     // the Ending AVI is used from framePos on
    int32_t stopAfterFrames = 0;
    int32_t highBitrateLimit = 0;   // Kbps from which a one-second window counts as high motion
    int32_t highRunMinGroups = 1;   // smoother: high groups that must precede a low run
    int32_t lowRunMaxGroups = 1;    // smoother: longest low run switched to high
    std::string lowMotionBitrateText; // shown estimate: a number, "n/a" or empty
    bool sceneSwitchingSmoother = true;
    bool writeStatisticFile = false;
    std::string audioFilePath; // sound copied into the Final AVI; empty for none

    bool operator==(const JobSettings&) const = default;
};

// What the commands derive from the sources.
struct AnalysisState {
    PlanTable planTable;
    FrameTable fastMotionFrames;
    FrameTable lowMotionFrames;
    AviStreamInfo fastMotionInfo;   // dwLength replaced by the effective FM frame count
    int32_t keyframeDistance = 0;   // frames per keyframe group
    int32_t totalFrames = 0;        // frame count of the Final AVI
    int32_t groupSeconds = 0;       // whole seconds per keyframe group
    int64_t finalBytes = 0;         // sample bytes written into the Final AVI
    int64_t endingBytes = 0;        // sample bytes of the Ending AVI's video stream
    bool analysed = false;          // an Analyze completed; only then does the estimate refresh run
};

// The one job the tool works on: settings plus analysis state.
struct Job {
    JobSettings settings;
    AnalysisState state;
};

// Sets the opening defaults the main window and the batch front end start from.
inline void applyOpeningDefaults(JobSettings& settings)
{
    settings.audioKbps = 128;
    settings.finalSizeMB = 702;
    settings.highBitrateLimit = 700;
}

} // namespace core
