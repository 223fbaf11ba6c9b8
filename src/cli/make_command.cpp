#include "cli/make_command.h"

#include "cli/commands.h"
#include "cli/console_ui_port.h"
#include "engine/make.h"

#include <cstdio>
#include <optional>
#include <sstream>

namespace cli {

namespace {

// Reads "4,5,6/2" into levels; nothing when a level is not a quantizer (or key quantizer) 1 .. 51.
std::optional<std::vector<engine::MakeLevel>> levelsOf(const std::string& text)
{
    std::vector<engine::MakeLevel> levels;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        engine::MakeLevel level;
        char slash = 0;
        std::istringstream in(item);
        if (!(in >> level.quantizer))
            return std::nullopt;
        level.keyQuantizer = level.quantizer;
        if (in >> slash && (slash != '/' || !(in >> level.keyQuantizer)))
            return std::nullopt;
        if (level.quantizer < 1 || level.quantizer > 51 || level.keyQuantizer < 1 || level.keyQuantizer > 51)
            return std::nullopt;
        levels.push_back(level);
    }
    if (levels.empty())
        return std::nullopt;
    return levels;
}

void printJson(const engine::MakeResult& result)
{
    std::printf(
        "{\"finalFileBytes\": %lld, \"targetBytes\": %lld, \"psnr\": %.4f, \"mode\": \"%s\", \"groups\": %d, "
        "\"encodes\": %d, \"levels\": [",
        static_cast<long long>(result.finalFileBytes), static_cast<long long>(result.targetBytes),
        result.psnr, result.mode == engine::MakeMode::Quality ? "quality" : "classic", result.groups,
        result.encodes);
    for (size_t i = 0; i < result.levels.size(); ++i) {
        const engine::MakeLevelUse& use = result.levels[i];
        std::printf("%s{\"quantizer\": %d, \"keyQuantizer\": %d, \"groups\": %d, \"bytes\": %lld}",
                    i > 0 ? ", " : "", use.level.quantizer, use.level.keyQuantizer, use.groups,
                    static_cast<long long>(use.bytes));
    }
    std::printf("], \"highBitrateLimit\": %d, \"seconds\": {", result.highBitrateLimit);
    double total = 0;
    for (const engine::MakeStepTime& step : result.seconds) {
        std::printf("\"%s\": %.3f, ", step.step.c_str(), step.seconds);
        total += step.seconds;
    }
    std::printf("\"total\": %.3f}}\n", total);
}

} // namespace

CLI::App* addMake(CLI::App& app, MakeOptions& options)
{
    CLI::App* command = app.add_subcommand(
        "make", "Make a Final AVI with the film's sound from a film in one step, within --size");
    command->add_option("--source", options.source, "Film to make the Final AVI from")
        ->required()
        ->check(CLI::ExistingFile);
    command->add_option("--final", options.final, "Final AVI to write")->required();
    command->add_option("--size", options.sizeMB, "Final size in MB, as the window's \"Final size (MB)\"")
        ->required()
        ->check(CLI::Range(1, 1000000));
    command
        ->add_option("--audio", options.audioKbps, "Kbps of the MP3 when the sound is encoded (default 128)")
        ->check(CLI::Range(8, 320));
    command->add_option("--codec", options.codec, "mpeg4 (default) or h264")
        ->check(CLI::IsMember({"mpeg4", "h264"}));
    command
        ->add_option("--mode", options.mode,
                     "quality (default): levels chosen by measured error; classic: "
                     "Fast and Low Motion AVIs, Fit, Create")
        ->check(CLI::IsMember({"quality", "classic"}));
    command->add_option(
        "--levels", options.levels,
        "Quantizers to encode, e.g. 2,4,6/2 (6/2: key frames at 2); default: chosen from a probe");
    command->add_option("--key-seconds", options.keySeconds, "Seconds between key frames (default 10)")
        ->check(CLI::Range(1, 24));
    command->add_option("--work", options.work,
                        "Folder for the encodes (default: a new folder beside the Final AVI)");
    command->add_flag("--keep", options.keep, "Keep the work folder and its encodes");
    command->add_flag("--yes", options.assumeYes, "Replace an existing Final AVI without asking");
    command->add_flag("--quiet", options.quiet, "Show no progress line");
    command->add_flag("--json", options.json, "Print one JSON object");
    return command;
}

int runMakeCommand(const MakeOptions& options)
{
    ConsoleUiPort ui({options.assumeYes, options.quiet});
    engine::MakeRequest request;
    request.sourcePath = options.source;
    request.finalPath = options.final;
    request.finalSizeMB = options.sizeMB;
    request.audioKbps = options.audioKbps;
    request.codec = options.codec == "h264" ? media::VideoCodec::H264 : media::VideoCodec::Mpeg4;
    request.mode = options.mode == "classic" ? engine::MakeMode::Classic : engine::MakeMode::Quality;
    if (!options.levels.empty()) {
        const std::optional<std::vector<engine::MakeLevel>> levels = levelsOf(options.levels);
        if (!levels) {
            std::fprintf(stderr, "--levels: %s is not a list of quantizers\n", options.levels.c_str());
            return kExitUsage;
        }
        request.levels = *levels;
    }
    request.keySeconds = options.keySeconds;
    request.workFolder = options.work;
    request.keepWork = options.keep;
    request.replaceAgreed = options.assumeYes;
    const ConsoleUiPort::InterruptGuard interruptGuard;
    engine::MakeResult result;
    const engine::CommandOutcome outcome = engine::runMake(request, media::ffmpegMedia(), ui, result);
    if (outcome == engine::CommandOutcome::Aborted || ConsoleUiPort::interrupted()) {
        std::fprintf(stderr, "Aborted; nothing was written.\n");
        return kExitInterrupted;
    }
    if (outcome != engine::CommandOutcome::Completed)
        return kExitEnded;
    if (options.json) {
        printJson(result);
        return kExitCompleted;
    }
    std::printf("Final AVI written: %lld bytes of %lld (%.2f %%), PSNR %.2f dB, %d groups from %d encodes\n",
                static_cast<long long>(result.finalFileBytes), static_cast<long long>(result.targetBytes),
                100.0 * double(result.finalFileBytes) / double(result.targetBytes), result.psnr,
                result.groups, result.encodes);
    if (options.keep)
        std::printf("Work folder kept: %s\n", result.workFolder.c_str());
    return kExitCompleted;
}

} // namespace cli
