#include "engine/command_steps.h"
#include "engine/commands.h"
#include "engine/planner.h"
#include "video/frame_tables.h"

#include <algorithm>
#include <limits>

namespace engine {

namespace {

// Runs the measuring steps with the sources in the caller's slots, which the caller closes.
CommandOutcome analyzeSources(core::Job& job, core::UiPort& ui, std::optional<video::Source>& fm,
                              std::optional<video::Source>& ending)
{
    const core::JobSettings& settings = job.settings;
    core::AnalysisState& state = job.state;

    fm = video::openVideoStream(settings.fastMotionPath, ui);
    if (!fm)
        return CommandOutcome::Ended;
    if (!video::readStreamInfo(state.fastMotionInfo, *fm, ui))
        return CommandOutcome::Ended;

    if (settings.endingEnabled) {
        core::AviStreamInfo endingInfo;
        if (!detail::measureEnding(ending, settings.endingPath, endingInfo, state.endingBytes, ui))
            return CommandOutcome::Ended;
        state.fastMotionInfo.dwLength = static_cast<uint32_t>(settings.framePos);
        const int64_t total = int64_t{settings.framePos} + detail::frameCountOf(endingInfo.dwLength);
        state.totalFrames =
            static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
    } else if (settings.stopAfterEnabled) {
        state.totalFrames = settings.stopAfterFrames;
        state.fastMotionInfo.dwLength = static_cast<uint32_t>(settings.stopAfterFrames);
    } else {
        state.totalFrames = detail::frameCountOf(state.fastMotionInfo.dwLength);
    }

    // The whole film is read from FM, the ending frames included; a size the source cannot give
    // is reported by the read, and the measuring goes on with what it has. A negative count (a
    // negative frame number typed in) reads nothing.
    (void)video::readFrameTable(state.fastMotionFrames, std::max(state.totalFrames, 0), *fm, ui);

    // The keyframe distance is searched within the effective FM frames only.
    const int32_t effectiveFrames =
        std::min(detail::frameCountOf(state.fastMotionInfo.dwLength), state.fastMotionFrames.count());
    state.keyframeDistance = video::findKeyframeDistance(state.fastMotionFrames, effectiveFrames);
    const int32_t breakingFrame = video::checkKeyframeLayout(state.fastMotionFrames, state.keyframeDistance);
    if (detail::layoutBreakEndsCommand(breakingFrame, settings, ui))
        return CommandOutcome::Ended;

    const std::optional<int32_t> groupSeconds =
        detail::groupSecondsOf(state.fastMotionInfo, state.keyframeDistance, ui);
    if (!groupSeconds)
        return CommandOutcome::Ended;
    state.groupSeconds = *groupSeconds;
    state.analysed = true;
    refreshEstimate(job);
    return CommandOutcome::Completed;
}

} // namespace

CommandOutcome runAnalyze(core::Job& job, core::UiPort& ui)
{
    core::BusyCursor busy(ui);
    std::optional<video::Source> fm;
    std::optional<video::Source> ending;
    const CommandOutcome outcome = analyzeSources(job, ui, fm, ending);
    video::closeSource(fm);
    video::closeSource(ending);
    return outcome;
}

std::optional<int64_t> measureEndingBytes(const std::string& endingPath, core::UiPort& ui)
{
    std::optional<video::Source> ending;
    core::AviStreamInfo endingInfo;
    int64_t endingBytes = 0;
    const bool measured = detail::measureEnding(ending, endingPath, endingInfo, endingBytes, ui);
    video::closeSource(ending);
    if (!measured)
        return std::nullopt;
    return endingBytes;
}

} // namespace engine
