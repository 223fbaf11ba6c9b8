#include "cli/commands.h"

#include "cli/analyze_command.h"
#include "cli/create_command.h"
#include "cli/encode_commands.h"
#include "cli/exact_commands.h"
#include "cli/job_options.h"
#include "cli/probe_command.h"
#include "core/version.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace cli {

int runCommandLine(int argc, char** argv)
{
    CLI::App app{"KestrelIon batch front end: builds a Final AVI near a target size from a Fast Motion and a "
                 "Low Motion encoding of the same film.",
                 "kestrelion-cli"};
    app.set_version_flag("--version", std::string("kestrelion-cli (KestrelIon) ") + core::versionText(),
                         "Print the name and version and exit");
    app.require_subcommand(1);
    app.footer("Exit status: 0 completed, 1 ended with a message, 2 usage error, 130 aborted by Ctrl-C.");

    std::string probePath;
    bool probeJson = false;
    CLI::App* probe = app.add_subcommand("probe", "Show a source AVI's video stream, format and frame table");
    probe->add_option("FILE", probePath, "AVI file")->required();
    probe->add_flag("--json", probeJson, "Print one JSON object");

    JobOptions analyzeOptions;
    bool analyzeJson = false;
    bool analyzeCsv = false;
    CLI::App* analyze = app.add_subcommand("analyze", "Measure the Fast Motion AVI and print the Low Motion "
                                                      "bitrate that fills the target size");
    analyzeOptions.addTo(*analyze, false);
    analyzeOptions.addLowMotionTo(*analyze);
    CLI::Option* analyzeJsonFlag = analyze->add_flag(
        "--json", analyzeJson, "Print one JSON object with the counts, the plan and every second's bitrate");
    analyze->add_flag("--csv", analyzeCsv, "Print one line per second: second,group,kbps,choice")
        ->excludes(analyzeJsonFlag);

    JobOptions createOptions;
    CreateCommandOptions createFlags;
    CLI::App* create = app.add_subcommand("create", "Write the Final AVI (and stat.txt with --stats)");
    createOptions.addTo(*create, true);
    create->add_flag("--yes", createFlags.assumeYes, "Answer Yes to the question about different frame counts");
    create->add_flag("--quiet", createFlags.quiet, "Show no progress bar");
    create->add_flag("--fit", createFlags.fit,
                     "Set the High Bitrate Limit that fills the target first (see fit)");

    JobOptions fitOptions;
    bool fitJson = false;
    CLI::App* fit =
        app.add_subcommand("fit", "Print the High Bitrate Limit whose Final AVI comes closest to the "
                                  "target size without passing it, and that Final AVI's size");
    fitOptions.addTo(*fit, false);
    fitOptions.addLowMotionTo(*fit);
    fit->get_option("--lm")->required();
    fit->add_flag("--json", fitJson, "Print one JSON object");

    JobOptions verifyOptions;
    std::string verifyPath;
    bool verifyQuiet = false;
    CLI::App* verify = app.add_subcommand("verify", "Check a Final AVI frame by frame against the plan its "
                                                    "sources and settings make");
    verify->add_option("FINAL", verifyPath, "Final AVI to check")->required();
    verifyOptions.addTo(*verify, false);
    verifyOptions.addLowMotionTo(*verify);
    verify->get_option("--lm")->required();
    verify->add_flag("--quiet", verifyQuiet, "Show no progress bar");

    EncodeLowMotionOptions encodeLowMotionOptions;
    CLI::App* encodeLowMotion = addEncodeLowMotion(app, encodeLowMotionOptions);
    EncodeFastMotionOptions encodeFastMotionOptions;
    CLI::App* encodeFastMotion = addEncodeFastMotion(app, encodeFastMotionOptions);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? kExitCompleted : kExitUsage;
    }

    if (probe->parsed())
        return runProbe(probePath, probeJson);
    if (analyze->parsed())
        return runAnalyzeCommand(analyzeOptions, analyzeJson  ? AnalyzeFormat::Json
                                                 : analyzeCsv ? AnalyzeFormat::Csv
                                                              : AnalyzeFormat::Text);
    if (fit->parsed())
        return runFitCommand(fitOptions, fitJson);
    if (verify->parsed())
        return runVerifyCommand(verifyOptions, verifyPath, verifyQuiet);
    if (encodeLowMotion->parsed())
        return runEncodeLowMotionCommand(encodeLowMotionOptions);
    if (encodeFastMotion->parsed())
        return runEncodeFastMotionCommand(encodeFastMotionOptions);
    return runCreateCommand(createOptions, createFlags);
}

} // namespace cli
