#include "engine/command_steps.h"
#include "engine/commands.h"
#include "engine/planner.h"
#include "output/final_avi.h"
#include "profiles/stat_file.h"
#include "video/frame_tables.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace engine {

namespace {

struct CreateSources {
    std::optional<video::Source> fm;
    std::optional<video::Source> lm;
    std::optional<video::Source> ending;
};

// Sets the film length by the mode and checks that both sources are long enough for it. Frame
// counts compare unsigned, so a negative frame number counts as too many frames. Returns false
// after a message; lmFrames is the count of LM frames to read.
bool setFilmLength(core::Job& job, core::UiPort& ui, CreateSources& sources, uint32_t fmFrames,
                   uint32_t& lmFrames)
{
    const core::JobSettings& settings = job.settings;
    core::AnalysisState& state = job.state;
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
        sources.ending = video::openVideoStream(settings.endingPath, ui);
        if (!sources.ending)
            return false;
        core::AviStreamInfo endingInfo;
        if (!video::readStreamInfo(endingInfo, *sources.ending, ui))
            return false;
        state.fastMotionInfo.dwLength = required;
        const int64_t total = int64_t{settings.framePos} + detail::frameCountOf(endingInfo.dwLength);
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
        state.totalFrames = detail::frameCountOf(fmFrames);
        lmFrames = fmFrames;
    }
    return true;
}

// Refuses a Final AVI or statistics file that is one of the files Create reads, whatever path
// reaches it (the same path, a symbolic or hard link): creating it would truncate a film while
// it is being copied. Shows which source it is and returns false then.
bool destinationsAreFree(const core::JobSettings& settings, const CreateSources& sources, core::UiPort& ui)
{
    const struct {
        const std::optional<video::Source>& source;
        const char* name;
    } read[] = {{sources.fm, "Fast Motion AVI"}, {sources.lm, "Low Motion AVI"}, {sources.ending, "Ending AVI"}};
    struct Destination {
        const char* name;
        std::string path;
    };
    std::vector<Destination> written = {{"Final AVI", settings.finalPath}};
    if (settings.writeStatisticFile)
        written.push_back({"statistics file", profiles::statFilePath(settings.finalPath)});
    for (const Destination& destination : written) {
        const std::optional<video::FileIdentity> identity = video::identityOfPath(destination.path);
        if (!identity)
            continue; // a file that does not exist yet is no source
        for (const auto& [source, name] : read) {
            if (source && source->fileIdentity() == identity) {
                ui.showMessage(core::messages::destinationIsSource(destination.name, name, destination.path));
                return false;
            }
        }
    }
    return true;
}

// Runs the steps up to the copy with the sources in the caller's slots, which the caller closes.
CommandOutcome createFromSources(core::Job& job, core::UiPort& ui, const CreateOptions& options,
                                 CreateSources& sources)
{
    const core::JobSettings& settings = job.settings;
    core::AnalysisState& state = job.state;

    sources.fm = video::openVideoStream(settings.fastMotionPath, ui);
    if (!sources.fm)
        return CommandOutcome::Ended;
    if (!video::readStreamInfo(state.fastMotionInfo, *sources.fm, ui))
        return CommandOutcome::Ended;
    const uint32_t fmFrames = state.fastMotionInfo.dwLength;

    sources.lm = video::openVideoStream(settings.lowMotionPath, ui);
    if (!sources.lm)
        return CommandOutcome::Ended;
    core::AviStreamInfo lmInfo;
    if (!video::readStreamInfo(lmInfo, *sources.lm, ui))
        return CommandOutcome::Ended;
    uint32_t lmFrames = lmInfo.dwLength;

    if (lmFrames != fmFrames && !ui.askYesNo(core::messages::differentTotalFrames(lmFrames, fmFrames)))
        return CommandOutcome::Ended;
    if (!setFilmLength(job, ui, sources, fmFrames, lmFrames))
        return CommandOutcome::Ended;

    const int32_t effectiveFmFrames = detail::frameCountOf(state.fastMotionInfo.dwLength);
    const int32_t lmFramesRead = detail::frameCountOf(lmFrames);
    // A size a source cannot give is reported by the read; Create goes on with what it has.
    (void)video::readFrameTable(state.fastMotionFrames, effectiveFmFrames, *sources.fm, ui);
    (void)video::readFrameTable(state.lowMotionFrames, lmFramesRead, *sources.lm, ui);

    const int32_t fmDistance = video::findKeyframeDistance(state.fastMotionFrames, effectiveFmFrames);
    const int32_t lmDistance = video::findKeyframeDistance(state.lowMotionFrames, lmFramesRead);
    if (fmDistance != lmDistance) {
        ui.showMessage(core::messages::differentKeyframeDistances());
        return CommandOutcome::Ended;
    }
    state.keyframeDistance = fmDistance;

    // The LM layout is checked, over all its frames read, only when FM keeps the grid.
    int32_t breakingFrame = video::checkKeyframeLayout(state.fastMotionFrames, state.keyframeDistance);
    if (breakingFrame == -1)
        breakingFrame = video::checkKeyframeLayout(state.lowMotionFrames, state.keyframeDistance);
    if (detail::layoutBreakEndsCommand(breakingFrame, settings, ui))
        return CommandOutcome::Ended;

    const std::optional<int32_t> groupSeconds =
        detail::groupSecondsOf(state.fastMotionInfo, state.keyframeDistance, ui);
    if (!groupSeconds)
        return CommandOutcome::Ended;
    state.groupSeconds = *groupSeconds;

    (void)plan(state.fastMotionInfo, state.keyframeDistance, state.totalFrames, state.groupSeconds,
               state.fastMotionFrames, state.planTable, false, 0, settings); // the plan table is what counts

    if (!destinationsAreFree(settings, sources, ui))
        return CommandOutcome::Ended;

    output::FinalAviRequest request;
    request.framesPerGroup = state.keyframeDistance;
    request.framePos = settings.framePos;
    request.groupSeconds = state.groupSeconds;
    request.finalPath = settings.finalPath;
    request.writerOptions = options.writerOptions;
    video::Source* ending = sources.ending ? &*sources.ending : nullptr;
    const int32_t result = output::writeFinalAvi(&*sources.fm, &*sources.lm, ending, state.planTable, request,
                                                 state.finalBytes, ui);
    // A failed check, a failed write or an abort leaves no statistics file.
    if (result != 1)
        return CommandOutcome::Ended;
    if (settings.writeStatisticFile && !profiles::writeStatFile(settings.finalPath, job, ui))
        return CommandOutcome::Ended;
    return CommandOutcome::Completed;
}

} // namespace

CommandOutcome runCreate(core::Job& job, core::UiPort& ui, const CreateOptions& options)
{
    job.state.planTable.setSize(0);
    job.state.fastMotionFrames.setSize(0);
    job.state.lowMotionFrames.setSize(0);
    core::BusyCursor busy(ui);
    CreateSources sources;
    const CommandOutcome outcome = createFromSources(job, ui, options, sources);
    video::closeSource(sources.fm);
    video::closeSource(sources.lm);
    video::closeSource(sources.ending);
    return outcome;
}

} // namespace engine
