#include "profiles/profile_file.h"
#include "profiles/stat_file.h"

#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

namespace {

std::string readText(const std::string& path)
{
    const std::vector<uint8_t> bytes = test_support::readWholeFile(path);
    return {bytes.begin(), bytes.end()};
}

// Reads path over settings a window holds, whose ending path, position and stop count differ
// from every one written.
core::JobSettings loaded(const std::string& path)
{
    core::JobSettings settings(core::JobSettings{"", "", "", "shown-ending", 11, 0, 0, false, false, 44, 0, 1,
                                                 1, "", true, false, ""});
    profiles::readProfile(path, settings);
    return settings;
}

// Each save goes over the one before, so the file ends with the keys of all of them in their order.
TEST(ProfileFile, ReadsBackWhatItWroteAndKeepsTheKeyOrder)
{
    const std::string path = test_support::freshTempDir("profile_round_trip") + "/job.ini";
    // A profile's values, with a long path and one with outer blanks; the smoother off.
    const std::string longPath = "/films/" + std::string(300, 'f') + ".avi";
    const core::JobSettings settings(core::JobSettings{longPath, " /films/with blanks.avi ",
                                                       "/films/final.avi", "/films/ending.avi", 900, 702, 128,
                                                       false, false, 500, 700, 1, 1, "", false, false, ""});
    for (const auto& [ending, stop] : {std::pair(true, false), {false, true}, {true, true}, {false, false}}) {
        SCOPED_TRACE(std::to_string(ending) + std::to_string(stop));
        core::JobSettings expected = settings;
        std::tie(expected.endingEnabled, expected.stopAfterEnabled) = std::pair(ending, stop);
        test_support::RecordingUiPort ui;
        ASSERT_TRUE(profiles::writeProfile(path, expected, ui) && ui.messages.empty());
        // An ending profile has no StopAfter key; any other one no ending path and position.
        expected.stopAfterEnabled = !ending && stop;
        expected.stopAfterFrames = !ending && stop ? expected.stopAfterFrames : 44;
        expected.endingPath = ending ? expected.endingPath : "shown-ending";
        expected.framePos = ending ? expected.framePos : 11;
        EXPECT_EQ(loaded(path), expected);
    }
    EXPECT_EQ(readText(path),
              "[KestrelIon]\nFastMotionAvi=" + longPath +
                  "\nLowMotionAvi=\" /films/with blanks.avi \"\nFinalAvi=/films/final.avi\nEndingAvi=0\n"
                  "VeryLowBitrateAvi=/films/ending.avi\nFramePos=900\nAudio=128\nFinalSize=702\n"
                  "HighBitrateLimit=700\nSceneSwitchingSmoother=0\nStopAfter=0\n");
}

TEST(ProfileFile, ReadsFlagsNumbersAndMissingFilesAsTheOldToolDid)
{
    const std::string path = test_support::freshTempDir("profile_values") + "/values.ini";
    const std::tuple<const char*, bool, int32_t> cases[] = {
        {"1", true, 1},       {"1yes", true, 1},       {"true", false, 0},
        {"0", false, 0},      {"700kbps", false, 700}, {"", false, 0},
        {"-12x", false, -12}, {"+42", false, 42},      {"99999999999", false, 2147483647}};
    for (const auto& [value, flag, number] : cases) {
        SCOPED_TRACE(value);
        const std::string v = value;
        std::ofstream(path, std::ios::binary)
            << "[KestrelIon]\nEndingAvi=0\nStopAfter=" + v + "\nFramePos=" + v + "\nAudio=" + v + "\n";
        const core::JobSettings settings = loaded(path);
        EXPECT_EQ(std::tuple(settings.stopAfterEnabled, settings.audioKbps, settings.stopAfterFrames),
                  std::tuple(flag, number, flag ? number : 44));
    }
    // A missing file reads as one without keys.
    std::ofstream(path, std::ios::binary) << "[KestrelIon]\n";
    EXPECT_EQ(loaded(path + ".missing"), loaded(path));
    EXPECT_FALSE(loaded(path + ".missing").sceneSwitchingSmoother);
}

TEST(ProfileFile, LoadsAndUpdatesAHandWrittenWindowsFile)
{
    const std::string path = test_support::freshTempDir("profile_crlf") + "/old.ini";
    std::ofstream(path, std::ios::binary)
        << "; evening film\r\n[Other]\r\nAudio=5\r\n\r\n[kestrelion]\r\nfastmotionavi=D:\\films\\fm.avi\r\n"
           "LowMotionAvi = D:\\lm.avi\r\nFinalAvi=\"D:\\final.avi\"\r\nENDINGAVI=1\r\nFramePos=120000\r\n"
           "; audio of the release\r\nAudio=192\r\nFinalSize=1400\r\nSceneSwitchingSmoother=1\r\n; end\r\n";
    core::JobSettings settings = loaded(path);
    EXPECT_EQ(settings.audioKbps, 192);

    // Saving it back shows every value read; the keys are replaced in place, and the other section,
    // the spelling of section and keys and the comments stay.
    settings.audioKbps = 128;
    test_support::RecordingUiPort ui;
    ASSERT_TRUE(profiles::writeProfile(path, settings, ui));
    EXPECT_EQ(readText(path),
              "; evening film\n\n\n[Other]\nAudio=5\n\n\n[kestrelion]\nfastmotionavi=D:\\films\\fm.avi\n"
              "LowMotionAvi=D:\\lm.avi\nFinalAvi=D:\\final.avi\nENDINGAVI=1\nFramePos=120000\n\n"
              "; audio of the release\nAudio=128\nFinalSize=1400\nSceneSwitchingSmoother=1\n"
              "HighBitrateLimit=0\n; end\n");
}

// A film picked in the save picker by mistake is left alone and a failed save is reported once; a
// profile is replaced whole, keeping its permissions and its symbolic link, with no temporary file left.
TEST(ProfileFile, SavesOnlyOverTextAndReplacesTheFileWhole)
{
    namespace fs = std::filesystem;
    const std::string dir = test_support::freshTempDir("profile_replace"), film = dir + "/film.avi";
    std::ofstream(film, std::ios::binary) << std::string("RIFF\0\0\0\0AVI LIST", 16) << "[KestrelIon]\n";
    const std::vector<uint8_t> filmBytes = test_support::readWholeFile(film);
    core::JobSettings settings;
    settings.audioKbps = 96;
    const std::pair<std::string, core::Message> refused[] = {
        {film, core::messages::profileNotText(film)},
        {dir + "/missing/job.ini", core::messages::profileSaveFailed()},
        {dir, core::messages::profileSaveFailed()}};
    for (const auto& [path, message] : refused) {
        test_support::RecordingUiPort ui;
        EXPECT_FALSE(profiles::writeProfile(path, settings, ui));
        EXPECT_EQ(ui.messages, std::vector{message}) << path;
    }
    EXPECT_EQ(test_support::readWholeFile(film), filmBytes);
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    std::ofstream(dir + "/real.ini") << "[KestrelIon]\nAudio=1\n";
    fs::permissions(dir + "/real.ini", perms);
    fs::create_symlink(dir + "/real.ini", dir + "/link.ini");
    test_support::RecordingUiPort ui;
    EXPECT_TRUE(profiles::writeProfile(dir + "/link.ini", settings, ui));
    // still a link, the permissions, the value saved, no message and no temporary file left
    EXPECT_EQ(std::tuple(fs::is_symlink(dir + "/link.ini"), fs::status(dir + "/real.ini").permissions(),
                         loaded(dir + "/real.ini").audioKbps, ui.messages.size(),
                         std::distance(fs::directory_iterator(dir), {})),
              std::tuple(true, perms, 96, 0u, 3));
}

// Each file replaces the one before, starting with a longer one.
TEST(StatFile, ListsBothTablesAndTheClosingLinesOrReportsTheFailure)
{
    const std::string dir = test_support::freshTempDir("stat_content");
    std::ofstream(dir + "/stat.txt") << std::string(10000, 'x');
    core::Job job{{"", "", "", "", 5000, 0, 0, false, false, 3, 0, 1, 1, "", true, false, ""},
                  {{}, {}, {}, {}, 0, 0, 0, 5'000'000'000LL, 3'000'000'000LL, false}};
    job.state.fastMotionFrames.setSize(3);
    job.state.fastMotionFrames[0] = {1, 14523};
    job.state.fastMotionFrames[1] = {0, 823};
    job.state.lowMotionFrames.setSize(1);
    job.state.lowMotionFrames[0] = {1, 7000};
    const std::string tables = "Kestrel - Ion Statistic file\n\nFM-AVI\n\n     0K - 14523\n     1  - 823\n"
                               "     2  - 0\n\n\nLM-AVI\n\n     0K - 7000\n";
    const std::string ending = "\n\nVLB-AVI: pos=5000 size=3000000000\n\n", stop = "\n\nStop after: 3\n";
    const std::tuple<bool, bool, std::string> cases[] = {
        {true, false, ending}, {true, true, ending}, {false, true, stop}, {false, false, ""}};
    test_support::RecordingUiPort ui;
    for (const auto& [endingOn, stopOn, middle] : cases) {
        std::tie(job.settings.endingEnabled, job.settings.stopAfterEnabled) = std::pair(endingOn, stopOn);
        ASSERT_TRUE(profiles::writeStatFile(dir + "/final.avi", job, ui));
        EXPECT_EQ(readText(dir + "/stat.txt"), tables + middle + "\n\nFinal AVI-size: 5000000000\n");
    }
    // Indexes of more than six digits widen their column.
    job.state.fastMotionFrames.setSize(1000001);
    job.state.fastMotionFrames[1000000] = {1, 5};
    ASSERT_TRUE(profiles::writeStatFile(dir + "/final.avi", job, ui));
    EXPECT_NE(readText(dir + "/stat.txt").find("\n999999  - 0\n1000000K - 5\n\n\nLM-AVI\n"),
              std::string::npos);
    // A file it cannot create or write is reported, and nothing before.
    std::filesystem::remove(dir + "/stat.txt");
    std::filesystem::create_symlink("/dev/full", dir + "/stat.txt");
    EXPECT_FALSE(profiles::writeStatFile(dir + "/missing/final.avi", core::Job{}, ui));
    EXPECT_FALSE(profiles::writeStatFile(dir + "/final.avi", core::Job{}, ui));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(std::pair(ui.messages[0], ui.messages[1].id),
              std::pair(core::messages::statFileCreateFailed(dir + "/missing/stat.txt"),
                        core::MessageId::StatFileWriteFailed));
    EXPECT_TRUE(ui.messages[1].text.starts_with("Failed to write file '" + dir + "/stat.txt'\r"))
        << ui.messages[1].text;
}

} // namespace
