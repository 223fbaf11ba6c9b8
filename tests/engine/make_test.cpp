// Makes Final AVIs from generated films with sound and checks them with ffprobe and ffmpeg.
#include "engine/make.h"
#include "engine/plan_view_model.h"
#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <stdexcept>

namespace {

using namespace test_support;
namespace fs = std::filesystem;

std::string dir;
std::string source; // 12 s of 176x144 at 25 fps with a FLAC sound (encoded to MP3 for the Final AVI)

class Make : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = freshTempDir("make");
        source = dir + "/source.mkv";
        int exitCode = 0;
        const std::string log = runCommand("ffmpeg -nostdin -v error -y -f lavfi -i "
                                           "'testsrc2=s=176x144:r=25:d=12,noise=alls=6:allf=t' -f lavfi -i "
                                           "'sine=f=440:d=12' -c:v ffv1 -c:a flac " +
                                               shellQuote(source) + " 2>&1",
                                           exitCode);
        if (exitCode != 0)
            throw std::runtime_error(log);
    }

    engine::MakeRequest request(const std::string& name) const
    {
        engine::MakeRequest made;
        made.sourcePath = source;
        made.finalPath = scratch + "/" + name;
        made.finalSizeMB = 2;
        made.keySeconds = 3;
        return made;
    }

    // The names in the scratch folder: a make that ended leaves none.
    std::vector<std::string> leftOver() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(scratch))
            names.push_back(entry.path().filename().string());
        return names;
    }

    const std::string scratch = freshTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

double ffmpegPsnr(const std::string& final)
{
    int exitCode = 0;
    const std::string log = runCommand("ffmpeg -nostdin -i " + shellQuote(final) + " -i " +
                                           shellQuote(source) + " -lavfi psnr -f null - 2>&1",
                                       exitCode);
    std::smatch match;
    if (!std::regex_search(log, match, std::regex(R"(average:([0-9.]+))")))
        return -1;
    return std::stod(match[1]);
}

TEST_F(Make, BothModesFillTheTargetWithSoundVerifiedAndPrintFfmpegsPsnr)
{
    for (const engine::MakeMode mode : {engine::MakeMode::Quality, engine::MakeMode::Classic}) {
        SCOPED_TRACE(mode == engine::MakeMode::Quality ? "quality" : "classic");
        engine::MakeRequest made = request("Final.avi");
        made.mode = mode;
        made.replaceAgreed = true;
        RecordingUiPort ui;
        engine::MakeResult result;
        ASSERT_EQ(engine::runMake(made, media::ffmpegMedia(), ui, result), engine::CommandOutcome::Completed)
            << (ui.messages.empty() ? "" : ui.messages.front().text);
        EXPECT_EQ(result.targetBytes, 1048576);
        EXPECT_EQ(static_cast<int64_t>(fs::file_size(made.finalPath)), result.finalFileBytes);
        EXPECT_LE(result.finalFileBytes, result.targetBytes);
        EXPECT_GE(result.finalFileBytes,
                  result.targetBytes * (mode == engine::MakeMode::Quality ? 95 : 90) / 100);
        EXPECT_NEAR(result.psnr, ffmpegPsnr(made.finalPath), 0.05);
        EXPECT_EQ(decodeErrors(made.finalPath), "");
        EXPECT_EQ(probePackets(made.finalPath).size(), 300u);
        int exitCode = 0;
        EXPECT_EQ(runCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " +
                                 shellQuote(made.finalPath),
                             exitCode),
                  "mpeg4\nmp3\n");
        EXPECT_EQ(leftOver(), std::vector<std::string>{"Final.avi"}); // the work folder is gone
    }
}

TEST_F(Make, ChoosesWithinTheTargetAndNearTheBestCombinationOfATinyFilm)
{
    engine::MakeRequest made = request("Final.avi");
    made.keySeconds = 4;
    made.levels = {{3, 3}, {6, 2}, {9, 9}, {14, 14}, {31, 31}};
    RecordingUiPort ui;
    engine::MakeResult result;
    ASSERT_EQ(engine::runMake(made, media::ffmpegMedia(), ui, result), engine::CommandOutcome::Completed);
    ASSERT_EQ(result.costs.size(), 3u);
    EXPECT_EQ(result.encodes, 5);
    // Every combination of the 3 groups' 5 levels.
    double best = -1;
    double chosen = 0;
    int64_t chosenBytes = 0;
    for (int32_t code = 0; code < 125; ++code) {
        int64_t bytes = 0;
        double error = 0;
        for (int32_t g = 0, rest = code; g < 3; ++g, rest /= 5) {
            bytes += result.costs[static_cast<size_t>(g)][static_cast<size_t>(rest % 5)].bytes;
            error += result.costs[static_cast<size_t>(g)][static_cast<size_t>(rest % 5)].squaredError;
        }
        if (bytes <= result.groupBudget && (best < 0 || error < best))
            best = error;
    }
    for (size_t g = 0; g < 3; ++g) {
        chosenBytes += result.costs[g][static_cast<size_t>(result.groupLevels[g])].bytes;
        chosen += result.costs[g][static_cast<size_t>(result.groupLevels[g])].squaredError;
    }
    EXPECT_LE(chosenBytes, result.groupBudget);
    EXPECT_LE(result.finalFileBytes, result.targetBytes);
    EXPECT_LT(10 * std::log10(chosen / best), 0.1);
    EXPECT_NEAR(result.psnr, ffmpegPsnr(made.finalPath), 0.05);

    // The plan view shows each group's level as its band.
    output::SourcePlan plan{100, 0, {}};
    std::vector<int64_t> groupBytes;
    for (size_t g = 0; g < 3; ++g) {
        plan.groups.push_back({result.groupLevels[g], static_cast<int64_t>(g) * 100});
        groupBytes.push_back(result.costs[g][static_cast<size_t>(result.groupLevels[g])].bytes);
    }
    const engine::PlanViewModel model =
        engine::PlanViewModel::fromSourcePlan(plan, {"q3", "q6/2", "q9", "q14", "q31"}, groupBytes, 300, 25);
    int64_t covered = 0;
    for (const engine::PlanBand& band : model.bands()) {
        for (int32_t g = band.firstGroup; g < band.endGroup; ++g)
            EXPECT_EQ(band.source, result.groupLevels[static_cast<size_t>(g)]);
        covered += band.endFrame - band.firstFrame;
    }
    EXPECT_EQ(covered, 300);
    EXPECT_EQ(model.hoverAt(250)->source, result.groupLevels[2]);
    EXPECT_EQ(model.hoverAt(250)->groupBytes, groupBytes[2]);
}

TEST_F(Make, RefusesTheSourceAsFinalAndTooLittleSpaceAndAnAbortLeavesNothing)
{
    RecordingUiPort ui;
    engine::MakeResult result;
    engine::MakeRequest made = request("Final.avi");
    made.finalPath = source;
    made.replaceAgreed = true;
    EXPECT_EQ(engine::runMake(made, media::ffmpegMedia(), ui, result), engine::CommandOutcome::Ended);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].id, core::MessageId::DestinationIsSource);

    made = request("Final.avi");
    made.freeSpace = [](const std::string&) { return std::optional<int64_t>(3 * 1048576); };
    EXPECT_EQ(engine::runMake(made, media::ffmpegMedia(), ui, result), engine::CommandOutcome::Ended);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].id, core::MessageId::MakeNeedsSpace);
    EXPECT_TRUE(
        std::regex_search(ui.messages[1].text, std::regex(R"(need \d+ MB in\r.*\rwhere 3 MB are free)")))
        << ui.messages[1].text;
    EXPECT_EQ(leftOver(), std::vector<std::string>{});

    // Quality: while probing, and while writing (a pump a frame: 301 probed, 301 encoded).
    for (const auto& [mode, pumps] : {std::pair{engine::MakeMode::Quality, std::vector<int32_t>{1, 650}},
                                      std::pair{engine::MakeMode::Classic, std::vector<int32_t>{1}}}) {
        for (const int32_t pump : pumps) {
            made = request("Final.avi");
            made.mode = mode;
            RecordingUiPort aborting;
            aborting.abortAtPump = pump;
            EXPECT_EQ(engine::runMake(made, media::ffmpegMedia(), aborting, result),
                      engine::CommandOutcome::Aborted);
            EXPECT_EQ(leftOver(), std::vector<std::string>{});
        }
    }
}

} // namespace
