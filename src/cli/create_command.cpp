#include "cli/create_command.h"

#include "cli/commands.h"
#include "cli/console_ui_port.h"
#include "engine/commands.h"
#include "engine/exact_size.h"
#include "engine/quiet_ui_port.h"

#include <cstdio>
#include <optional>

namespace cli {

bool fitLimitFirst(core::JobSettings& settings, core::UiPort& ui)
{
    // Create asks about different frame counts itself; Fit counts as if the answer were Yes.
    engine::QuietUiPort fitUi(&ui);
    engine::SourceTableCache sources;
    const engine::FitResult fit = engine::fitLimit(settings, sources, fitUi);
    if (fit.status != engine::FitStatus::Fitted)
        return false;
    settings.highBitrateLimit = fit.limit;
    std::printf("High Bitrate Limit (Kbps): %d\n", fit.limit);
    return true;
}

int runCreateCommand(const JobOptions& options, const CreateCommandOptions& createOptions)
{
    ConsoleUiPort ui({.assumeYes = createOptions.assumeYes, .quiet = createOptions.quiet});
    core::Job job;
    job.settings = options.settings();
    // Create alone never measures the Ending AVI; the statistics file shows its size, so measure
    // it here as Analyze would.
    if (job.settings.endingEnabled) {
        const std::optional<int64_t> endingBytes = engine::measureEndingBytes(job.settings.endingPath, ui);
        if (!endingBytes)
            return kExitEnded;
        job.state.endingBytes = *endingBytes;
    }

    if (createOptions.fit && !fitLimitFirst(job.settings, ui))
        return kExitEnded;

    const ConsoleUiPort::InterruptGuard interruptGuard;
    const engine::CommandOutcome outcome = engine::runCreate(job, ui);
    if (outcome == engine::CommandOutcome::Completed) {
        std::printf("Final AVI-size: %lld\n", static_cast<long long>(job.state.finalBytes));
        return kExitCompleted;
    }
    if (ConsoleUiPort::interrupted()) {
        std::fprintf(stderr, "Aborted; the Final AVI holds the groups copied so far.\n");
        std::printf("Final AVI-size: %lld\n", static_cast<long long>(job.state.finalBytes));
        return kExitInterrupted;
    }
    return kExitEnded;
}

} // namespace cli
