#include "engine/command_steps.h"

#include "video/frame_tables.h"

#include <cassert>
#include <limits>

namespace engine::detail {

int32_t frameCountOf(uint32_t frames)
{
    constexpr uint32_t kMaxFrames = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(frames < kMaxFrames ? frames : kMaxFrames);
}

bool measureEnding(std::optional<video::Source>& slot, const std::string& path, core::AviStreamInfo& info,
                   int64_t& endingBytes, core::UiPort& ui)
{
    slot = video::openVideoStream(path, ui);
    if (!slot)
        return false;
    if (!video::readStreamInfo(info, *slot, ui))
        return false;
    endingBytes = 0;
    const int32_t frames = frameCountOf(info.dwLength);
    for (int32_t i = 0; i < frames; ++i) {
        int32_t bytes = 0;
        if (slot->sampleSize(i, bytes) != video::AviStatus::Ok) {
            ui.showMessage(core::messages::streamReadError());
            return false;
        }
        endingBytes += bytes;
    }
    return true;
}

std::optional<int32_t> groupSecondsOf(const core::AviStreamInfo& fastMotionInfo, int32_t keyframeDistance,
                                      core::UiPort& ui)
{
    const uint32_t rate = fastMotionInfo.dwRate;
    const uint32_t scale = fastMotionInfo.dwScale;
    if (scale == 0 || rate < scale) {
        ui.showMessage(core::messages::frameRateUnusable(rate, scale));
        return std::nullopt;
    }
    const uint32_t framesPerSecond = rate / scale;
    const uint32_t groupSeconds = static_cast<uint32_t>(keyframeDistance) / framesPerSecond;
    if (keyframeDistance < 1 || groupSeconds == 0) {
        ui.showMessage(core::messages::keyframeDistanceTooShort(keyframeDistance, framesPerSecond));
        return std::nullopt;
    }
    return frameCountOf(groupSeconds);
}

bool layoutBreakEndsCommand(int32_t breakingFrame, const core::JobSettings& settings, core::UiPort& ui)
{
    if (breakingFrame == -1 || settings.endingEnabled || breakingFrame >= settings.framePos)
        return false;
    ui.showMessage(core::messages::keyframeInconsistency(breakingFrame));
    return true;
}

namespace {

// Sets the film length by the mode and checks that both sources are long enough for it. Frame
// counts compare unsigned, so a negative frame number counts as too many frames. Returns false
// after a message; lmFrames is the count of LM frames to take.
bool setFilmLength(const core::JobSettings& settings, core::AnalysisState& state, SourceTables& tables,
                   FinalSources& sources, core::UiPort& ui, uint32_t fmFrames, uint32_t& lmFrames)
{
    if (settings.endingEnabled) {
        const uint32_t required = static_cast<uint32_t>(settings.framePos);
        if (lmFrames < required) {
            ui.showMessage(core::messages::lmTooShort(settings.framePos));
            return false;
        }
        if (fmFrames < required) {
            ui.showMessage(core::messages::fmTooShort(settings.framePos));
            return false;
        }
        sources.ending = tables.table(SourceRole::Ending, settings.endingPath, ui);
        if (sources.ending == nullptr)
            return false;
        state.fastMotionInfo.dwLength = required;
        const int64_t total = int64_t{settings.framePos} + frameCountOf(sources.ending->info.dwLength);
        state.totalFrames =
            static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
    } else if (settings.stopAfterEnabled) {
        const uint32_t required = static_cast<uint32_t>(settings.stopAfterFrames);
        if (lmFrames < required) {
            ui.showMessage(core::messages::lmTooShort(settings.stopAfterFrames));
            return false;
        }
        if (fmFrames < required) {
            ui.showMessage(core::messages::fmTooShort(settings.stopAfterFrames));
            return false;
        }
        state.totalFrames = settings.stopAfterFrames;
        state.fastMotionInfo.dwLength = required;
    } else {
        if (lmFrames < fmFrames) {
            ui.showMessage(core::messages::lmTooShort(fmFrames));
            return false;
        }
        state.totalFrames = frameCountOf(fmFrames);
        lmFrames = fmFrames;
    }
    return true;
}

// Takes the first count records of a source's whole table, as video::readFrameTable reads them
// from the source; the length checks keep count within the table.
void takeFrames(core::FrameTable& table, const core::FrameTable& whole, int32_t count)
{
    assert(count <= whole.count());
    const int32_t taken = std::clamp(count, 0, whole.count());
    table.setSize(taken);
    for (int32_t i = 0; i < taken; ++i)
        table[i] = whole[i];
}

} // namespace

std::optional<FinalSources> prepareFinal(const core::JobSettings& settings, core::AnalysisState& state,
                                         SourceTables& tables, core::UiPort& ui, PlanMeasures* measures)
{
    FinalSources sources;
    sources.fastMotion = tables.table(SourceRole::FastMotion, settings.fastMotionPath, ui);
    if (sources.fastMotion == nullptr)
        return std::nullopt;
    state.fastMotionInfo = sources.fastMotion->info;
    const uint32_t fmFrames = state.fastMotionInfo.dwLength;

    sources.lowMotion = tables.table(SourceRole::LowMotion, settings.lowMotionPath, ui);
    if (sources.lowMotion == nullptr)
        return std::nullopt;
    uint32_t lmFrames = sources.lowMotion->info.dwLength;

    if (lmFrames != fmFrames && !ui.askYesNo(core::messages::differentTotalFrames(lmFrames, fmFrames)))
        return std::nullopt;
    if (!setFilmLength(settings, state, tables, sources, ui, fmFrames, lmFrames))
        return std::nullopt;

    const int32_t effectiveFmFrames = frameCountOf(state.fastMotionInfo.dwLength);
    const int32_t lmFramesRead = frameCountOf(lmFrames);
    takeFrames(state.fastMotionFrames, sources.fastMotion->frames, effectiveFmFrames);
    takeFrames(state.lowMotionFrames, sources.lowMotion->frames, lmFramesRead);

    const int32_t fmDistance = video::findKeyframeDistance(state.fastMotionFrames, effectiveFmFrames);
    const int32_t lmDistance = video::findKeyframeDistance(state.lowMotionFrames, lmFramesRead);
    if (fmDistance != lmDistance) {
        ui.showMessage(core::messages::differentKeyframeDistances());
        return std::nullopt;
    }
    state.keyframeDistance = fmDistance;

    // The LM layout is checked, over all its frames taken, only when FM keeps the grid.
    int32_t breakingFrame = video::checkKeyframeLayout(state.fastMotionFrames, state.keyframeDistance);
    if (breakingFrame == -1)
        breakingFrame = video::checkKeyframeLayout(state.lowMotionFrames, state.keyframeDistance);
    if (layoutBreakEndsCommand(breakingFrame, settings, ui))
        return std::nullopt;

    const std::optional<int32_t> groupSeconds =
        groupSecondsOf(state.fastMotionInfo, state.keyframeDistance, ui);
    if (!groupSeconds)
        return std::nullopt;
    state.groupSeconds = *groupSeconds;

    (void)plan(state.fastMotionInfo, state.keyframeDistance, state.totalFrames, state.groupSeconds,
               state.fastMotionFrames, state.planTable, false, 0, settings,
               measures); // the plan table is what counts
    return sources;
}

} // namespace engine::detail
