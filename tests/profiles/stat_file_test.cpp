#include "profiles/stat_file.h"

#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

namespace {

std::string statText(const std::string& dir)
{
    const std::vector<uint8_t> bytes = test_support::readWholeFile(dir + "/stat.txt");
    return {bytes.begin(), bytes.end()};
}

// Each file replaces the one before, starting with a longer one.
TEST(StatFile, ListsBothTablesAndTheClosingLines)
{
    const std::string dir = test_support::freshTempDir("stat_content");
    std::ofstream(dir + "/stat.txt") << std::string(10000, 'x');
    core::Job job;
    job.state.fastMotionFrames.setSize(3);
    job.state.fastMotionFrames[0] = {1, 14523};
    job.state.fastMotionFrames[1] = {0, 823};
    job.state.lowMotionFrames.setSize(1);
    job.state.lowMotionFrames[0] = {1, 7000};
    job.state.finalBytes = 5'000'000'000LL;
    job.state.endingBytes = 3'000'000'000LL;
    job.settings.framePos = 5000;
    job.settings.stopAfterFrames = 3;
    const std::string tables = "Kestrel - Ion Statistic file\n\nFM-AVI\n\n     0K - 14523\n     1  - 823\n"
                               "     2  - 0\n\n\nLM-AVI\n\n     0K - 7000\n";
    const std::string ending = "\n\nVLB-AVI: pos=5000 size=3000000000\n\n", stop = "\n\nStop after: 3\n";
    const std::tuple<bool, bool, std::string> cases[] = {
        {true, false, ending}, {true, true, ending}, {false, true, stop}, {false, false, ""}};
    test_support::RecordingUiPort ui;
    for (const auto& [endingOn, stopOn, middle] : cases) {
        job.settings.endingEnabled = endingOn;
        job.settings.stopAfterEnabled = stopOn;
        ASSERT_TRUE(profiles::writeStatFile(dir + "/final.avi", job, ui));
        EXPECT_EQ(statText(dir), tables + middle + "\n\nFinal AVI-size: 5000000000\n");
    }
    // Indexes of more than six digits widen their column.
    job.state.fastMotionFrames.setSize(1000001);
    job.state.fastMotionFrames[1000000] = {1, 5};
    ASSERT_TRUE(profiles::writeStatFile(dir + "/final.avi", job, ui));
    EXPECT_NE(statText(dir).find("\n999999  - 0\n1000000K - 5\n\n\nLM-AVI\n"), std::string::npos);
}

TEST(StatFile, ReportsAFileItCannotCreateOrWrite)
{
    const std::string dir = test_support::freshTempDir("stat_fail");
    std::filesystem::create_symlink("/dev/full", dir + "/stat.txt");
    test_support::RecordingUiPort ui;
    EXPECT_FALSE(profiles::writeStatFile(dir + "/missing/final.avi", core::Job{}, ui));
    EXPECT_FALSE(profiles::writeStatFile(dir + "/final.avi", core::Job{}, ui));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0], core::messages::statFileCreateFailed(dir + "/missing/stat.txt"));
    EXPECT_EQ(ui.messages[1].id, core::MessageId::StatFileWriteFailed);
    EXPECT_TRUE(ui.messages[1].text.starts_with("Failed to write file '" + dir + "/stat.txt'\r"))
        << ui.messages[1].text;
}

} // namespace
