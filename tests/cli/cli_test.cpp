// Runs the batch front end as a separate process, as a script would.
#include "avi_builder.h"
#include "engine/commands.h"
#include "engine/planner.h"
#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using test_support::shellQuote;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

RunResult runCli(const std::string& arguments, const std::string& scratch)
{
    const std::string errPath = scratch + "/stderr.txt";
    RunResult result;
    result.out = test_support::runCommand(std::string(KESTRELION_CLI) + " " + arguments + " </dev/null 2>" +
                                              shellQuote(errPath),
                                          result.exitCode);
    std::ifstream err(errPath);
    std::stringstream text;
    text << err.rdbuf();
    result.err = text.str();
    return result;
}

// Pulls the numbers out of "[k, size]" pairs of the probe's JSON frame list.
std::vector<test_support::ProbePacket> framesFromJson(const std::string& json)
{
    std::vector<test_support::ProbePacket> frames;
    const std::string list = json.substr(json.find("\"frames\""));
    const std::regex pair(R"(\[(\d), (\d+)\])");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), pair); it != std::sregex_iterator(); ++it)
        frames.push_back({(*it)[1] == "1", std::stoll((*it)[2])});
    return frames;
}

TEST(BatchFrontEnd, FollowsCommandLineConventions)
{
    const std::string scratch = test_support::freshTempDir("cli_conventions");
    const RunResult help = runCli("--help", scratch);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("probe"), std::string::npos);
    EXPECT_NE(help.out.find("create"), std::string::npos);

    const RunResult version = runCli("--version", scratch);
    EXPECT_EQ(std::pair(version.exitCode, version.out), std::pair(0, std::string("kestrelion-cli (KestrelIon) 2.0\n")));

    struct Case {
        const char* arguments;
        const char* errStarts = ""; // the usage error's first line
    };
    const Case usageErrors[] = {
        {""},
        {"frobnicate"},
        {"probe"},
        {"create --unknown"},
        {"analyze --audio abc", "--audio: abc is not a bitrate in Kbps (0 or more)\n"},
        {"analyze --frame-pos -5", "--frame-pos: -5 is not a frame number (0 or more)\n"},
        {"create --size=99999999999", "--size: 99999999999 is not a size in MB (0 to 2147483647)\n"}};
    for (const Case& c : usageErrors) {
        SCOPED_TRACE(c.arguments);
        const RunResult result = runCli(c.arguments, scratch);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_FALSE(result.err.empty());
        EXPECT_EQ(result.err.rfind(c.errStarts, 0), 0u) << result.err;
    }
}

TEST(BatchFrontEnd, ProbeListsTheSameFramesAsFfprobe)
{
    const std::string scratch = test_support::freshTempDir("cli_probe");
    const std::string fm = test_support::fastMotionAvi();
    const RunResult result = runCli("probe --json " + shellQuote(fm), scratch);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("\"handler\": \"XVID\""), std::string::npos);
    EXPECT_NE(result.out.find("\"length\": 1000"), std::string::npos);
    EXPECT_NE(result.out.find("\"formatSize\": 40"), std::string::npos);
    EXPECT_NE(result.out.find("\"width\": 320"), std::string::npos);
    const auto frames = framesFromJson(result.out);
    const auto packets = test_support::probePackets(fm);
    ASSERT_EQ(frames.size(), packets.size());
    for (size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(frames[i], packets[i]) << "frame " << i;

    const RunResult text = runCli("probe " + shellQuote(fm), scratch);
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("       0 K "), std::string::npos);
    EXPECT_NE(text.out.find("       1   "), std::string::npos);
}

TEST(BatchFrontEnd, AnalyzeTakesSettingsFromOptionsAndProfiles)
{
    const std::string scratch = test_support::freshTempDir("cli_analyze");
    const std::string fm = shellQuote(test_support::fastMotionAvi());
    const std::string profile = scratch + "/job.ini";
    std::ofstream(profile) << "[KestrelIon]\r\nFastMotionAvi=" << test_support::fastMotionAvi()
                           << "\r\nEndingAvi=0\r\nStopAfter=1\r\nFramePos=250\r\nFinalSize=10\r\n";
    const std::string missing = scratch + "/no such film.avi";
    struct Case {
        std::string arguments;
        int exitCode;
        std::vector<std::string> outputHas; // on stdout, or on stderr for exit 1
    };
    const Case cases[] = {
        {"analyze --json --fm " + fm, 0,
         {"\"keyframeDistance\": 25", "\"groupSeconds\": 1", "\"totalFrames\": 1000", "\"fmFrames\": 1000",
          "\"choice\": 0", "\"choice\": 1"}},
        {"analyze --json --stop-after 500 --fm " + fm, 0, {"\"totalFrames\": 500", "\"fmFrames\": 500"}},
        {"analyze --json --profile " + shellQuote(profile), 0, {"\"totalFrames\": 250"}},
        {"analyze --json --stop-after 750 --profile " + shellQuote(profile), 0, {"\"totalFrames\": 750"}},
        {"analyze --fm " + shellQuote(missing), 1, {"Could not open AVI\n" + missing + "\n"}},
        {"probe " + shellQuote(missing), 1, {"Could not open AVI\n" + missing + "\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const RunResult result = runCli(c.arguments, scratch);
        ASSERT_EQ(result.exitCode, c.exitCode) << result.err;
        for (const std::string& text : c.outputHas)
            EXPECT_NE((c.exitCode == 0 ? result.out : result.err).find(text), std::string::npos) << result.out;
    }

    const RunResult text = runCli("analyze --size 5 --fm " + fm, scratch);
    EXPECT_TRUE(std::regex_match(text.out, std::regex("Low Motion Bitrate \\(Kbps\\): ([0-9]+|n/a)\n"))) << text.out;
    const RunResult json = runCli("analyze --json --fm " + fm, scratch);
    const std::regex groupPattern("fmBytes");
    EXPECT_EQ(std::distance(std::sregex_iterator(json.out.begin(), json.out.end(), groupPattern), std::sregex_iterator()),
              40);
}

TEST(BatchFrontEnd, AnalyzePrintsEverySecondAsThePlannerMeasuresIt)
{
    const std::string scratch = test_support::freshTempDir("cli_seconds");
    const std::string ending = test_support::mediaFile({.frames = 300, .quantizer = 31});
    for (const int32_t framePos : {-1, 690}) { // 690: the ending takes over inside group 27
        SCOPED_TRACE(framePos);
        core::Job job;
        core::applyOpeningDefaults(job.settings);
        job.settings.fastMotionPath = test_support::fastMotionAvi();
        job.settings.endingEnabled = framePos >= 0;
        job.settings.endingPath = ending;
        job.settings.framePos = std::max(framePos, 0);
        test_support::RecordingUiPort ui;
        ASSERT_EQ(engine::runAnalyze(job, ui), engine::CommandOutcome::Completed);
        engine::PlanMeasures measures;
        core::PlanTable plan;
        const core::AnalysisState& state = job.state;
        (void)engine::plan(state.fastMotionInfo, state.keyframeDistance, state.totalFrames, state.groupSeconds,
                           state.fastMotionFrames, plan, true, state.endingBytes, job.settings, &measures);
        std::string seconds = "\"seconds\": [";
        std::string csv = "second,group,kbps,choice\n";
        for (size_t w = 0; w < measures.windowBytes.size(); ++w) {
            const int64_t kbps = measures.windowKbps(w);
            seconds += (w > 0 ? ", " : "") + (kbps < 0 ? "null" : std::to_string(kbps));
            csv += std::to_string(w) + "," + std::to_string(w) + "," + (kbps < 0 ? "" : std::to_string(kbps)) + "," +
                   std::to_string(static_cast<int>(plan[static_cast<int32_t>(w)].choice)) + "\n";
        }
        ASSERT_EQ(measures.windowBytes.size(), 40u); // a group is one second
        EXPECT_EQ(seconds.find("null") != std::string::npos, framePos >= 0) << seconds;

        const std::string options = " --fm " + shellQuote(job.settings.fastMotionPath) +
                                    (framePos < 0 ? "" : " --ending " + shellQuote(ending) + " --frame-pos 690");
        const RunResult json = runCli("analyze --json" + options, scratch);
        EXPECT_NE(json.out.find(seconds + "]}\n"), std::string::npos) << json.out;
        EXPECT_EQ(runCli("analyze --csv" + options, scratch).out, csv);
    }
}

TEST(BatchFrontEnd, CreateWritesTheFinalAviAndTheStatisticsFile)
{
    const std::string scratch = test_support::freshTempDir("cli_create");
    const std::string final = scratch + "/Final.avi";
    const RunResult result = runCli("create --quiet --stats --size 5 --fm " +
                                        shellQuote(test_support::fastMotionAvi()) + " --lm " +
                                        shellQuote(test_support::lowMotionAvi()) + " --final " + shellQuote(final),
                                    scratch);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::smatch size = [&] {
        std::smatch match;
        std::regex_search(result.out, match, std::regex("^Final AVI-size: ([0-9]+)\n$"));
        return match;
    }();
    ASSERT_FALSE(size.empty()) << result.out;
    const auto packets = test_support::probePackets(final);
    ASSERT_EQ(packets.size(), 1000u);
    int64_t total = 0;
    for (const auto& packet : packets)
        total += packet.size;
    EXPECT_EQ(std::to_string(total), size[1].str());
    EXPECT_EQ(test_support::decodeErrors(final), "");
    std::ifstream stat(scratch + "/stat.txt");
    std::stringstream statText;
    statText << stat.rdbuf();
    EXPECT_EQ(statText.str().rfind("Kestrel - Ion Statistic file\n\nFM-AVI\n\n", 0), 0u);
    EXPECT_NE(statText.str().find("\n\nFinal AVI-size: " + size[1].str() + "\n"), std::string::npos);
}

// analyze --lm, fit, create --fit and verify tell the same Final AVI.
TEST(BatchFrontEnd, FitCountsTheFinalAviCreateWritesAndVerifyChecks)
{
    const std::string scratch = test_support::freshTempDir("cli_fit");
    const std::string final = scratch + "/Final.avi";
    const std::string sources = " --size 4 --fm " + shellQuote(test_support::fastMotionAvi()) + " --lm " +
                                shellQuote(test_support::lowMotionAvi());
    const RunResult fit = runCli("fit --json" + sources, scratch);
    std::smatch found;
    ASSERT_TRUE(std::regex_match(
        fit.out, found,
        std::regex(R"(\{"limit": (\d+), "finalFileBytes": (\d+), "plannedSampleBytes": \d+\}\n)")))
        << fit.out << fit.err;
    const std::string limit = found[1], fileBytes = found[2];
    const RunResult create = runCli("create --quiet --fit --final " + shellQuote(final) + sources, scratch);
    EXPECT_EQ(create.out.rfind("High Bitrate Limit (Kbps): " + limit + "\n", 0), 0u)
        << create.out << create.err;
    EXPECT_EQ(std::to_string(fs::file_size(final)), fileBytes);
    const struct {
        std::string arguments;
        int exitCode;
        std::string output; // stdout, or what stderr starts with for exit 1 without stdout
    } cases[] = {
        {"fit" + sources, 0,
         "High Bitrate Limit (Kbps): " + limit + "\nFinal AVI size (bytes): " + fileBytes + "\n"},
        {"analyze --limit " + limit + sources, 0, "Final AVI size (bytes): " + fileBytes + "\n"},
        {"analyze --json --limit " + limit + sources, 0,
         "\"finalFileBytes\": " + fileBytes + ", \"plannedSampleBytes\""},
        {"verify " + shellQuote(final) + " --limit " + limit + sources, 0,
         "Final AVI verified: 1000 frames\n"},
        {"verify " + shellQuote(final) + " --limit 0" + sources, 1, "Final AVI differs from its plan in "},
        {"fit --audio 500" + sources, 1, "Even all Low Motion groups need "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const RunResult result = runCli(c.arguments, scratch);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE((result.out.empty() ? result.err : result.out).find(c.output), std::string::npos)
            << result.out;
    }
    EXPECT_EQ(runCli("analyze --json --fm " + shellQuote(test_support::fastMotionAvi()), scratch)
                  .out.find("finalFileBytes"),
              std::string::npos);
}

TEST(BatchFrontEnd, CreateAnswersNoToTheFrameCountQuestionWithoutATerminal)
{
    const std::string scratch = test_support::freshTempDir("cli_question");
    const std::string fm = scratch + "/fm.avi";
    const std::string lm = scratch + "/lm.avi";
    test_support::AviBuildSpec layout;
    layout.frames = test_support::gridFrames(100, 25, 3000, 500);
    test_support::buildAvi(fm, layout);
    layout.frames = test_support::gridFrames(102, 25, 1000, 100);
    test_support::buildAvi(lm, layout);
    const std::string common = "create --quiet --fm " + shellQuote(fm) + " --lm " + shellQuote(lm) + " --final " +
                               shellQuote(scratch + "/Final.avi");

    const RunResult no = runCli(common, scratch);
    EXPECT_EQ(no.exitCode, 1);
    EXPECT_NE(no.err.find("FM and LM-AVI have different total frames (LM: 102 / FM: 100)\n"), std::string::npos)
        << no.err;
    EXPECT_FALSE(fs::exists(scratch + "/Final.avi"));

    const RunResult yes = runCli(common + " --yes", scratch);
    EXPECT_EQ(yes.exitCode, 0) << yes.err;
    EXPECT_EQ(test_support::probePackets(scratch + "/Final.avi").size(), 100u);
}

TEST(BatchFrontEnd, CtrlCAbortsTheCopyAndLeavesAReadableFinalAvi)
{
    const std::string scratch = test_support::freshTempDir("cli_interrupt");
    const std::string fm = scratch + "/fm.avi";
    const std::string lm = scratch + "/lm.avi";
    const std::string final = scratch + "/Final.avi";
    constexpr int32_t kFrames = 100000;
    test_support::AviBuildSpec layout;
    layout.frames = test_support::gridFrames(kFrames, 25, 6000, 1500);
    test_support::buildAvi(fm, layout);
    layout.frames = test_support::gridFrames(kFrames, 25, 2000, 300);
    test_support::buildAvi(lm, layout);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(KESTRELION_CLI, KESTRELION_CLI, "create", "--quiet", "--limit", "0", "--fm", fm.c_str(), "--lm",
              lm.c_str(), "--final", final.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The Final AVI is created only after the interrupt handler is in place.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(final) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0)
        GTEST_SKIP() << "the copy finished before Ctrl-C arrived";
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const auto packets = test_support::probePackets(final);
    EXPECT_LT(packets.size(), static_cast<size_t>(kFrames));
    EXPECT_EQ(packets.size() % (25 * 30), 0u) << "an abort takes effect between groups, every thirtieth group";
}

} // namespace
