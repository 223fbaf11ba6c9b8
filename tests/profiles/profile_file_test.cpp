#include "profiles/profile_file.h"

#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

std::string readText(const std::string& path)
{
    const std::vector<uint8_t> bytes = test_support::readWholeFile(path);
    return {bytes.begin(), bytes.end()};
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

core::JobSettings fullSettings()
{
    core::JobSettings settings;
    settings.fastMotionPath = "/films/fm.avi";
    settings.lowMotionPath = "/films/lm.avi";
    settings.finalPath = "/films/final.avi";
    settings.endingPath = "/films/ending.avi";
    settings.framePos = 900;
    settings.finalSizeMB = 702;
    settings.audioKbps = 128;
    settings.stopAfterFrames = 500;
    settings.highBitrateLimit = 700;
    settings.sceneSwitchingSmoother = true;
    return settings;
}

// Settings a window would hold before loading: different from everything fullSettings writes.
core::JobSettings shownSettings()
{
    core::JobSettings settings;
    settings.fastMotionPath = "shown-fm";
    settings.lowMotionPath = "shown-lm";
    settings.finalPath = "shown-final";
    settings.endingPath = "shown-ending";
    settings.framePos = 11;
    settings.finalSizeMB = 22;
    settings.audioKbps = 33;
    settings.stopAfterFrames = 44;
    settings.highBitrateLimit = 55;
    settings.stopAfterEnabled = true;
    settings.sceneSwitchingSmoother = false;
    settings.lowMotionBitrateText = "1234";
    settings.highRunMinGroups = 3;
    settings.lowRunMaxGroups = 4;
    settings.writeStatisticFile = true;
    return settings;
}

TEST(ProfileFile, ReadsBackWhatItWrote)
{
    struct Case {
        const char* name;
        bool ending;
        bool stop;
    };
    const Case cases[] = {{"ending on", true, false},
                          {"stop on", false, true},
                          {"both on", true, true},
                          {"both off", false, false}};
    const std::string dir = test_support::freshTempDir("profile_round_trip");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name + ".ini";
        core::JobSettings saved = fullSettings();
        saved.endingEnabled = c.ending;
        saved.stopAfterEnabled = c.stop;
        test_support::RecordingUiPort ui;
        ASSERT_TRUE(profiles::writeProfile(path, saved, ui));
        EXPECT_TRUE(ui.messages.empty());

        core::JobSettings loaded = shownSettings();
        profiles::readProfile(path, loaded);
        core::JobSettings expected = shownSettings();
        expected.fastMotionPath = saved.fastMotionPath;
        expected.lowMotionPath = saved.lowMotionPath;
        expected.finalPath = saved.finalPath;
        expected.endingEnabled = c.ending;
        expected.audioKbps = saved.audioKbps;
        expected.finalSizeMB = saved.finalSizeMB;
        expected.highBitrateLimit = saved.highBitrateLimit;
        expected.sceneSwitchingSmoother = saved.sceneSwitchingSmoother;
        if (c.ending) {
            // No StopAfter key: the shown stop flag stays.
            expected.endingPath = saved.endingPath;
            expected.framePos = saved.framePos;
        } else {
            expected.stopAfterEnabled = c.stop;
            if (c.stop)
                expected.stopAfterFrames = saved.stopAfterFrames;
        }
        EXPECT_EQ(loaded, expected);
    }
}

TEST(ProfileFile, WritesANewFileInKeyOrder)
{
    const std::string path = test_support::freshTempDir("profile_new") + "/job.ini";
    core::JobSettings settings = fullSettings();
    settings.endingEnabled = true;
    settings.sceneSwitchingSmoother = false;
    test_support::RecordingUiPort ui;
    ASSERT_TRUE(profiles::writeProfile(path, settings, ui));
    EXPECT_EQ(readText(path), "[KestrelIon]\n"
                              "FastMotionAvi=/films/fm.avi\n"
                              "LowMotionAvi=/films/lm.avi\n"
                              "FinalAvi=/films/final.avi\n"
                              "EndingAvi=1\n"
                              "VeryLowBitrateAvi=/films/ending.avi\n"
                              "FramePos=900\n"
                              "Audio=128\n"
                              "FinalSize=702\n"
                              "HighBitrateLimit=700\n"
                              "SceneSwitchingSmoother=0\n");
}

TEST(ProfileFile, MissingFileReadsAsEmptyValues)
{
    core::JobSettings settings = shownSettings();
    settings.endingEnabled = true;
    settings.sceneSwitchingSmoother = true;
    profiles::readProfile(test_support::freshTempDir("profile_missing") + "/none.ini", settings);
    core::JobSettings expected = shownSettings();
    expected.fastMotionPath.clear();
    expected.lowMotionPath.clear();
    expected.finalPath.clear();
    expected.endingEnabled = false;
    expected.stopAfterEnabled = false;
    expected.sceneSwitchingSmoother = false;
    expected.audioKbps = 0;
    expected.finalSizeMB = 0;
    expected.highBitrateLimit = 0;
    EXPECT_EQ(settings, expected);
}

TEST(ProfileFile, ReadsFlagsAndNumbersAsTheOldToolDid)
{
    struct Case {
        const char* name;
        const char* value;
        bool flag;
        int32_t number;
    };
    const Case cases[] = {
        {"one", "1", true, 1},
        {"leading one", "1yes", true, 1},
        {"yes", "yes", false, 0},
        {"true", "true", false, 0},
        {"zero", "0", false, 0},
        {"unit after digits", "700kbps", false, 700},
        {"no digits", "abc", false, 0},
        {"empty", "", false, 0},
        {"sign", "-12x", false, -12},
        {"plus sign", "+42", false, 42},
        {"beyond 32 bits", "99999999999", false, 2147483647},
    };
    const std::string dir = test_support::freshTempDir("profile_values");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/values.ini";
        const std::string v = c.value;
        writeText(path, "[KestrelIon]\nEndingAvi=0\nStopAfter=" + v + "\nFramePos=" + v + "\nAudio=" + v +
                            "\nFinalSize=" + v + "\nHighBitrateLimit=" + v + "\nSceneSwitchingSmoother=" + v +
                            "\n");
        core::JobSettings settings = shownSettings();
        profiles::readProfile(path, settings);
        EXPECT_EQ(settings.stopAfterEnabled, c.flag);
        EXPECT_EQ(settings.sceneSwitchingSmoother, c.flag);
        EXPECT_EQ(settings.audioKbps, c.number);
        EXPECT_EQ(settings.finalSizeMB, c.number);
        EXPECT_EQ(settings.highBitrateLimit, c.number);
        EXPECT_EQ(settings.stopAfterFrames, c.flag ? c.number : shownSettings().stopAfterFrames);
    }
}

TEST(ProfileFile, SavingOverAnOlderFileKeepsKeysItDoesNotWrite)
{
    const std::string path = test_support::freshTempDir("profile_over") + "/job.ini";
    core::JobSettings older = fullSettings();
    older.endingEnabled = true;
    test_support::RecordingUiPort ui;
    ASSERT_TRUE(profiles::writeProfile(path, older, ui));

    core::JobSettings newer = fullSettings();
    newer.fastMotionPath.clear();
    newer.lowMotionPath = "/films/other-lm.avi";
    newer.audioKbps = 96;
    ASSERT_TRUE(profiles::writeProfile(path, newer, ui));
    EXPECT_TRUE(ui.messages.empty());
    // Replaced values keep their place; StopAfter is new and goes to the end of the section.
    EXPECT_EQ(readText(path), "[KestrelIon]\n"
                              "FastMotionAvi=/films/fm.avi\n"
                              "LowMotionAvi=/films/other-lm.avi\n"
                              "FinalAvi=/films/final.avi\n"
                              "EndingAvi=0\n"
                              "VeryLowBitrateAvi=/films/ending.avi\n"
                              "FramePos=900\n"
                              "Audio=96\n"
                              "FinalSize=702\n"
                              "HighBitrateLimit=700\n"
                              "SceneSwitchingSmoother=1\n"
                              "StopAfter=0\n");

    core::JobSettings loaded = shownSettings();
    profiles::readProfile(path, loaded);
    EXPECT_EQ(loaded.fastMotionPath, "/films/fm.avi");
    EXPECT_EQ(loaded.lowMotionPath, "/films/other-lm.avi");
    EXPECT_EQ(loaded.audioKbps, 96);
}

TEST(ProfileFile, LoadsAHandWrittenWindowsFile)
{
    const std::string path = test_support::freshTempDir("profile_crlf") + "/old.ini";
    writeText(path, "; settings of the evening film\r\n"
                    "[Other]\r\n"
                    "Audio=5\r\n"
                    "\r\n"
                    "[kestrelion]\r\n"
                    "fastmotionavi=D:\\films\\fm.avi\r\n"
                    "LowMotionAvi = D:\\films\\lm.avi\r\n"
                    "FinalAvi=\"D:\\films\\final.avi\"\r\n"
                    "ENDINGAVI=1\r\n"
                    "VeryLowBitrateAvi=D:\\films\\vlb.avi\r\n"
                    "FramePos=120000\r\n"
                    "; audio of the release\r\n"
                    "Audio=192\r\n"
                    "FinalSize=1400\r\n"
                    "HighBitrateLimit=900\r\n"
                    "SceneSwitchingSmoother=0\r\n");
    core::JobSettings settings = shownSettings();
    profiles::readProfile(path, settings);
    EXPECT_EQ(settings.fastMotionPath, "D:\\films\\fm.avi");
    EXPECT_EQ(settings.lowMotionPath, "D:\\films\\lm.avi");
    EXPECT_EQ(settings.finalPath, "D:\\films\\final.avi");
    EXPECT_TRUE(settings.endingEnabled);
    EXPECT_EQ(settings.endingPath, "D:\\films\\vlb.avi");
    EXPECT_EQ(settings.framePos, 120000);
    EXPECT_EQ(settings.audioKbps, 192);
    EXPECT_EQ(settings.finalSizeMB, 1400);
    EXPECT_EQ(settings.highBitrateLimit, 900);
    EXPECT_FALSE(settings.sceneSwitchingSmoother);

    // Saving over it replaces the keys in place and keeps the other section and the comments.
    settings.audioKbps = 128;
    test_support::RecordingUiPort ui;
    ASSERT_TRUE(profiles::writeProfile(path, settings, ui));
    const std::string text = readText(path);
    EXPECT_NE(text.find("; settings of the evening film"), std::string::npos);
    EXPECT_NE(text.find("[Other]\nAudio=5\n"), std::string::npos);
    EXPECT_NE(text.find("; audio of the release\nAudio=128\n"), std::string::npos);
    EXPECT_EQ(text.find("Audio=192"), std::string::npos);
    EXPECT_EQ(text.find("[KestrelIon]"), std::string::npos) << "the section keeps its spelling";
    core::JobSettings reloaded = shownSettings();
    profiles::readProfile(path, reloaded);
    EXPECT_EQ(reloaded.audioKbps, 128);
    EXPECT_EQ(reloaded.finalPath, "D:\\films\\final.avi");
    EXPECT_EQ(reloaded.framePos, 120000);
}

TEST(ProfileFile, KeepsLongPathsAndBlanksWhole)
{
    const std::string dir = test_support::freshTempDir("profile_long");
    const std::string path = dir + "/long.ini";
    core::JobSettings settings = fullSettings();
    settings.fastMotionPath = "/films/" + std::string(300, 'f') + ".avi";
    settings.lowMotionPath = " /films/with blanks.avi ";
    test_support::RecordingUiPort ui;
    ASSERT_TRUE(profiles::writeProfile(path, settings, ui));
    core::JobSettings loaded = shownSettings();
    profiles::readProfile(path, loaded);
    EXPECT_EQ(loaded.fastMotionPath, settings.fastMotionPath);
    EXPECT_EQ(loaded.lowMotionPath, settings.lowMotionPath);
}

TEST(ProfileFile, ReportsAFailedSaveOnce)
{
    const std::string dir = test_support::freshTempDir("profile_fail");
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {{"missing folder", dir + "/missing/job.ini"}, {"a folder", dir}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::RecordingUiPort ui;
        EXPECT_FALSE(profiles::writeProfile(c.path, fullSettings(), ui));
        EXPECT_EQ(ui.messages, (std::vector<core::Message>{core::messages::profileSaveFailed()}));
    }
}

} // namespace
