#include "cli/exact_commands.h"

#include "cli/commands.h"
#include "cli/console_ui_port.h"
#include "engine/exact_size.h"
#include "engine/verify.h"

#include <cstdio>

namespace cli {

int runFitCommand(const JobOptions& options, bool json)
{
    // Fit writes nothing, so different frame counts are taken as Create takes them after a Yes.
    ConsoleUiPort ui({.assumeYes = true});
    engine::SourceTableCache sources;
    const engine::FitResult fit = engine::fitLimit(options.settings(), sources, ui);
    if (fit.status != engine::FitStatus::Fitted)
        return kExitEnded;
    const auto fileBytes = static_cast<long long>(fit.size.fileBytes);
    if (json)
        std::printf("{\"limit\": %d, \"finalFileBytes\": %lld, \"plannedSampleBytes\": %lld}\n", fit.limit,
                    fileBytes, static_cast<long long>(fit.size.plannedSampleBytes));
    else
        std::printf("High Bitrate Limit (Kbps): %d\nFinal AVI size (bytes): %lld\n", fit.limit, fileBytes);
    return kExitCompleted;
}

int runVerifyCommand(const JobOptions& options, const std::string& finalPath,
                     const CreateCommandOptions& flags)
{
    // Verify only reads, so different frame counts are taken as Create takes them after a Yes.
    ConsoleUiPort ui({.assumeYes = true, .quiet = flags.quiet, .activity = "Verifying"});
    core::JobSettings settings = options.settings();
    if (!finalPath.empty())
        settings.finalPath = finalPath;
    if (flags.fit && !fitLimitFirst(settings, ui))
        return kExitEnded;
    const ConsoleUiPort::InterruptGuard interruptGuard;
    const engine::VerifyReport report = engine::verifyFinalAvi(settings, ui);
    switch (report.status) {
    case engine::VerifyStatus::Verified:
    case engine::VerifyStatus::Differs:
        std::printf("%s\n", consoleText(report.message().text).c_str());
        return report.status == engine::VerifyStatus::Verified ? kExitCompleted : kExitEnded;
    case engine::VerifyStatus::Aborted:
        std::fprintf(stderr, "Verify aborted.\n");
        return kExitInterrupted;
    case engine::VerifyStatus::Ended:
        break;
    }
    return kExitEnded;
}

} // namespace cli
