#include "engine/verify.h"

#include "engine/command_steps.h"
#include "video/sample_blocks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>

namespace engine {

namespace {

using Kind = core::FinalDifference::Kind;

// Groups between two progress updates, as Create has them.
constexpr int32_t kGroupsPerProgressUpdate = 30;

// Collects differences, keeping the first few.
void addDifference(VerifyReport& report, const core::FinalDifference& difference)
{
    ++report.differenceCount;
    if (report.differences.size() < VerifyReport::kListedDifferences)
        report.differences.push_back(difference);
}

// Compares the Final AVI's stream header and format with what Create writes from the FM AVI's:
// its information (the writer counts length and largest sample itself and stores the frame edges
// in 16 bits) and its format padded to 40 bytes.
void checkHeader(VerifyReport& report, const SourceTable& fm, const video::Source& finalAvi)
{
    const core::AviStreamInfo& found = finalAvi.info();
    core::AviStreamInfo expected = fm.info;
    expected.dwLength = found.dwLength;
    expected.dwSuggestedBufferSize = found.dwSuggestedBufferSize;
    for (int32_t& edge : expected.rcFrame)
        edge = std::clamp<int32_t>(edge, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max());
    if (!(found == expected))
        addDifference(report, {Kind::StreamHeader});
    std::vector<uint8_t> format(core::kBitmapInfoHeaderBytes, 0);
    std::copy_n(fm.format.begin(), std::min(fm.format.size(), format.size()), format.begin());
    if (finalAvi.format() != format)
        addDifference(report, {Kind::Format});
}

// Returns, for each group, the source position after the last frame of the run of groups copied
// from the same source that it starts: reads for that run need not reach further.
std::vector<int64_t> runEnds(const core::AnalysisState& state, int32_t framePos)
{
    const int32_t groups = state.planTable.count();
    const auto framesOf = [&](int32_t g) {
        return output::groupFrames(state.planTable[g].choice, static_cast<int64_t>(g) * state.keyframeDistance,
                                   framePos);
    };
    std::vector<int64_t> ends(static_cast<size_t>(groups));
    for (int32_t g = groups - 1; g >= 0; --g) {
        const output::GroupFrames frames = framesOf(g);
        const bool joined = g + 1 < groups && framesOf(g + 1).source == frames.source;
        ends[static_cast<size_t>(g)] =
            joined ? ends[static_cast<size_t>(g) + 1] : frames.firstIndex + state.keyframeDistance;
    }
    return ends;
}

// Runs the check with the sources in the caller's object, which closes them.
VerifyReport verifyWith(const core::JobSettings& settings, OpenedSources& sources, core::UiPort& ui)
{
    VerifyReport report;
    core::AnalysisState state;
    const std::optional<detail::FinalSources> tables = detail::prepareFinal(settings, state, sources, ui);
    if (!tables)
        return report;
    std::optional<video::Source> finalAvi = video::openVideoStream(settings.finalPath, ui);
    if (!finalAvi)
        return report;
    report.finalFrames = finalAvi->sampleCount();
    checkHeader(report, *tables->fastMotion, *finalAvi);

    video::SampleBlocks finalBlocks(*finalAvi);
    // One block reader per source, in the order of output::FrameSource.
    constexpr SourceRole kRoleOf[] = {SourceRole::LowMotion, SourceRole::FastMotion, SourceRole::Ending};
    std::array<std::optional<video::SampleBlocks>, 3> sourceBlocks;
    for (size_t from = 0; from < sourceBlocks.size(); ++from) {
        if (video::Source* source = sources.source(kRoleOf[from]))
            sourceBlocks[from].emplace(*source);
    }
    const std::vector<int64_t> ends = runEnds(state, settings.framePos);

    std::unique_ptr<core::ProgressPort> progress = ui.openProgress();
    const int32_t groups = state.planTable.count();
    if (progress)
        progress->setRange(0, groups, 1);
    core::ProgressStatistics statistics;
    int32_t frame = 0;
    for (int32_t g = 0; g < groups; ++g) {
        if (progress && g % kGroupsPerProgressUpdate == 0) {
            (void)progress->setPosition(g); // the previous position is of no use here
            progress->setStatistics(statistics);
            progress->pumpMessages(true);
            if (progress->cancelled()) {
                report.status = VerifyStatus::Aborted;
                return report;
            }
        }
        const core::GroupChoice choice = state.planTable[g].choice;
        const output::GroupFrames frames =
            output::groupFrames(choice, static_cast<int64_t>(g) * state.keyframeDistance, settings.framePos);
        const auto runEnd = static_cast<int32_t>(
            std::clamp<int64_t>(ends[static_cast<size_t>(g)], 0, std::numeric_limits<int32_t>::max()));
        if (choice == core::GroupChoice::Low)
            statistics.lmSeconds += state.groupSeconds;
        else if (choice == core::GroupChoice::High)
            statistics.fmSeconds += state.groupSeconds;
        detail::forEachGroupFrame(frames, state.keyframeDistance, *tables, [&](const SourceTable& table, int32_t index) {
            const int32_t i = frame++;
            if (i >= report.finalFrames)
                return;
            const core::FrameRecord& planned = table.frames[index];
            int32_t size = 0;
            (void)finalAvi->sampleSize(i, size); // every position below the count has a size
            if (size != planned.size) {
                addDifference(report, {Kind::Size, i, g, size, planned.size});
            } else if (size > 0) {
                std::span<const uint8_t> held;
                std::span<const uint8_t> wanted;
                std::optional<video::SampleBlocks>& blocks = sourceBlocks[static_cast<size_t>(frames.source)];
                const bool read = finalBlocks.sample(i, report.finalFrames, held) == video::AviStatus::Ok && blocks &&
                                  blocks->sample(index, runEnd, wanted) == video::AviStatus::Ok;
                if (!read || std::memcmp(held.data(), wanted.data(), held.size()) != 0)
                    addDifference(report, {Kind::Bytes, i, g, size, planned.size});
            }
            // An empty frame is never a key frame in a file the writer writes.
            const bool key = finalAvi->findKeyAtOrBefore(i) == i;
            const bool plannedKey = planned.isKey != 0 && planned.size > 0;
            if (key != plannedKey)
                addDifference(report, {Kind::KeyFlag, i, g, key ? 1 : 0, plannedKey ? 1 : 0});
            if (choice == core::GroupChoice::Low)
                statistics.lmBytes += size;
            else if (choice == core::GroupChoice::High)
                statistics.fmBytes += size;
            statistics.totalBytes += size;
        });
    }
    report.plannedFrames = frame;
    if (report.finalFrames > report.plannedFrames)
        addDifference(report, {Kind::FrameCount, -1, -1, report.finalFrames, report.plannedFrames});
    const bool complete = report.finalFrames >= report.plannedFrames && report.differenceCount == 0;
    report.status = complete ? VerifyStatus::Verified : VerifyStatus::Differs;
    return report;
}

} // namespace

core::Message VerifyReport::message() const
{
    if (status == VerifyStatus::Verified)
        return core::messages::finalAviVerified(finalFrames);
    return core::messages::finalAviDiffers(finalFrames, plannedFrames, differenceCount, differences);
}

VerifyReport verifyFinalAvi(const core::JobSettings& settings, core::UiPort& ui)
{
    core::BusyCursor busy(ui);
    OpenedSources sources;
    return verifyWith(settings, sources, ui);
}

} // namespace engine
