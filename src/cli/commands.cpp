#include "cli/commands.h"

#include "cli/analyze_command.h"
#include "cli/create_command.h"
#include "cli/encode_commands.h"
#include "cli/exact_commands.h"
#include "cli/job_options.h"
#include "cli/make_command.h"
#include "cli/probe_command.h"
#include "core/version.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace cli {

namespace {

constexpr const char* kExitStatusText =
    "Exit status: 0 completed, 1 ended with a message, 2 usage error, 130 aborted by Ctrl-C.";

// One example of a help text: the arguments after the program's name and, when not null, what
// they do.
struct Example {
    const char* arguments;
    const char* effect = nullptr;
};

// Returns the footer of a command's help: the exit statuses, then examples, one a line, each
// followed by what it does on a line further in.
std::string footer(std::initializer_list<Example> examples)
{
    std::string text = kExitStatusText;
    text += "\n\nExamples:";
    for (const Example& example : examples) {
        text += std::string("\n  kestrelion-cli ") + example.arguments;
        if (example.effect != nullptr)
            text += std::string("\n      ") + example.effect;
    }
    return text;
}

// Adds the flags create takes besides the job settings.
void addCreateFlags(CLI::App& command, CreateCommandOptions& flags)
{
    command.add_flag("--yes", flags.assumeYes, "Answer Yes to the question about different frame counts");
    command.add_flag("--quiet", flags.quiet, "Show no progress bar");
    command.add_flag("--fit", flags.fit, "Set the High Bitrate Limit that fills the target first (see fit)");
}

} // namespace

int runCommandLine(int argc, char** argv)
{
    CLI::App app{"KestrelIon batch front end: builds a Final AVI near a target size from a Fast Motion and a "
                 "Low Motion encoding of the same film.",
                 "kestrelion-cli"};
    app.set_version_flag("--version", std::string("kestrelion-cli (KestrelIon) ") + core::versionText(),
                         "Print the name and version and exit");
    app.require_subcommand(1);
    app.footer(
        footer({{"analyze --fm film-fm.avi --size 700", "Prints the Low Motion bitrate that fills 700 MB."},
                {"create --fm film-fm.avi --lm film-lm.avi --final film.avi --size 700 --fit --stats",
                 "Writes film.avi, at the High Bitrate Limit that fills 700 MB, and stat.txt."},
                {"verify --fm film-fm.avi --lm film-lm.avi --final film.avi --size 700 --fit",
                 "Checks film.avi frame by frame against the plan of those settings."},
                {"help create", "Lists the options of create."}}));

    std::string probePath;
    bool probeJson = false;
    CLI::App* probe = app.add_subcommand("probe", "Show a source AVI's video stream, format and frame table");
    probe->footer(footer({{"probe film-fm.avi"}, {"probe --json film-fm.avi"}}));
    probe->add_option("FILE", probePath, "AVI file")->required();
    probe->add_flag("--json", probeJson, "Print one JSON object");

    JobOptions analyzeOptions;
    bool analyzeJson = false;
    bool analyzeCsv = false;
    CLI::App* analyze = app.add_subcommand("analyze", "Measure the Fast Motion AVI and print the Low Motion "
                                                      "bitrate that fills the target size");
    analyze->footer(footer({{"analyze --fm film-fm.avi --size 700 --audio 96"},
                            {"analyze --profile job.ini --lm film-lm.avi --json"},
                            {"analyze --fm film-fm.avi --csv > seconds.csv"}}));
    analyzeOptions.addTo(*analyze, false);
    analyzeOptions.addLowMotionTo(*analyze);
    CLI::Option* analyzeJsonFlag = analyze->add_flag(
        "--json", analyzeJson, "Print one JSON object with the counts, the plan and every second's bitrate");
    // Refused together after parsing: an exclusion the parser checks shows as "Excludes:" in --help.
    CLI::Option* analyzeCsvFlag =
        analyze->add_flag("--csv", analyzeCsv, "Print one line per second: second,group,kbps,choice");

    JobOptions createOptions;
    CreateCommandOptions createFlags;
    CLI::App* create = app.add_subcommand("create", "Write the Final AVI (and stat.txt with --stats)");
    create->footer(footer({{"create --fm film-fm.avi --lm film-lm.avi --final film.avi --limit 650"},
                           {"create --profile job.ini --fit --stats --yes --quiet"}}));
    createOptions.addTo(*create, true);
    addCreateFlags(*create, createFlags);

    JobOptions fitOptions;
    bool fitJson = false;
    CLI::App* fit =
        app.add_subcommand("fit", "Print the High Bitrate Limit whose Final AVI comes closest to the "
                                  "target size without passing it, and that Final AVI's size");
    fit->footer(
        footer({{"fit --fm film-fm.avi --lm film-lm.avi --size 700"}, {"fit --profile job.ini --json"}}));
    fitOptions.addTo(*fit, false);
    fitOptions.addLowMotionTo(*fit);
    fit->get_option("--lm")->required();
    fit->add_flag("--json", fitJson, "Print one JSON object");

    // verify takes create's command line, so a Final AVI is checked by repeating the command that
    // wrote it with "verify" in place of "create".
    JobOptions verifyOptions;
    CreateCommandOptions verifyFlags;
    std::string verifyPath;
    CLI::App* verify = app.add_subcommand("verify", "Check a Final AVI frame by frame against the plan its "
                                                    "sources and settings make");
    verify->footer(footer({{"verify --fm film-fm.avi --lm film-lm.avi --final film.avi --limit 650"},
                           {"verify film.avi --profile job.ini --fit"}}));
    verifyOptions.addTo(*verify, true);
    addCreateFlags(*verify, verifyFlags);
    verify->get_option("--final")->description("Final AVI to check (or FINAL)");
    verify->get_option("--stats")->description("Taken as create takes it; verify writes nothing");
    verify->get_option("--yes")->description("Taken as create takes it; verify reads different frame "
                                             "counts as create does after a Yes");
    verify->add_option("FINAL", verifyPath, "Final AVI to check (or --final)");

    std::string helpTopic;
    CLI::App* help = app.add_subcommand("help", "Print this help, or a subcommand's help");
    help->footer(footer({{"help"}, {"help verify"}}));
    help->add_option("SUBCOMMAND", helpTopic, "Subcommand whose help to print");

    EncodeLowMotionOptions encodeLowMotionOptions;
    CLI::App* encodeLowMotion = addEncodeLowMotion(app, encodeLowMotionOptions);
    EncodeFastMotionOptions encodeFastMotionOptions;
    CLI::App* encodeFastMotion = addEncodeFastMotion(app, encodeFastMotionOptions);
    MakeOptions makeOptions;
    CLI::App* make = addMake(app, makeOptions);

    try {
        app.parse(argc, argv);
        for (const JobOptions* options : {&analyzeOptions, &createOptions, &fitOptions, &verifyOptions})
            options->checkExclusions();
        if (analyzeJsonFlag->count() > 0 && analyzeCsvFlag->count() > 0)
            throw CLI::ExcludesError("--json", "--csv");
        if (!verifyPath.empty() && verify->get_option("--final")->count() > 0)
            throw CLI::ExcludesError("FINAL", "--final");
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? kExitCompleted : kExitUsage;
    }

    if (help->parsed()) {
        if (helpTopic.empty()) {
            std::cout << app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
            return kExitCompleted;
        }
        try {
            std::cout << app.get_subcommand(helpTopic)->help(app.get_name());
            return kExitCompleted;
        } catch (const CLI::OptionNotFound&) {
            return app.exit(CLI::ValidationError("SUBCOMMAND", helpTopic + " is not a subcommand")) == 0
                       ? kExitCompleted
                       : kExitUsage;
        }
    }
    if (probe->parsed())
        return runProbe(probePath, probeJson);
    if (analyze->parsed())
        return runAnalyzeCommand(analyzeOptions, analyzeJson  ? AnalyzeFormat::Json
                                                 : analyzeCsv ? AnalyzeFormat::Csv
                                                              : AnalyzeFormat::Text);
    if (fit->parsed())
        return runFitCommand(fitOptions, fitJson);
    if (verify->parsed()) {
        if (verifyPath.empty() && verifyOptions.settings().finalPath.empty())
            return app.exit(CLI::RequiredError("FINAL or --final")) == 0 ? kExitCompleted : kExitUsage;
        return runVerifyCommand(verifyOptions, verifyPath, verifyFlags);
    }
    if (encodeLowMotion->parsed())
        return runEncodeLowMotionCommand(encodeLowMotionOptions);
    if (encodeFastMotion->parsed())
        return runEncodeFastMotionCommand(encodeFastMotionOptions);
    if (make->parsed())
        return runMakeCommand(makeOptions);
    return runCreateCommand(createOptions, createFlags);
}

} // namespace cli
