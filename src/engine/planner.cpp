#include "engine/planner.h"

#include "engine/scene_smoother.h"

#include <algorithm>
#include <string>

namespace engine {

namespace {

constexpr int64_t kBytesPerKbpsSecond = 128;
constexpr int64_t kBytesPerMegabyte = 1048576;
// Sample sizes never go below 0, so -1 marks a size taken out of a window.
constexpr int32_t kRemoved = -1;

// Switches short low-motion runs that follow enough high-motion groups to SmoothedHigh.
void smoothSceneSwitches(core::PlanTable& planTable, int64_t groupsFm, const core::JobSettings& settings)
{
    const auto isLow = [&](int64_t g) {
        return planTable[static_cast<int32_t>(g)].choice == core::GroupChoice::Low;
    };
    detail::smoothSceneSwitches(
        planTable.count(), groupsFm, settings, isLow,
        [&](int64_t k, int64_t limit) {
            int64_t end = k + 1;
            while (end < limit && isLow(end) == isLow(k))
                ++end;
            return end;
        },
        [&](int64_t first, int64_t count) {
            for (int64_t g = first; g < first + count; ++g)
                planTable[static_cast<int32_t>(g)].choice = core::GroupChoice::SmoothedHigh;
        });
}

} // namespace

int64_t PlanMeasures::windowKbps(size_t w) const
{
    const int64_t bytes = windowBytes[w];
    return bytes == kNotMeasured ? -1 : bytes / kBytesPerKbpsSecond;
}

int64_t PlanMeasures::groupPeakKbps(int32_t g) const
{
    int64_t peak = -1;
    const size_t first = static_cast<size_t>(g) * static_cast<size_t>(groupSeconds);
    for (size_t w = first; w < first + static_cast<size_t>(groupSeconds) && w < windowBytes.size(); ++w)
        peak = std::max(peak, windowKbps(w));
    return peak;
}

int64_t targetBytes(const core::JobSettings& settings)
{
    return static_cast<int64_t>(settings.finalSizeMB) * 1000 / 1006 * kBytesPerMegabyte;
}

int64_t audioReserveBytes(const core::JobSettings& settings, int32_t totalFrames, int32_t keyframeDistance,
                          int32_t groupSeconds)
{
    if (keyframeDistance < 1 || groupSeconds < 1 || keyframeDistance / groupSeconds == 0)
        return 0;
    const int64_t durationSeconds = totalFrames / (keyframeDistance / groupSeconds);
    return static_cast<int64_t>(settings.audioKbps) * durationSeconds * kBytesPerKbpsSecond;
}

int64_t windowMeasure(std::span<int32_t> window, int32_t removeCount)
{
    const int64_t count = static_cast<int64_t>(window.size());
    if (count == 0)
        return 0;
    // Keeping at least one size gives the mean something to divide by.
    const int64_t toRemove = std::clamp<int64_t>(removeCount, 0, count - 1);
    int64_t removed = 0;
    for (int64_t r = 0; r < toRemove; ++r) {
        int32_t* largest = nullptr;
        for (int32_t& size : window) {
            if (size > kRemoved && (largest == nullptr || size > *largest))
                largest = &size;
        }
        if (largest == nullptr)
            break;
        *largest = kRemoved;
        ++removed;
    }
    int64_t sum = 0;
    for (int32_t size : window) {
        if (size != kRemoved)
            sum += size;
    }
    const int64_t mean = sum / (count - removed);
    for (int32_t& size : window) {
        if (size == kRemoved)
            size = static_cast<int32_t>(mean);
    }
    return sum + removed * mean;
}

int64_t plan(const core::AviStreamInfo& fastMotionInfo, int32_t keyframeDistance, int32_t totalFrames,
             int32_t groupSeconds, const core::FrameTable& fmTable, core::PlanTable& planTable,
             bool computeEstimate, int64_t endingBytes, const core::JobSettings& settings, PlanMeasures* measures)
{
    if (measures != nullptr)
        *measures = {};
    if (keyframeDistance < 1 || groupSeconds < 1 || keyframeDistance / groupSeconds == 0) {
        planTable.setSize(0);
        return -1;
    }
    const int64_t distance = keyframeDistance;
    const int64_t fmFrames = fastMotionInfo.dwLength;
    const int64_t groupsFm = (fmFrames + distance - 1) / distance;
    const int64_t groupsTotal = std::max<int64_t>((distance + totalFrames - 1) / distance, 0);
    const int32_t framesPerWindow = keyframeDistance / groupSeconds;
    const int64_t tableCount = fmTable.count();

    planTable.setSize(static_cast<int32_t>(groupsTotal));
    std::vector<int32_t> window(static_cast<size_t>(framesPerWindow));
    if (measures != nullptr) {
        measures->groupSeconds = groupSeconds;
        measures->framesPerWindow = framesPerWindow;
        measures->windowBytes.assign(static_cast<size_t>(groupsTotal) * static_cast<size_t>(groupSeconds),
                                     PlanMeasures::kNotMeasured);
    }

    for (int32_t g = 0; g < groupsTotal; ++g) {
        const int64_t groupStart = g * distance;
        int64_t groupBytes = 0;
        bool high = false;
        for (int32_t i = 0; i < groupSeconds; ++i) {
            const int64_t windowStart = groupStart + static_cast<int64_t>(i) * framesPerWindow;
            const int64_t windowEnd = windowStart + framesPerWindow;
            const int64_t n = windowEnd <= tableCount ? framesPerWindow : tableCount - windowStart;
            int64_t k = 0;
            for (; k < n; ++k) {
                const int32_t size = fmTable[static_cast<int32_t>(windowStart + k)].size;
                window[static_cast<size_t>(k)] = size;
                groupBytes += size;
            }
            std::fill(window.begin() + std::max<int64_t>(k, 0), window.end(), 0);
            if (!settings.endingEnabled || windowStart < settings.framePos) {
                const int64_t measured = windowMeasure(window, i == 0 ? 2 : 1);
                if (measured / kBytesPerKbpsSecond >= settings.highBitrateLimit)
                    high = true;
                if (measures != nullptr)
                    measures->windowBytes[static_cast<size_t>(g) * static_cast<size_t>(groupSeconds) +
                                          static_cast<size_t>(i)] = measured;
            }
        }
        planTable[g].fmBytes = groupBytes;
        planTable[g].choice = high ? core::GroupChoice::High : core::GroupChoice::Low;
    }

    if (settings.endingEnabled) {
        // The group holding framePos is already an ending group.
        const int64_t firstEndingGroup = std::max<int64_t>(settings.framePos / keyframeDistance, 0);
        for (int64_t g = firstEndingGroup; g < groupsTotal; ++g)
            planTable[static_cast<int32_t>(g)].choice = core::GroupChoice::Ending;
    }

    if (detail::smootherRuns(settings, groupSeconds))
        smoothSceneSwitches(planTable, groupsFm, settings);

    if (!computeEstimate)
        return 0;

    int64_t highBytes = 0;
    int64_t highSeconds = 0;
    // Group 0 and the last groups of the FM part are always taken from FM, whatever the bitrate.
    const int64_t lastCounted = std::min<int64_t>(groupsFm - settings.highRunMinGroups, groupsTotal);
    for (int32_t g = 1; g < lastCounted; ++g) {
        if (planTable[g].choice != core::GroupChoice::Low) {
            highBytes += planTable[g].fmBytes;
            highSeconds += groupSeconds;
        }
    }
    if (settings.endingEnabled) {
        highBytes += endingBytes;
        highSeconds += std::max<int64_t>(totalFrames - fmFrames, 0) / framesPerWindow;
    }
    const int64_t durationSeconds = totalFrames / framesPerWindow;
    if (durationSeconds <= highSeconds)
        return -1;
    int64_t rest = targetBytes(settings) -
                   audioReserveBytes(settings, totalFrames, keyframeDistance, groupSeconds) - highBytes;
    rest = rest / kBytesPerMegabyte * kBytesPerMegabyte;
    const int64_t estimate = rest / (durationSeconds - highSeconds) / kBytesPerKbpsSecond;
    return estimate < 0 ? -1 : estimate;
}

void refreshEstimate(core::Job& job)
{
    if (!job.state.analysed)
        return;
    core::AnalysisState& state = job.state;
    const int64_t estimate =
        plan(state.fastMotionInfo, state.keyframeDistance, state.totalFrames, state.groupSeconds,
             state.fastMotionFrames, state.planTable, true, state.endingBytes, job.settings);
    job.settings.lowMotionBitrateText = estimate < 0 ? "n/a" : std::to_string(estimate);
}

} // namespace engine
