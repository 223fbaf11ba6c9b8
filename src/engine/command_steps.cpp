#include "engine/command_steps.h"

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

} // namespace engine::detail
