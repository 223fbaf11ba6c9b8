#include "profiles/stat_file.h"

#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string readText(const std::string& path)
{
    const std::vector<uint8_t> bytes = test_support::readWholeFile(path);
    return {bytes.begin(), bytes.end()};
}

core::FrameTable tableOf(const std::vector<core::FrameRecord>& records)
{
    core::FrameTable table;
    table.setSize(static_cast<int32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i)
        table[static_cast<int32_t>(i)] = records[i];
    return table;
}

core::Job jobWithTables()
{
    core::Job job;
    job.state.fastMotionFrames = tableOf({{1, 14523}, {0, 823}, {0, 0}});
    job.state.lowMotionFrames = tableOf({{1, 7000}, {0, 311}});
    job.state.finalBytes = 22669;
    job.state.endingBytes = 12345678;
    job.settings.framePos = 5000;
    job.settings.stopAfterFrames = 3;
    return job;
}

TEST(StatFile, FindsTheFolderOfTheFinalAvi)
{
    struct Case {
        const char* finalPath;
        const char* expected;
    };
    const Case cases[] = {
        {"/films/out.avi", "/films/stat.txt"},
        {"/out.avi", "/stat.txt"},
        {"films/2024/out.avi", "films/2024/stat.txt"},
        {"out.avi", "stat.txt"},
        {"", "stat.txt"},
#ifdef _WIN32
        {"D:\\films\\out.avi", "D:\\films\\stat.txt"},
        {"D:/films/out.avi", "D:/films/stat.txt"},
#else
        // A backslash is an ordinary character of a file name here.
        {"D:\\films\\out.avi", "stat.txt"},
        {"/films/a\\b.avi", "/films/stat.txt"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.finalPath);
        EXPECT_EQ(profiles::statFilePath(c.finalPath), c.expected);
    }
}

TEST(StatFile, ListsBothTablesAndTheClosingLines)
{
    struct Case {
        const char* name;
        bool ending;
        bool stop;
        const char* middle;
    };
    const Case cases[] = {
        {"ending", true, false, "\n\nVLB-AVI: pos=5000 size=12345678\n\n"},
        {"ending wins over stop", true, true, "\n\nVLB-AVI: pos=5000 size=12345678\n\n"},
        {"stop", false, true, "\n\nStop after: 3\n"},
        {"neither", false, false, ""},
    };
    const std::string dir = test_support::freshTempDir("stat_content");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = jobWithTables();
        job.settings.endingEnabled = c.ending;
        job.settings.stopAfterEnabled = c.stop;
        test_support::RecordingUiPort ui;
        ASSERT_TRUE(profiles::writeStatFile(dir + "/final.avi", job, ui));
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(readText(dir + "/stat.txt"), std::string("Kestrel - Ion Statistic file\n"
                                                           "\n"
                                                           "FM-AVI\n"
                                                           "\n"
                                                           "     0K - 14523\n"
                                                           "     1  - 823\n"
                                                           "     2  - 0\n"
                                                           "\n"
                                                           "\n"
                                                           "LM-AVI\n"
                                                           "\n"
                                                           "     0K - 7000\n"
                                                           "     1  - 311\n") +
                                                   c.middle + "\n\nFinal AVI-size: 22669\n");
    }
}

TEST(StatFile, EmptyTablesGiveHeadingsOnly)
{
    const std::string dir = test_support::freshTempDir("stat_empty");
    core::Job job;
    test_support::RecordingUiPort ui;
    ASSERT_TRUE(profiles::writeStatFile(dir + "/final.avi", job, ui));
    EXPECT_EQ(readText(dir + "/stat.txt"),
              "Kestrel - Ion Statistic file\n\nFM-AVI\n\n\n\nLM-AVI\n\n\n\nFinal AVI-size: 0\n");
}

TEST(StatFile, WidensLargeIndexesAndCountsBeyondThirtyTwoBits)
{
    const std::string dir = test_support::freshTempDir("stat_large");
    core::Job job;
    job.state.fastMotionFrames.setSize(1000001);
    job.state.fastMotionFrames[1000000] = {1, 5};
    job.state.finalBytes = 5'000'000'000LL;
    job.state.endingBytes = 3'000'000'000LL;
    job.settings.endingEnabled = true;
    job.settings.framePos = 1000001;
    test_support::RecordingUiPort ui;
    ASSERT_TRUE(profiles::writeStatFile(dir + "/final.avi", job, ui));
    const std::string text = readText(dir + "/stat.txt");
    EXPECT_NE(text.find("\n999999  - 0\n1000000K - 5\n\n\nLM-AVI\n"), std::string::npos);
    EXPECT_NE(text.find("VLB-AVI: pos=1000001 size=3000000000\n"), std::string::npos);
    EXPECT_NE(text.find("Final AVI-size: 5000000000\n"), std::string::npos);
}

TEST(StatFile, ReplacesAnOlderFile)
{
    const std::string dir = test_support::freshTempDir("stat_replace");
    {
        std::ofstream older(dir + "/stat.txt");
        older << std::string(10000, 'x');
    }
    core::Job job;
    test_support::RecordingUiPort ui;
    ASSERT_TRUE(profiles::writeStatFile(dir + "/final.avi", job, ui));
    EXPECT_EQ(readText(dir + "/stat.txt").find('x'), std::string::npos);
}

TEST(StatFile, ReportsAFileItCannotCreate)
{
    const std::string dir = test_support::freshTempDir("stat_create_fail");
    test_support::RecordingUiPort ui;
    EXPECT_FALSE(profiles::writeStatFile(dir + "/missing/final.avi", jobWithTables(), ui));
    EXPECT_EQ(ui.messages,
              (std::vector<core::Message>{core::messages::statFileCreateFailed(dir + "/missing/stat.txt")}));
}

TEST(StatFile, ReportsAFailedWrite)
{
    const std::string dir = test_support::freshTempDir("stat_write_fail");
    std::filesystem::create_symlink("/dev/full", dir + "/stat.txt");
    test_support::RecordingUiPort ui;
    EXPECT_FALSE(profiles::writeStatFile(dir + "/final.avi", jobWithTables(), ui));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].id, core::MessageId::StatFileWriteFailed);
    EXPECT_EQ(ui.messages[0].text.rfind("Failed to write file '" + dir + "/stat.txt'\r", 0), 0u)
        << ui.messages[0].text;
}

} // namespace
