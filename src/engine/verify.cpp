#include "engine/verify.h"

#include "engine/command_steps.h"
#include "engine/sound.h"
#include "video/sample_blocks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
        edge = std::clamp<int32_t>(edge, std::numeric_limits<int16_t>::min(),
                                   std::numeric_limits<int16_t>::max());
    if (!(found == expected))
        addDifference(report, {Kind::StreamHeader});
    std::vector<uint8_t> format(core::kBitmapInfoHeaderBytes, 0);
    std::copy_n(fm.format.begin(), std::min(fm.format.size(), format.size()), format.begin());
    if (finalAvi.format() != format)
        addDifference(report, {Kind::Format});
}

// Returns the runs of frames the plan reads from each source: the groups one source gives in a
// row make one run.
std::vector<std::vector<video::SampleRun>> sourceRuns(const output::SourcePlan& plan,
                                                      std::span<const SourceTable* const> tables)
{
    std::vector<std::vector<video::SampleRun>> runs(tables.size());
    for (const output::PlannedGroup& group : plan.groups) {
        if (static_cast<size_t>(group.source) >= tables.size() ||
            tables[static_cast<size_t>(group.source)] == nullptr)
            continue;
        const SourceTable* table = tables[static_cast<size_t>(group.source)];
        const auto first =
            static_cast<int32_t>(std::clamp<int64_t>(group.firstIndex, 0, table->frames.count()));
        const auto end = static_cast<int32_t>(
            std::clamp<int64_t>(group.firstIndex + plan.framesPerGroup, 0, table->frames.count()));
        std::vector<video::SampleRun>& own = runs[static_cast<size_t>(group.source)];
        if (!own.empty() && own.back().end == first)
            own.back().end = end;
        else if (first < end)
            own.push_back({first, end});
    }
    return runs;
}

// Compares the Final AVI's first sound stream, chunk by chunk, with the track Create writes from
// sound for a film of frames frames.
void checkSound(VerifyReport& report, video::AviReader& file, media::SoundFile& sound, int64_t frames,
                const core::AviStreamInfo& videoInfo)
{
    const video::AudioTrack track = finalTrack(sound, frames, videoInfo);
    const auto planned = static_cast<int32_t>(track.chunkBytes.size());
    int32_t stream = -1;
    for (int32_t s = 0; s < file.streamCount() && stream < 0; ++s)
        if (file.streamInfo(s).fccType == core::fourcc("auds"))
            stream = s;
    const int32_t held = stream < 0 ? 0 : file.sampleCount(stream);
    if (held != planned)
        addDifference(report, {Kind::SoundCount, -1, -1, held, planned});
    std::vector<uint8_t> found;
    std::vector<uint8_t> wanted;
    for (int32_t i = 0; i < std::min(held, planned); ++i) {
        const uint32_t size = track.chunkBytes[static_cast<size_t>(i)];
        found.resize(size);
        int32_t read = 0;
        const bool same = file.readSample(stream, i, found, read) == video::AviStatus::Ok &&
                          read == static_cast<int32_t>(size) && sound.readChunk(i, wanted) &&
                          wanted.size() >= size && std::memcmp(found.data(), wanted.data(), size) == 0;
        if (!same)
            addDifference(report, {Kind::SoundChunk, i, -1, read, size});
    }
}

// Checks finalAvi against plan over the sources (their tables, and the files to read their
// frames from; a null one gives no frames) and sound: the header and format as the writer takes
// them from the plan's stream source, every frame, the count and the sound chunks.
void checkPlan(VerifyReport& report, video::Source& finalAvi, const output::SourcePlan& plan,
               std::span<const SourceTable* const> tables, std::span<video::Source* const> sources,
               int32_t groupSeconds, media::SoundFile* sound, core::UiPort& ui)
{
    report.finalFrames = finalAvi.sampleCount();
    const SourceTable* header = tables[static_cast<size_t>(plan.streamSource)];
    checkHeader(report, *header, finalAvi);

    // The Final AVI is read front to back, a block ahead by a helper thread, while this thread
    // reads each source along the runs of groups it gives and compares: the two halves of the
    // bytes are read at once.
    video::SampleBlocks finalBlocks(finalAvi, {{0, report.finalFrames}}, true);
    const std::vector<std::vector<video::SampleRun>> runs = sourceRuns(plan, tables);
    std::vector<std::optional<video::SampleBlocks>> sourceBlocks(sources.size());
    for (size_t from = 0; from < sourceBlocks.size(); ++from) {
        if (sources[from] != nullptr)
            sourceBlocks[from].emplace(*sources[from], runs[from]);
    }

    std::unique_ptr<core::ProgressPort> progress = ui.openProgress();
    const auto groups = static_cast<int32_t>(plan.groups.size());
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
                return;
            }
        }
        const output::PlannedGroup& group = plan.groups[static_cast<size_t>(g)];
        if (group.tally == output::GroupTally::LowMotion)
            statistics.lmSeconds += groupSeconds;
        else if (group.tally == output::GroupTally::FastMotion)
            statistics.fmSeconds += groupSeconds;
        const SourceTable* table = static_cast<size_t>(group.source) < tables.size()
                                       ? tables[static_cast<size_t>(group.source)]
                                       : nullptr;
        if (table == nullptr)
            continue; // an ending group without Ending AVI: Create reports its frames missing
        const int64_t firstIndex = std::max<int64_t>(group.firstIndex, 0);
        const int64_t endIndex =
            std::min<int64_t>(group.firstIndex + plan.framesPerGroup, table->frames.count());
        for (int64_t wide = firstIndex; wide < endIndex; ++wide) {
            const auto index = static_cast<int32_t>(wide);
            const int32_t i = frame++;
            if (i >= report.finalFrames)
                continue;
            const int64_t differencesBefore = report.differenceCount;
            const core::FrameRecord& planned = table->frames[index];
            const video::SampleLocation held = finalAvi.sampleLocation(i);
            const int32_t size = held.size;
            if (size != planned.size) {
                addDifference(report, {Kind::Size, i, g, size, planned.size});
            } else if (size > 0) {
                std::span<const uint8_t> found;
                std::span<const uint8_t> wanted;
                std::optional<video::SampleBlocks>& blocks = sourceBlocks[static_cast<size_t>(group.source)];
                const bool read = finalBlocks.sample(i, found) == video::AviStatus::Ok && blocks &&
                                  blocks->sample(index, wanted) == video::AviStatus::Ok;
                if (!read || std::memcmp(found.data(), wanted.data(), found.size()) != 0)
                    addDifference(report, {Kind::Bytes, i, g, size, planned.size});
            }
            // An empty frame is never a key frame in a file the writer writes.
            const bool plannedKey = planned.isKey != 0 && planned.size > 0;
            if (held.key != plannedKey)
                addDifference(report, {Kind::KeyFlag, i, g, held.key ? 1 : 0, plannedKey ? 1 : 0});
            if (report.differenceCount > differencesBefore)
                ++report.differingFrames;
            if (group.tally == output::GroupTally::LowMotion)
                statistics.lmBytes += size;
            else if (group.tally == output::GroupTally::FastMotion)
                statistics.fmBytes += size;
            statistics.totalBytes += size;
        }
    }
    if (progress)
        progress->showCompleted(statistics);
    report.plannedFrames = frame;
    if (report.finalFrames > report.plannedFrames)
        addDifference(report, {Kind::FrameCount, -1, -1, report.finalFrames, report.plannedFrames});
    if (sound != nullptr)
        checkSound(report, finalAvi.file(), *sound, frame, header->info);
    const bool complete = report.finalFrames >= report.plannedFrames && report.differenceCount == 0;
    report.status = complete ? VerifyStatus::Verified : VerifyStatus::Differs;
}

// Runs the check with the files the caller opens, and closes.
VerifyReport verifyWith(const core::JobSettings& settings, OpenedSources& sources,
                        video::SourceOpening& finalOpening, core::UiPort& ui)
{
    VerifyReport report;
    core::AnalysisState state;
    const std::optional<detail::FinalSources> tables = detail::prepareFinal(settings, state, sources, ui);
    if (!tables)
        return report;
    std::unique_ptr<media::SoundFile> sound;
    if (!settings.audioFilePath.empty() && !(sound = openSound(settings.audioFilePath, ui)))
        return report;
    std::optional<video::Source> finalAvi = finalOpening.take(ui);
    if (!finalAvi)
        return report;
    // In the order of output::FrameSource.
    const SourceTable* const planTables[] = {tables->lowMotion, tables->fastMotion, tables->ending};
    video::Source* const readers[] = {sources.source(SourceRole::LowMotion),
                                      sources.source(SourceRole::FastMotion),
                                      sources.source(SourceRole::Ending)};
    const output::SourcePlan plan =
        output::classicPlan(state.planTable, state.keyframeDistance, settings.framePos);
    checkPlan(report, *finalAvi, plan, planTables, readers, state.groupSeconds, sound.get(), ui);
    return report;
}

} // namespace

core::Message VerifyReport::message(const core::NumberFormat& numbers) const
{
    if (status == VerifyStatus::Verified)
        return core::messages::finalAviVerified(finalFrames, numbers);
    core::Message message =
        core::messages::finalAviDiffers(finalFrames, plannedFrames, differenceCount, differences, numbers);
    if (differingFrames * 2 > std::min(finalFrames, plannedFrames))
        message.text += '\r' + core::messages::settingsProbablyDiffer().text;
    return message;
}

VerifyReport verifyPlannedAvi(const std::string& finalPath, std::span<const std::string> sourcePaths,
                              const output::SourcePlan& plan, const std::string& soundPath, core::UiPort& ui)
{
    VerifyReport report;
    std::vector<video::Source> sources;
    std::vector<SourceTable> tables(sourcePaths.size());
    for (size_t i = 0; i < sourcePaths.size(); ++i) {
        std::optional<video::Source> source = video::openVideoStream(sourcePaths[i], ui);
        if (!source)
            return report;
        readSourceTable(tables[i], *source);
        sources.push_back(std::move(*source));
    }
    std::unique_ptr<media::SoundFile> sound;
    if (!soundPath.empty() && !(sound = openSound(soundPath, ui)))
        return report;
    std::optional<video::Source> finalAvi = video::openVideoStream(finalPath, ui);
    if (!finalAvi)
        return report;
    std::vector<const SourceTable*> tablePointers;
    std::vector<video::Source*> readers;
    for (size_t i = 0; i < sources.size(); ++i) {
        tablePointers.push_back(&tables[i]);
        readers.push_back(&sources[i]);
    }
    if (static_cast<size_t>(plan.streamSource) >= tablePointers.size())
        return report;
    checkPlan(report, *finalAvi, plan, tablePointers, readers, 0, sound.get(), ui);
    return report;
}

VerifyReport verifyFinalAvi(const core::JobSettings& settings, core::UiPort& ui)
{
    core::BusyCursor busy(ui);
    // Every file is indexed at once while the plan is rebuilt; the messages still come in
    // Create's order, from the steps that take the files over.
    OpenedSources sources;
    sources.openAhead(SourceRole::FastMotion, settings.fastMotionPath);
    sources.openAhead(SourceRole::LowMotion, settings.lowMotionPath);
    if (settings.endingEnabled)
        sources.openAhead(SourceRole::Ending, settings.endingPath);
    video::SourceOpening finalAvi(settings.finalPath);
    return verifyWith(settings, sources, finalAvi, ui);
}

} // namespace engine
