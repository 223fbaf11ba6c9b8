// Runs the batch front end as a separate process, as a script would.
#include "avi_builder.h"
#include "media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace {

using namespace test_support;

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

class BatchFrontEnd : public ::testing::Test {
protected:
    // Runs kestrelion-cli with arguments, without a terminal.
    RunResult run(const std::string& arguments) const
    {
        RunResult result;
        result.out =
            runCommand(KESTRELION_CLI " " + arguments + " </dev/null 2>" + here + "/err", result.exitCode);
        const std::vector<uint8_t> err = readWholeFile(scratch + "/err");
        result.err.assign(err.begin(), err.end());
        return result;
    }

    // Runs the arguments of each row and expects its exit status, and its pattern on stdout (or on
    // stdout and stderr, for a status other than 0).
    void expectRuns(const std::vector<std::tuple<std::string, int, std::string>>& rows) const
    {
        for (const auto& [arguments, exitCode, pattern] : rows) {
            SCOPED_TRACE(arguments);
            const RunResult result = run(arguments);
            EXPECT_EQ(result.exitCode, exitCode) << result.err;
            EXPECT_TRUE(
                std::regex_search(exitCode == 0 ? result.out : result.out + result.err, std::regex(pattern)))
                << result.out.substr(0, 1000) << result.err;
        }
    }

    const std::string scratch = freshTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    const std::string here = shellQuote(scratch); // a shell word; names may follow it
    const std::string fm = fastMotionAvi();
};

TEST_F(BatchFrontEnd, ParsesOptionsAnswersNoWithoutATerminalAndPrintsEachFormat)
{
    const std::string profile = scratch + "/job.ini";
    std::ofstream(profile) << "[KestrelIon]\r\nFastMotionAvi=" << fm
                           << "\r\nEndingAvi=0\r\nStopAfter=1\r\nFramePos=250\r\n";
    const std::string ending = " --ending " + shellQuote(mediaFile({.frames = 300, .quantizer = 31})) +
                               " --frame-pos 690 --fm " + shellQuote(fm); // the ending takes over in group 27
    // 100 FM frames, 102 LM frames: Create asks whether to go on.
    buildAvi(scratch + "/fm.avi", {.frames = gridFrames(100, 25, 3000, 500)});
    buildAvi(scratch + "/lm.avi", {.frames = gridFrames(102, 25, 1000, 100)});
    const std::string unequal =
        "create --quiet --fm " + here + "/fm.avi --lm " + here + "/lm.avi --final " + here + "/Final.avi";
    const std::string missing = scratch + "/no such film.avi";
    expectRuns({
        {"--version", 0, R"(^kestrelion-cli \(KestrelIon\) 2\.0\n$)"},
        {"", 2, ""},
        {"analyze --audio abc", 2, R"(^--audio: abc is not a bitrate in Kbps \(0 or more\)\n)"},
        {"analyze --frame-pos -5", 2, R"(^--frame-pos: -5 is not a frame number \(0 or more\)\n)"},
        {"create --size=99999999999", 2, R"(^--size: 99999999999 is not a size in MB \(0 to 2147483647\)\n)"},
        {"analyze --fm " + shellQuote(missing), 1, "Could not open AVI\n" + missing + "\n"},
        {unequal, 1, R"(\? no \(not asked: no terminal; --yes answers yes\)\n)"},
        {unequal + " --yes", 0, R"(^Final AVI-size: \d+\n$)"},
        {"probe --json " + shellQuote(fm), 0,
         R"(^\{"video": \{"stream": 0, "handler": "XVID", "scale": 1, "rate": 25, "length": 1000, .*?, )"
         R"("formatSize": 40, "compression": "XVID", "width": 320, "height": 240, .*?"frames": \[\[1, \d+\], \[0, )"},
        {"probe " + shellQuote(fm), 0, R"(\)\n       0 K \d+\n       1   \d+\n)"},
        {"analyze --audio 0 --size 2147483647 --fm " + shellQuote(fm), 0,
         R"(^Low Motion Bitrate \(Kbps\): \d+\n$)"},
        {"analyze --json --fm " + shellQuote(fm), 0,
         R"(^\{"estimate": (\d+), "label": "\1", "keyframeDistance": 25, "groupSeconds": 1, "totalFrames": 1000, )"
         R"("fmFrames": 1000, "endingBytes": 0, "plan": \[\{"fmBytes": \d+, "choice": 1\})"
         R"((, \{"fmBytes": \d+, "choice": [01]\}){39}\], "seconds": \[\d+(, \d+){39}\]\}\n$)"},
        {"analyze --json" + ending, 0,
         R"("endingBytes": [1-9]\d*, .*"choice": 3\}\], "seconds": \[(\d+, ){28}null(, null){11}\]\}\n$)"},
        {"analyze --csv" + ending, 0,
         R"(^second,group,kbps,choice\n0,0,\d+,1\n(.*\n)*\d+,\d+,\d+,0\n(.*\n)*27,27,\d+,3\n28,28,,3\n(.*\n)*39,39,,3\n$)"},
        {"analyze --json --profile " + shellQuote(profile), 0, "\"totalFrames\": 250,"},
        {"analyze --json --stop-after 750 --profile " + shellQuote(profile), 0, "\"totalFrames\": 750,"},
    });
}

// fit, create --fit --stats, analyze --lm and verify tell the same Final AVI.
TEST_F(BatchFrontEnd, FitCountsTheFinalAviCreateWritesAndVerifyChecks)
{
    const std::string final = scratch + "/Final.avi";
    const std::string sources = " --size 4 --fm " + shellQuote(fm) + " --lm " + shellQuote(lowMotionAvi());
    const RunResult fit = run("fit --json" + sources);
    std::smatch found;
    ASSERT_TRUE(std::regex_match(
        fit.out, found,
        std::regex(R"(\{"limit": (\d+), "finalFileBytes": (\d+), "plannedSampleBytes": (\d+)\}\n)")))
        << fit.out << fit.err;
    const std::string limit = found[1], fileBytes = found[2], sampleBytes = found[3];
    // Without a terminal no progress bar is drawn, even without --quiet.
    const RunResult create = run("create --fit --stats --final " + shellQuote(final) + sources);
    EXPECT_EQ(create.out, "High Bitrate Limit (Kbps): " + limit + "\nFinal AVI-size: " + sampleBytes + "\n");
    EXPECT_EQ(create.err, "");
    EXPECT_EQ(std::to_string(std::filesystem::file_size(final)), fileBytes);
    EXPECT_TRUE(std::filesystem::exists(scratch + "/stat.txt"));
    expectRuns({
        {"fit" + sources, 0,
         R"(^High Bitrate Limit \(Kbps\): )" + limit + "\nFinal AVI size \\(bytes\\): " + fileBytes},
        {"analyze --limit " + limit + sources, 0, "\nFinal AVI size \\(bytes\\): " + fileBytes + "\n$"},
        {"analyze --json --limit " + limit + sources, 0,
         "\"finalFileBytes\": " + fileBytes + ", \"plannedSampleBytes\": " + sampleBytes + ", "},
        {"verify " + shellQuote(final) + " --limit " + limit + sources, 0,
         "^Final AVI verified: 1000 frames\n$"},
        {"verify " + shellQuote(final) + " --limit 0" + sources, 1, "^Final AVI differs from its plan in "},
        {"fit --audio 500" + sources, 1, "Even all Low Motion groups need "},
    });
}

// --audio-file: analyze reports the sound, create writes it and verify checks it.
TEST_F(BatchFrontEnd, TakesASoundFile)
{
    int exitCode = 0;
    runCommand(
        "ffmpeg -nostdin -v error -f lavfi -i sine=sample_rate=44100 -t 40 -c:a libmp3lame -b:a 128k " +
            here + "/s.mp3",
        exitCode);
    const std::string films = " --fm " + shellQuote(fm) + " --lm " + shellQuote(lowMotionAvi());
    const std::string sound = " --audio-file " + here + "/s.mp3" + films;
    expectRuns({
        {"analyze --json" + sound, 0,
         R"("endingBytes": 0, "finalFileBytes": \d+, "plannedSampleBytes": \d+, )"
         R"("audio": \{"codec": "mp3", "kbps": 128\.000, "seconds": 40\.0\d+, "bytes": 64\d{4}\}, "plan")"},
        {"create --quiet --final " + here + "/Final.avi" + sound, 0, R"(^Final AVI-size: \d+\n$)"},
        {"verify " + here + "/Final.avi" + sound, 0, "^Final AVI verified: 1000 frames\n$"},
        {"verify " + here + "/Final.avi --audio-file " + here + "/none.mp3" + films, 1,
         "Could not read the sound file\n"},
    });
}

TEST_F(BatchFrontEnd, CtrlCAbortsTheCopyAndLeavesAReadableFinalAvi)
{
    buildAvi(scratch + "/fm.avi", {.frames = gridFrames(100000, 25, 6000, 1500)});
    buildAvi(scratch + "/lm.avi", {.frames = gridFrames(100000, 25, 2000, 300)});
    // The Final AVI is created only after the interrupt handler is in place.
    const std::string final = here + "/Final.avi";
    const auto [exitCode, out, err] =
        run("create --quiet --limit 0 --fm " + here + "/fm.avi --lm " + here + "/lm.avi --final " + final +
            " 2>/dev/null & i=0; while [ ! -e " + final +
            " ] && [ $i -lt 60000 ]; do sleep 0.001; i=$((i+1)); done; kill -INT $!; wait $!");
    if (exitCode == 0)
        GTEST_SKIP() << "the copy finished before Ctrl-C arrived";
    EXPECT_EQ(exitCode, 130);
    EXPECT_EQ(out.rfind("Final AVI-size: ", 0), 0u) << out;
    // An abort takes effect between groups, every thirtieth group; all 100000 frames are not a multiple.
    EXPECT_EQ(probePackets(scratch + "/Final.avi").size() % (25 * 30), 0u);
}

} // namespace
