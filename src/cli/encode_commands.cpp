#include "cli/encode_commands.h"

#include "cli/commands.h"
#include "cli/console_ui_port.h"
#include "engine/encode.h"

#include <cstdio>

namespace cli {

namespace {

void addFlags(CLI::App& command, EncodeFlags& flags)
{
    command.add_option("--passes", flags.passes, "1 (default) or 2 for a two-pass encode")
        ->check(CLI::IsMember({1, 2}));
    command.add_flag("--yes", flags.assumeYes, "Replace an existing AVI without asking");
    command.add_flag("--quiet", flags.quiet, "Show no progress line");
    command.add_flag("--json", flags.json, "Print one JSON object");
}

int report(engine::CommandOutcome outcome, const engine::EncodeResult& result, const char* what, bool json)
{
    if (outcome == engine::CommandOutcome::Aborted || ConsoleUiPort::interrupted()) {
        std::fprintf(stderr, "Aborted; nothing was written.\n");
        return kExitInterrupted;
    }
    if (outcome != engine::CommandOutcome::Completed)
        return kExitEnded;
    if (json)
        std::printf("{\"frames\": %lld, \"keyFrames\": %lld, \"bytes\": %lld, \"kbps\": %lld, \"seconds\": %.3f}\n",
                    static_cast<long long>(result.frames), static_cast<long long>(result.keyFrames),
                    static_cast<long long>(result.fileBytes), static_cast<long long>(result.kbps), result.seconds);
    else
        std::printf("%s written: %lld frames, %lld key frames, %lld bytes, %lld Kbps\n", what,
                    static_cast<long long>(result.frames), static_cast<long long>(result.keyFrames),
                    static_cast<long long>(result.fileBytes), static_cast<long long>(result.kbps));
    return kExitCompleted;
}

} // namespace

CLI::App* addEncodeLowMotion(CLI::App& app, EncodeLowMotionOptions& options)
{
    CLI::App* command = app.add_subcommand(
        "encode-lm", "Encode the Low Motion AVI with the Fast Motion AVI's frames and key frames, at the "
                     "estimated Low Motion bitrate or --kbps");
    options.job.addTo(*command, false);
    options.job.addLowMotionTo(*command);
    command->get_option("--fm")->required();
    command->get_option("--lm")->required();
    command->add_option("--source", options.source, "Film to encode (default: the Fast Motion AVI)")
        ->check(CLI::ExistingFile);
    command->add_option("--kbps", options.flags.kbps, "Bitrate in Kbps (default: the estimate)")
        ->check(CLI::Range(1, 1000000));
    addFlags(*command, options.flags);
    return command;
}

CLI::App* addEncodeFastMotion(CLI::App& app, EncodeFastMotionOptions& options)
{
    CLI::App* command = app.add_subcommand(
        "encode-fm", "Encode a film into a Fast Motion AVI with a key frame every --key-seconds seconds");
    command->add_option("--source", options.source, "Film to encode")->required()->check(CLI::ExistingFile);
    command->add_option("--fm", options.fastMotion, "Fast Motion AVI to write")->required();
    command->add_option("--kbps", options.flags.kbps, "Bitrate in Kbps")->required()->check(CLI::Range(1, 1000000));
    command->add_option("--key-seconds", options.keySeconds, "Seconds between key frames (default 10)")
        ->check(CLI::Range(1, 3600));
    command->add_option("--codec", options.codec, "mpeg4 (default) or h264")
        ->check(CLI::IsMember({"mpeg4", "h264"}));
    command->add_option("--fourcc", options.fourcc, "FourCC of the codec (default XVID or H264)");
    addFlags(*command, options.flags);
    return command;
}

int runEncodeLowMotionCommand(const EncodeLowMotionOptions& options)
{
    ConsoleUiPort ui({options.flags.assumeYes, options.flags.quiet});
    core::Job job;
    job.settings = options.job.settings();
    engine::LowMotionEncodeRequest request;
    request.sourcePath = options.source;
    request.kbps = options.flags.kbps;
    request.passes = options.flags.passes;
    const ConsoleUiPort::InterruptGuard interruptGuard;
    engine::EncodeResult result;
    const engine::CommandOutcome outcome = engine::runEncodeLowMotion(job, request, media::ffmpegMedia(), ui, result);
    return report(outcome, result, "Low Motion AVI", options.flags.json);
}

int runEncodeFastMotionCommand(const EncodeFastMotionOptions& options)
{
    ConsoleUiPort ui({options.flags.assumeYes, options.flags.quiet});
    engine::FastMotionEncodeRequest request;
    request.sourcePath = options.source;
    request.fastMotionPath = options.fastMotion;
    request.kbps = options.flags.kbps;
    request.keySeconds = options.keySeconds;
    request.codec = options.codec == "h264" ? media::VideoCodec::H264 : media::VideoCodec::Mpeg4;
    request.fourcc = options.fourcc;
    request.passes = options.flags.passes;
    const ConsoleUiPort::InterruptGuard interruptGuard;
    engine::EncodeResult result;
    const engine::CommandOutcome outcome = engine::runEncodeFastMotion(request, media::ffmpegMedia(), ui, result);
    return report(outcome, result, "Fast Motion AVI", options.flags.json);
}

} // namespace cli
