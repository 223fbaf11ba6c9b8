#include "output/final_avi.h"

#include "core/messages.h"
#include "output/frame_batch_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <system_error>

namespace output {

namespace {

// Groups between two progress updates; each update also handles pending user events.
constexpr int32_t kGroupsPerProgressUpdate = 30;
// Groups announced to their source before they are copied: the one being copied and the next
// seven.
constexpr int32_t kGroupsAnnouncedAhead = 8;

// Offset of biSizeImage inside a BITMAPINFOHEADER.
constexpr size_t kSizeImageOffset = 20;

uint32_t readLe32(const std::array<uint8_t, core::kBitmapInfoHeaderBytes>& block, size_t offset)
{
    return static_cast<uint32_t>(block[offset]) | static_cast<uint32_t>(block[offset + 1]) << 8 |
           static_cast<uint32_t>(block[offset + 2]) << 16 | static_cast<uint32_t>(block[offset + 3]) << 24;
}

// The part of first .. first+count-1 that lies inside the source, handed to the read-ahead hint.
void adviseGroup(video::Source* source, int64_t first, int32_t count)
{
    if (source == nullptr || count <= 0)
        return;
    const int64_t begin = std::max<int64_t>(first, 0);
    const int64_t end = std::min<int64_t>(first + count, source->sampleCount());
    if (begin < end)
        source->adviseWillRead(static_cast<int32_t>(begin), static_cast<int32_t>(end - begin));
}

// Stands in when the user interface cannot show a progress display: the copy runs to its end.
class NoProgress : public core::ProgressPort {
public:
    void setRange(int32_t, int32_t, int32_t) override {}
    int32_t setPosition(int32_t) override { return 0; }
    void setStatistics(const core::ProgressStatistics&) override {}
    void pumpMessages(bool) override {}
    bool cancelled() const override { return false; }
};

} // namespace

GroupFrames groupFrames(core::GroupChoice choice, int64_t groupStart, int32_t framePos)
{
    switch (choice) {
    case core::GroupChoice::Low:
        return {FrameSource::LowMotion, groupStart};
    case core::GroupChoice::Ending:
        return {FrameSource::Ending, groupStart - framePos};
    case core::GroupChoice::High:
    case core::GroupChoice::SmoothedHigh:
        break;
    }
    // Codes other than the four known ones copy from the Fast Motion AVI like a smoothed group.
    return {FrameSource::FastMotion, groupStart};
}

int32_t writeFinalAvi(std::span<video::Source* const> sources, const SourcePlan& plan,
                      const FinalAviRequest& request, int64_t& finalBytes, core::UiPort& ui)
{
    video::Source* const header = static_cast<size_t>(plan.streamSource) < sources.size()
                                      ? sources[static_cast<size_t>(plan.streamSource)]
                                      : nullptr;
    if (header == nullptr) {
        ui.showMessage(core::messages::selectFastMotionAvi());
        return 0;
    }
    if (header->format().size() > core::kBitmapInfoHeaderBytes) {
        ui.showMessage(core::messages::formatSizeTooLargeFm());
        return 0;
    }

    // A format shorter than 40 bytes is padded with zeros: the Final AVI always gets a full header.
    std::array<uint8_t, core::kBitmapInfoHeaderBytes> format{};
    std::copy(header->format().begin(), header->format().end(), format.begin());
    // The stream's information as the file gives it now; the job's copy may have another length.
    const core::AviStreamInfo info = header->info();

    video::AviCreateResult created = video::AviWriter::create(request.finalPath, request.writerOptions);
    if (created.status != video::AviStatus::Ok) {
        ui.showMessage(core::messages::finalOpenFailed(created.errorText));
        return 0;
    }
    video::AviWriter& finalAvi = *created.writer;
    if (finalAvi.createStream(info) != video::AviStatus::Ok) {
        ui.showMessage(core::messages::finalCreateStreamFailed());
        return 0;
    }
    if (finalAvi.setFormat(format) != video::AviStatus::Ok) {
        ui.showMessage(core::messages::finalSetFormatFailed());
        return 0;
    }
    if (request.audio != nullptr && request.audioReader != nullptr &&
        finalAvi.addAudio(*request.audio, *request.audioReader) != video::AviStatus::Ok) {
        ui.showMessage(core::messages::finalCreateStreamFailed());
        return 0;
    }

    // Every read is offered room for the largest frame any source holds, so no frame is ever
    // refused for its size; biSizeImage counts as well, up to the usual 2 MB buffer.
    const int64_t sizeImage =
        std::min<int64_t>(readLe32(format, kSizeImageOffset), FrameBatchWriter::kDefaultBufferBytes);
    int64_t room = sizeImage;
    for (video::Source* const source : sources) {
        if (source != nullptr)
            room = std::max<int64_t>(room, source->largestSampleSize());
    }
    // Twice the room keeps batches of several large frames together.
    const int64_t bufferBytes =
        std::min<int64_t>(std::max<int64_t>(FrameBatchWriter::kDefaultBufferBytes, 2 * room),
                          std::numeric_limits<int32_t>::max());
    FrameBatchWriter batch;
    if (!batch.init(static_cast<int32_t>(bufferBytes), static_cast<int32_t>(std::min(room, bufferBytes)))) {
        // The system's own text for a failed allocation.
        ui.showMessage(core::messages::finalWriteFailed(std::generic_category().message(ENOMEM)));
        return 0;
    }

    std::unique_ptr<core::ProgressPort> progress = ui.openProgress();
    if (!progress)
        progress = std::make_unique<NoProgress>();
    const auto groupCount = static_cast<int32_t>(plan.groups.size());
    const auto sourceOf = [&](const PlannedGroup& group) {
        return static_cast<size_t>(group.source) < sources.size() ? sources[static_cast<size_t>(group.source)]
                                                                  : nullptr;
    };
    progress->setRange(0, groupCount, 1);

    core::ProgressStatistics statistics;
    const int32_t framesPerGroup = plan.framesPerGroup;
    int64_t missingFrames = 0;
    bool writeFailed = false;
    int32_t advisedGroups = 0; // groups 0 .. advisedGroups - 1 were announced to their source

    for (int32_t g = 0; g < groupCount && !writeFailed; ++g) {
        if (g % kGroupsPerProgressUpdate == 0) {
            (void)progress->setPosition(g); // the previous position is of no use here
            progress->setStatistics(statistics);
            progress->pumpMessages(true);
            if (progress->cancelled())
                break;
        }

        const PlannedGroup& group = plan.groups[static_cast<size_t>(g)];
        video::Source* const from = sourceOf(group);
        if (group.tally == GroupTally::LowMotion)
            statistics.lmSeconds += request.groupSeconds;
        else if (group.tally == GroupTally::FastMotion)
            statistics.fmSeconds += request.groupSeconds;

        // Only the groups copied are read: the sources read nothing ahead on their own, so the
        // kernel is told about the groups of the next few steps, which overlaps reading with
        // writing and lets neighbouring groups of one source be read in one go.
        for (; advisedGroups < std::min(groupCount, g + kGroupsAnnouncedAhead); ++advisedGroups) {
            const PlannedGroup& ahead = plan.groups[static_cast<size_t>(advisedGroups)];
            adviseGroup(sourceOf(ahead), ahead.firstIndex, framesPerGroup);
        }

        if (from == nullptr) {
            // An ending group without an Ending AVI: its frames cannot be had.
            missingFrames += std::max(framesPerGroup, 0);
            continue;
        }
        video::Source& source = *from;
        const int32_t sourceFrames = source.sampleCount();
        for (int32_t k = 0; k < framesPerGroup; ++k) {
            const int64_t wideIndex = group.firstIndex + k;
            if (wideIndex < std::numeric_limits<int32_t>::min() ||
                wideIndex > std::numeric_limits<int32_t>::max())
                continue; // no source has such a position
            const int32_t index = static_cast<int32_t>(wideIndex);
            const uint32_t flags =
                source.findKeyAtOrBefore(index) == index ? FrameBatchWriter::kKeyFrameFlag : 0;
            int32_t bytesRead = 0;
            if (batch.addFrame(source, index, finalAvi, flags, bytesRead) != video::AviStatus::Ok) {
                // Positions outside the source are asked for at the film's edges and add nothing;
                // a position the source lists but cannot deliver is a frame missing from the film.
                if (index >= 0 && index < sourceFrames)
                    ++missingFrames;
                continue;
            }
            if (group.tally == GroupTally::LowMotion)
                statistics.lmBytes += bytesRead;
            else if (group.tally == GroupTally::FastMotion)
                statistics.fmBytes += bytesRead;
            statistics.totalBytes += bytesRead;
            if (batch.firstWriteFailure() != video::AviStatus::Ok) {
                // The disk refuses the Final AVI; nothing copied after this would reach it.
                writeFailed = true;
                break;
            }
        }
    }

    finalBytes = statistics.totalBytes;
    if (!writeFailed && batch.flush(finalAvi) != video::AviStatus::Ok)
        writeFailed = true;
    // The Final AVI is finished even after a failed write, so what reached the disk is readable.
    if (finalAvi.finish() != video::AviStatus::Ok)
        writeFailed = true;
    const bool cancelled = progress->cancelled();
    if (!cancelled && !writeFailed)
        progress->showCompleted(statistics);
    progress.reset();

    if (writeFailed) {
        ui.showMessage(core::messages::finalWriteFailed(finalAvi.errorText()));
        return 0;
    }
    if (missingFrames > 0) {
        ui.showMessage(core::messages::framesMissing(missingFrames));
        return 0;
    }
    return cancelled ? 0 : 1;
}

SourcePlan classicPlan(const core::PlanTable& planTable, int32_t framesPerGroup, int32_t framePos)
{
    SourcePlan plan;
    plan.framesPerGroup = framesPerGroup;
    plan.streamSource = static_cast<int32_t>(FrameSource::FastMotion);
    plan.groups.reserve(static_cast<size_t>(std::max(planTable.count(), 0)));
    for (int32_t g = 0; g < planTable.count(); ++g) {
        const core::GroupChoice choice = planTable[g].choice;
        const GroupFrames frames = groupFrames(choice, static_cast<int64_t>(g) * framesPerGroup, framePos);
        plan.groups.push_back({static_cast<int32_t>(frames.source), frames.firstIndex,
                               choice == core::GroupChoice::Low    ? GroupTally::LowMotion
                               : choice == core::GroupChoice::High ? GroupTally::FastMotion
                                                                   : GroupTally::None});
    }
    return plan;
}

int32_t writeFinalAvi(video::Source* fmStream, video::Source* lmStream, video::Source* endingStream,
                      const core::PlanTable& planTable, const FinalAviRequest& request, int64_t& finalBytes,
                      core::UiPort& ui)
{
    if (fmStream == nullptr) {
        ui.showMessage(core::messages::selectFastMotionAvi());
        return 0;
    }
    if (lmStream == nullptr) {
        ui.showMessage(core::messages::selectLowMotionAvi());
        return 0;
    }
    if (fmStream->format().size() > core::kBitmapInfoHeaderBytes) {
        ui.showMessage(core::messages::formatSizeTooLargeFm());
        return 0;
    }
    if (lmStream->format().size() > core::kBitmapInfoHeaderBytes) {
        ui.showMessage(core::messages::formatSizeTooLargeLm());
        return 0;
    }
    if (endingStream != nullptr && endingStream->format().size() > core::kBitmapInfoHeaderBytes) {
        ui.showMessage(core::messages::formatSizeTooLargeEnding());
        return 0;
    }
    video::Source* const sources[] = {lmStream, fmStream, endingStream};
    return writeFinalAvi(sources, classicPlan(planTable, request.framesPerGroup, request.framePos), request,
                         finalBytes, ui);
}

} // namespace output
