#include "cli/analyze_command.h"

#include "cli/commands.h"
#include "cli/console_ui_port.h"
#include "cli/json_writer.h"
#include "engine/commands.h"

#include <cstdio>
#include <string>

namespace cli {

int runAnalyzeCommand(const JobOptions& options, bool json)
{
    ConsoleUiPort ui({});
    core::Job job;
    job.settings = options.settings();
    if (engine::runAnalyze(job, ui) != engine::CommandOutcome::Completed)
        return kExitEnded;

    const std::string& label = job.settings.lowMotionBitrateText;
    if (!json) {
        std::printf("Low Motion Bitrate (Kbps): %s\n", label.c_str());
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
    out += ", \"plan\": [";
    const core::PlanTable& plan = job.state.planTable;
    for (int32_t g = 0; g < plan.count(); ++g) {
        if (g > 0)
            out += ", ";
        out += "{\"fmBytes\": " + std::to_string(plan[g].fmBytes) +
               ", \"choice\": " + std::to_string(static_cast<int32_t>(plan[g].choice)) + "}";
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return kExitCompleted;
}

} // namespace cli
