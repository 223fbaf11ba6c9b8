// Runs the batch front end as a separate process, as a script would.
#include "avi_builder.h"
#include "media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

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

    // Runs kestrelion-cli with arguments on a new pseudo-terminal, types input once the question
    // shows, and returns the exit status and everything the terminal showed (-1 without a terminal).
    static RunResult runOnTerminal(std::vector<std::string> arguments, const std::string& input)
    {
        RunResult result;
        int terminal = -1;
        const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (child == 0) {
            std::vector<char*> argv{const_cast<char*>(KESTRELION_CLI)};
            for (std::string& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(KESTRELION_CLI, argv.data());
            _exit(127);
        }
        if (child < 0)
            return result;
        pollfd ready{terminal, POLLIN, 0};
        char buffer[4096];
        ssize_t got = 0;
        // The terminal reports an error once the program ended and closed it.
        while (poll(&ready, 1, 60'000) > 0 && (got = read(terminal, buffer, sizeof buffer)) > 0) {
            const bool typed = result.out.find("[y/N] ") != std::string::npos;
            result.out.append(buffer, static_cast<size_t>(got));
            if (!typed && result.out.find("[y/N] ") != std::string::npos) {
                EXPECT_EQ(write(terminal, input.data(), input.size()), std::ssize(input));
            }
        }
        kill(child, SIGKILL); // a program that still runs after a minute of silence hangs
        int status = 0;
        waitpid(child, &status, 0);
        close(terminal);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
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
        {"fit --audio 500" + sources, 1, "Even all Low Motion groups need "},
        // verify takes create's command line; "more than half" sees the settings differ.
        {"verify --fit --stats --yes --quiet --final " + shellQuote(final) + sources, 0,
         "^High Bitrate Limit \\(Kbps\\): " + limit + "\nFinal AVI verified: 1000 frames\n$"},
        {"verify --fit --no-smoother " + shellQuote(final) + sources, 1,
         "\nFinal AVI differs from its plan in \\d+ places:\n(?![\\s\\S]*half)"},
        {"verify --final " + shellQuote(final) + " --limit 0" + sources, 1,
         "^Final AVI differs from its plan in \\d+ places:\n[\\s\\S]*more\nMore than half of the frames "
         "differ: "
         "the settings probably differ from the ones the Final AVI was made with.\n$"},
    });
}

// Without --yes the question about different frame counts is asked on the terminal, and the
// progress line ends at 100 % before the result.
TEST_F(BatchFrontEnd, AsksOnTheTerminalAndTakesOnlyYesForYes)
{
    buildAvi(scratch + "/fm.avi", {.frames = gridFrames(100, 25, 3000, 500)});
    buildAvi(scratch + "/lm.avi", {.frames = gridFrames(102, 25, 1000, 100)});
    const std::vector<std::string> create = {"create",
                                             "--fm",
                                             scratch + "/fm.avi",
                                             "--lm",
                                             scratch + "/lm.avi",
                                             "--final",
                                             scratch + "/Final.avi"};
    const std::pair<const char*, int> rows[] = {{"y\n", 0}, {"Y\n", 0}, {"yes\n", 0},
                                                {"n\n", 1}, {"\n", 1},  {"\x04", 1} /* end of input */};
    for (const auto& [input, exitCode] : rows) {
        SCOPED_TRACE(input);
        const RunResult result = runOnTerminal(create, input);
        if (result.exitCode == -1 && result.out.empty())
            GTEST_SKIP() << "no pseudo-terminal";
        EXPECT_EQ(result.exitCode, exitCode) << result.out;
        EXPECT_TRUE(std::regex_search(
            result.out, std::regex(R"(errors\r\nContinue \(only if this is intended\) \? \[y/N\] )")));
        EXPECT_EQ(std::regex_search(result.out,
                                    std::regex(R"(Creating \[#{30}\] 100%.*\r\nFinal AVI-size: \d+\r\n$)")),
                  exitCode == 0)
            << result.out;
    }
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

TEST_F(BatchFrontEnd, EncodesTheFastAndLowMotionAvisAndCtrlCLeavesNothing)
{
    const std::string source = shellQuote(mediaFile({.frames = 500, .width = 160, .height = 120}));
    const std::string fmAvi = " --fm " + here + "/fm.avi", lmAvi = " --lm " + here + "/lm.avi";
    expectRuns({
        {"encode-fm --quiet --kbps 500 --key-seconds 2 --source " + source + fmAvi, 0,
         R"(^Fast Motion AVI written: 500 frames, 10 key frames, \d+ bytes, \d+ Kbps\n$)"},
        {"encode-lm --kbps 150 --json" + fmAvi + lmAvi, 0,
         R"(^\{"frames": 500, "keyFrames": 10, "bytes": \d+, "kbps": \d+, "seconds": [\d.]+\}\n$)"},
        {"encode-lm --kbps 150" + fmAvi + lmAvi, 1,
         R"(Replace it\? no \(not asked: no terminal; --yes answers yes\)\n$)"},
        {"encode-lm --passes 3" + fmAvi + lmAvi, 2, "--passes: 3 not in"},
        {"encode-fm --kbps 500 --codec vp9 --source " + source + fmAvi, 2, "--codec: "},
        {"encode-fm --kbps 500 --codec h264 --fourcc XVID --source " + source + fmAvi, 1,
         "^The FourCC XVID is not one of H.264's\n$"},
        {"encode-lm --size 0" + fmAvi + lmAvi, 1, "^The Low Motion Bitrate is (n/a|0): "},
    });
    EXPECT_EQ(decodeErrors(scratch + "/lm.avi"), "");
    std::filesystem::remove(scratch + "/lm.avi");
    const std::string temporary = here + "/lm.avi.encoding";
    const auto [exitCode, out, err] =
        run("encode-lm --kbps 150" + fmAvi + lmAvi + " 2>/dev/null & i=0; while [ ! -e " + temporary +
            " ] && [ $i -lt 60000 ]; do sleep 0.001; i=$((i+1)); done; " + "kill -INT $!; wait $!");
    if (exitCode == 0)
        GTEST_SKIP() << "the encode finished before Ctrl-C arrived";
    EXPECT_EQ(exitCode, 130);
    EXPECT_FALSE(std::filesystem::exists(scratch + "/lm.avi"));
    EXPECT_FALSE(std::filesystem::exists(scratch + "/lm.avi.encoding"));
}

TEST_F(BatchFrontEnd, MakesAFinalAviInOneStep)
{
    const std::string film = here + "/film.avi";
    int exitCode = 0;
    runCommand(
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=128x96:r=25:d=6 -f lavfi -i sine=d=6 -c:v ffv1 "
        "-c:a libmp3lame " +
            film,
        exitCode);
    ASSERT_EQ(exitCode, 0);
    const std::string make =
        "make --quiet --key-seconds 2 --source " + film + " --final " + here + "/Final.avi";
    expectRuns({
        {make + " --size 2", 0,
         R"(^Final AVI written: \d+ bytes of 1048576 \(\d+\.\d\d %\), PSNR \d+\.\d\d dB, 4 groups from \d encodes\n$)"},
        {make + " --size 2", 1, R"(Replace it\? no \(not asked: no terminal; --yes answers yes\)\n$)"},
        {make + " --size 2 --yes --mode classic --json", 0,
         R"(^\{"finalFileBytes": \d+, "targetBytes": 1048576, "psnr": [\d.]+, "mode": "classic", .*"levels": \[\], )"
         R"(.*"seconds": \{"sound": [\d.]+, "fm": .*\}\}\n$)"},
        {make + " --size 2 --yes --levels 4,8/2 --json", 0,
         R"(^\{.*"mode": "quality", "groups": 4, "encodes": 2, "levels": \[\{"quantizer": 4, "keyQuantizer": 4, )"
         R"("groups": \d, "bytes": \d+\}, \{"quantizer": 8, "keyQuantizer": 2, )"},
        {make + " --size 2 --levels 4,x", 2, "^--levels: 4,x is not a list of quantizers\n$"},
        {make + " --size 2 --mode fast", 2, "--mode: "},
    });
    EXPECT_EQ(decodeErrors(scratch + "/Final.avi"), "");
    for (const auto& entry : std::filesystem::directory_iterator(scratch)) // no work folder is left
        EXPECT_TRUE(std::regex_match(entry.path().filename().string(), std::regex("film.avi|Final.avi|err")))
            << entry.path();
}

} // namespace
