#include "cli/analyze_command.h"

#include "cli/commands.h"
#include "cli/console_ui_port.h"
#include "cli/json_writer.h"
#include "engine/commands.h"
#include "engine/exact_size.h"
#include "engine/plan_view_model.h"
#include "engine/sound.h"

#include <cstdio>
#include <optional>
#include <string>

namespace cli {

namespace {

// Returns window w's measure as the planner compares it with the limit, or empty where it
// measures nothing.
std::string windowKbpsText(const engine::PlanMeasures& measures, size_t w)
{
    const int64_t kbps = measures.windowKbps(w);
    return kbps < 0 ? std::string() : std::to_string(kbps);
}

} // namespace

int runAnalyzeCommand(const JobOptions& options, AnalyzeFormat format)
{
    ConsoleUiPort ui({});
    core::Job job;
    job.settings = options.settings();
    // A sound file's real Kbps takes the place of the reserve in the estimate.
    std::unique_ptr<media::SoundFile> sound;
    if (!job.settings.audioFilePath.empty()) {
        sound = engine::openSound(job.settings.audioFilePath, ui);
        if (!sound)
            return kExitEnded;
        job.settings.audioKbps = engine::soundKbps(*sound);
    }
    if (engine::runAnalyze(job, ui) != engine::CommandOutcome::Completed)
        return kExitEnded;

    // With the Low Motion AVI, the Final AVI that Create would write is counted to the byte; the
    // count writes nothing, so different frame counts are taken as Create takes them after a Yes.
    std::optional<engine::FinalSize> finalSize;
    if (options.lowMotionGiven()) {
        ConsoleUiPort countUi({.assumeYes = true});
        engine::SourceTableCache sources;
        finalSize = engine::predictFinalSize(job.settings, sources, countUi);
        if (!finalSize)
            return kExitEnded;
    }

    const std::string& label = job.settings.lowMotionBitrateText;
    if (format == AnalyzeFormat::Text) {
        std::printf("Low Motion Bitrate (Kbps): %s\n", label.c_str());
        if (finalSize)
            std::printf("Final AVI size (bytes): %lld\n", static_cast<long long>(finalSize->fileBytes));
        return kExitCompleted;
    }
    // The measures come from the planner call the plan view makes, the same as the estimate's.
    const engine::PlanViewModel view = engine::PlanViewModel::fromJob(job);
    const engine::PlanMeasures& measures = view.measures();
    if (format == AnalyzeFormat::Csv) {
        std::string out = "second,group,kbps,choice\n";
        for (size_t w = 0; w < measures.windowBytes.size(); ++w) {
            const auto group = static_cast<int32_t>(w / static_cast<size_t>(measures.groupSeconds));
            out += std::to_string(w) + "," + std::to_string(group) + "," + windowKbpsText(measures, w) + "," +
                   std::to_string(static_cast<int32_t>(view.plan()[group].choice)) + "\n";
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        return kExitCompleted;
    }
    const bool hasEstimate = !label.empty() && label != "n/a";
    std::string out = "{\"estimate\": " + (hasEstimate ? label : std::string("null"));
    out += ", \"label\": " + jsonString(label);
    out += ", \"keyframeDistance\": " + std::to_string(job.state.keyframeDistance);
    out += ", \"groupSeconds\": " + std::to_string(job.state.groupSeconds);
    out += ", \"totalFrames\": " + std::to_string(job.state.totalFrames);
    out += ", \"fmFrames\": " + std::to_string(job.state.fastMotionInfo.dwLength);
    out += ", \"endingBytes\": " + std::to_string(job.state.endingBytes);
    if (finalSize) {
        out += ", \"finalFileBytes\": " + std::to_string(finalSize->fileBytes);
        out += ", \"plannedSampleBytes\": " + std::to_string(finalSize->plannedSampleBytes);
    }
    if (sound) {
        char kbps[32];
        std::snprintf(kbps, sizeof kbps, "%.3f", sound->kbps());
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", sound->seconds());
        out += ", \"audio\": {\"codec\": " + jsonString(sound->codecName()) + ", \"kbps\": " + kbps +
               ", \"seconds\": " + seconds + ", \"bytes\": " + std::to_string(sound->bytes()) + "}";
    }
    out += ", \"plan\": [";
    const core::PlanTable& plan = job.state.planTable;
    for (int32_t g = 0; g < plan.count(); ++g) {
        if (g > 0)
            out += ", ";
        out += "{\"fmBytes\": " + std::to_string(plan[g].fmBytes) +
               ", \"choice\": " + std::to_string(static_cast<int32_t>(plan[g].choice)) + "}";
    }
    out += "], \"seconds\": [";
    for (size_t w = 0; w < measures.windowBytes.size(); ++w) {
        const std::string kbps = windowKbpsText(measures, w);
        out += (w > 0 ? ", " : "") + (kbps.empty() ? std::string("null") : kbps);
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return kExitCompleted;
}

} // namespace cli
