#include "engine/command_steps.h"
#include "engine/commands.h"
#include "engine/sound.h"
#include "output/final_avi.h"
#include "profiles/stat_file.h"

#include <future>
#include <string>
#include <vector>

namespace engine {

namespace {

// Refuses a Final AVI or statistics file that is one of the files Create reads (the sound file
// too), whatever path reaches it (the same path, a symbolic or hard link): creating it would
// truncate a film while it is being copied. Shows which source it is and returns false then.
bool destinationsAreFree(const core::JobSettings& settings, OpenedSources& sources, core::UiPort& ui)
{
    const struct {
        const video::Source* source;
        const char* name;
    } read[] = {{sources.source(SourceRole::FastMotion), "Fast Motion AVI"},
                {sources.source(SourceRole::LowMotion), "Low Motion AVI"},
                {sources.source(SourceRole::Ending), "Ending AVI"}};
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
        if (!settings.audioFilePath.empty() && video::identityOfPath(settings.audioFilePath) == identity) {
            ui.showMessage(core::messages::destinationIsSource(destination.name, "sound file", destination.path));
            return false;
        }
    }
    return true;
}

// Runs Create with the sources in the caller's object, which closes them.
CommandOutcome createFromSources(core::Job& job, core::UiPort& ui, const CreateOptions& options,
                                 OpenedSources& sources)
{
    const core::JobSettings& settings = job.settings;
    core::AnalysisState& state = job.state;
    // The sound's packets are listed on a helper thread while the sources are read.
    std::future<media::OpenedSound> soundOpening;
    if (!settings.audioFilePath.empty())
        soundOpening = std::async(std::launch::async, media::SoundFile::open, settings.audioFilePath);
    const std::optional<detail::FinalSources> tables = detail::prepareFinal(settings, state, sources, ui);
    if (!tables)
        return CommandOutcome::Ended;

    if (!destinationsAreFree(settings, sources, ui))
        return CommandOutcome::Ended;

    std::unique_ptr<media::SoundFile> sound;
    std::optional<video::AudioTrack> track;
    if (!settings.audioFilePath.empty()) {
        sound = takeSound(soundOpening.get(), settings.audioFilePath, ui);
        if (!sound)
            return CommandOutcome::Ended;
        track = finalTrack(*sound, detail::finalFrameCount(state, settings.framePos, *tables),
                           tables->fastMotion->info);
    }

    output::FinalAviRequest request;
    request.framesPerGroup = state.keyframeDistance;
    request.framePos = settings.framePos;
    request.groupSeconds = state.groupSeconds;
    request.finalPath = settings.finalPath;
    request.writerOptions = options.writerOptions;
    if (track) {
        request.audio = &*track;
        request.audioReader = sound.get();
    }
    const int32_t result = output::writeFinalAvi(
        sources.source(SourceRole::FastMotion), sources.source(SourceRole::LowMotion),
        sources.source(SourceRole::Ending), state.planTable, request, state.finalBytes, ui);
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
    OpenedSources sources;
    return createFromSources(job, ui, options, sources);
}

} // namespace engine
