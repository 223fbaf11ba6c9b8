#include "profiles/stat_file.h"
#include "video/source.h"

#include "command_test_helpers.h"

#include <algorithm>
#include <optional>

namespace {

namespace fs = std::filesystem;
using core::GroupChoice;
using engine::CommandOutcome;
using engine_test::buildFilm;

// Checks every frame of the Final AVI against the frame the plan names: its bytes and key flag
// with our reader, its size and key flag in ffprobe's packet list, and the byte total.
::testing::AssertionResult followsThePlan(const core::Job& job)
{
    test_support::RecordingUiPort ui;
    const core::JobSettings& s = job.settings;
    std::optional<video::Source> finalAvi = video::openVideoStream(s.finalPath, ui);
    std::optional<video::Source> sources[] = {video::openVideoStream(s.lowMotionPath, ui),
                                              video::openVideoStream(s.fastMotionPath, ui),
                                              video::openVideoStream(s.endingPath, ui)};
    const std::vector<test_support::ProbePacket> packets = test_support::probePackets(s.finalPath);
    if (!finalAvi || finalAvi->sampleCount() != job.state.totalFrames ||
        packets.size() != static_cast<size_t>(job.state.totalFrames))
        return ::testing::AssertionFailure() << packets.size() << " packets, not " << job.state.totalFrames;
    std::vector<uint8_t> wanted(1 << 20), got(1 << 20);
    int64_t finalBytes = 0;
    for (int32_t i = 0; i < job.state.totalFrames; ++i) {
        const GroupChoice choice = job.state.planTable[i / job.state.keyframeDistance].choice;
        const size_t from = choice == GroupChoice::Low ? 0 : choice == GroupChoice::Ending ? 2 : 1;
        const int32_t pos = choice == GroupChoice::Ending ? i - s.framePos : i;
        const bool key = sources[from]->findKeyAtOrBefore(pos) == pos;
        int32_t wantedBytes = -1, gotBytes = -2;
        (void)sources[from]->readSample(pos, wanted, wantedBytes); // a failed read fails the comparison
        (void)finalAvi->readSample(i, got, gotBytes);
        finalBytes += gotBytes;
        if (gotBytes != wantedBytes || !std::equal(got.begin(), got.begin() + gotBytes, wanted.begin()) ||
            key != (finalAvi->findKeyAtOrBefore(i) == i) ||
            packets[static_cast<size_t>(i)] != test_support::ProbePacket{key, wantedBytes})
            return ::testing::AssertionFailure()
                   << "frame " << i << " is not frame " << pos << " of source " << from;
    }
    if (finalBytes != job.state.finalBytes)
        return ::testing::AssertionFailure() << finalBytes << " sample bytes, not " << job.state.finalBytes;
    return ::testing::AssertionSuccess();
}

// Every way Create ends: each mode once on real MPEG-4 media, written into one folder so that each
// stat.txt replaces the one before, then built films for every check and the aborts.
TEST(Create, EndsWithTheJobAsFarAsItGot)
{
    const std::string dir = test_support::freshTempDir("create_runs");
    const std::string mediaFm = test_support::fastMotionAvi(1000, 25);
    const std::string mediaLm = test_support::lowMotionAvi(1000, 25);
    const std::string mediaEnding = test_support::mediaFile({.frames = 300, .quantizer = 31});
    const std::string fm = buildFilm(dir, "fm", 1000, 25);
    const std::string lm1002 = buildFilm(dir, "lm1002", 1002, 25);
    const std::string every12 = buildFilm(dir, "every12", 1000, 12);
    const std::string fmBreak100 = buildFilm(dir, "fm_break100", 1000, 25, 100);
    const std::string lmBreak50 = buildFilm(dir, "lm_break50", 1000, 25, 50);
    const std::string lmBreak700 = buildFilm(dir, "lm_break700", 1000, 25, 700);
    const std::string end = buildFilm(dir, "ending", 100, 25);
    const std::string wide = buildFilm(dir, "wide", 1000, 25, -1, 25, 1, 41);
    const std::string missing = dir + "/missing.avi";
    fs::create_directories(dir + "/taken/stat.txt"); // a folder where stat.txt should go
    namespace m = core::messages;
    const core::Message taken = m::statFileCreateFailed(dir + "/taken/stat.txt");
    struct Case {
        const char* name;
        std::string fm, lm, ending;            // ending empty: no ending
        int32_t framePos, stopAfter, fmFrames; // stopAfter 0: no stop; fmFrames: FM table left
        std::vector<core::Message> messages = {};
        std::string folder = "";
        int32_t abortAtPump = -1;
    };
    const Case cases[] = {
        {"media, plain", mediaFm, mediaLm, "", 900, 0, 1000},
        {"media, ending", mediaFm, mediaLm, mediaEnding, 900, 0, 900},
        {"media, stop", mediaFm, mediaLm, "", 900, 500, 500},
        {"LM longer, Yes", fm, lm1002, "", 0, 0, 1000},
        {"LM longer, No", fm, lm1002, "", 0, 0, 0},
        {"plain, LM too short", lm1002, fm, "", 0, 0, 0, {m::lmTooShort(1002)}},
        {"ending, FM too short", fm, lm1002, end, 1001, 0, 0, {m::fmTooShort(1001)}},
        {"ending at -5", fm, fm, end, -5, 0, 0, {m::lmTooShort(-5)}},
        {"stop, LM too short", fm, fm, "", 0, 1100, 0, {m::lmTooShort(1100)}},
        {"stop, FM too short", fm, lm1002, "", 0, 1001, 0, {m::fmTooShort(1001)}},
        {"different distances", every12, fm, "", 0, 0, 1000, {m::differentKeyframeDistances()}},
        {"groups below a second", every12, every12, "", 0, 0, 1000, {m::keyframeDistanceTooShort(12, 25)}},
        // The LM layout is checked to its end, past the stop point.
        {"stop, LM break", fm, lmBreak700, "", 800, 500, 500, {m::keyframeInconsistency(700)}},
        {"FM break first", fmBreak100, lmBreak50, "", 800, 0, 1000, {m::keyframeInconsistency(100)}},
        {"ending hides breaks", fmBreak100, lmBreak50, end, 900, 0, 900},
        {"FM missing", missing, fm, end, 50, 0, 0, {m::couldNotOpenAvi(missing)}},
        {"LM format too large", fm, wide, end, 50, 0, 0, {m::formatTooLarge()}},
        {"Ending missing", fm, fm, missing, 50, 0, 0, {m::couldNotOpenAvi(missing)}},
        {"no folder", fm, fm, "", 0, 0, 1000, {m::finalOpenFailed("No such file or directory")}, "/none"},
        {"stat.txt taken", fm, fm, "", 0, 0, 1000, {taken}, "/taken"},
        {"abort before the first group", fm, fm, "", 0, 0, 1000, {}, "", 0},
        {"abort at group 30", fm, fm, "", 0, 0, 1000, {}, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool yes = std::string(c.name) != "LM longer, No";
        const bool completed = c.messages.empty() && yes && c.abortAtPump < 0;
        core::Job job = engine_test::markedJob(c.fm, c.lm, c.ending, c.framePos, c.stopAfter);
        job.state.analysed = true;
        job.settings.finalPath = dir + c.folder + "/final.avi";
        job.settings.writeStatisticFile = true;
        job.settings.highBitrateLimit = 300; // between the media's busy and still scenes
        if (!completed)                      // what this run must not write
            fs::remove(dir + "/stat.txt"), fs::remove(job.settings.finalPath);
        test_support::RecordingUiPort ui;
        ui.answers = {yes};
        ui.abortAtPump = c.abortAtPump;
        EXPECT_EQ(engine_test::runChecked(true, job, ui),
                  completed ? CommandOutcome::Completed : CommandOutcome::Ended);
        EXPECT_EQ(ui.messages, c.messages);
        EXPECT_TRUE(c.lm != lm1002 || ui.questions == std::vector{m::differentTotalFrames(1002, 1000)});
        EXPECT_EQ(job.state.fastMotionFrames.count(), c.fmFrames);
        EXPECT_EQ(job.state.lowMotionFrames.count(), c.fmFrames > 0 ? 1000 : 0);
        const int32_t read = c.fm == missing ? 4444 : c.fm == lm1002 ? 1002 : 1000; // FM length as read
        EXPECT_EQ(job.state.fastMotionInfo.dwLength,
                  static_cast<uint32_t>(c.fmFrames > 0 ? c.fmFrames : read));
        EXPECT_EQ(fs::exists(dir + "/stat.txt"), completed) << "stat.txt only after a finished copy";
        EXPECT_EQ(fs::exists(job.settings.finalPath),
                  completed || c.folder == "/taken" || c.abortAtPump >= 0);
        // An aborted copy leaves a complete file with the groups copied before (30 at the second poll).
        EXPECT_TRUE(c.abortAtPump < 0 ||
                    test_support::probePackets(job.settings.finalPath).size() == c.abortAtPump * 750u);
        if (!completed)
            continue;
        const size_t total =
            c.ending.empty() ? c.fmFrames : c.framePos + test_support::probePackets(c.ending).size();
        EXPECT_EQ(job.state.totalFrames, static_cast<int32_t>(total));
        EXPECT_TRUE(followsThePlan(job));
        // stat.txt holds what the statistics writer gives for the job's tables and totals.
        const std::string copyDir = test_support::freshTempDir("create_stat_copy");
        ASSERT_TRUE(profiles::writeStatFile(copyDir + "/final.avi", job, ui));
        EXPECT_EQ(test_support::readWholeFile(dir + "/stat.txt"),
                  test_support::readWholeFile(copyDir + "/stat.txt"));
        if (c.fm == mediaFm) {
            EXPECT_EQ(test_support::decodeErrors(job.settings.finalPath), "");
            EXPECT_TRUE(job.state.planTable[5].choice == GroupChoice::High &&
                        job.state.planTable[15].choice == GroupChoice::Low)
                << "busy scene from FM, still from LM";
        }
    }
}

// A Final AVI or stat.txt that is one of the sources, by whatever path, is refused before anything
// is written, and every source keeps its bytes.
TEST(Create, NeverWritesOverASource)
{
    const std::string dir = test_support::freshTempDir("create_identity");
    const std::string fm = buildFilm(dir, "fm", 100, 25), lm = buildFilm(dir, "lm", 100, 25);
    const std::string ending = buildFilm(dir, "ending", 50, 25);
    fs::create_symlink(lm, dir + "/link.avi");
    fs::create_hard_link(fm, dir + "/hard.avi");
    fs::create_directories(dir + "/out");
    fs::create_symlink(lm, dir + "/out/stat.txt");
    namespace m = core::messages;
    const auto finalIs = [](const char* source, const std::string& path) {
        return m::destinationIsSource("Final AVI", source, path);
    };
    const std::tuple<const char*, std::string, bool, core::Message> cases[] = {
        {"same path", fm, false, finalIs("Fast Motion AVI", fm)},
        {"./ path", dir + "/./lm.avi", false, finalIs("Low Motion AVI", dir + "/./lm.avi")},
        {"symbolic link", dir + "/link.avi", false, finalIs("Low Motion AVI", dir + "/link.avi")},
        {"hard link", dir + "/hard.avi", false, finalIs("Fast Motion AVI", dir + "/hard.avi")},
        {"Ending AVI", ending, true, finalIs("Ending AVI", ending)},
        {"stat.txt", dir + "/out/final.avi", false,
         m::destinationIsSource("statistics file", "Low Motion AVI", dir + "/out/stat.txt")},
    };
    const std::vector<uint8_t> bytes[] = {test_support::readWholeFile(fm), test_support::readWholeFile(lm),
                                          test_support::readWholeFile(ending)};
    for (const auto& [name, finalPath, withEnding, message] : cases) {
        SCOPED_TRACE(name);
        core::Job job = engine_test::markedJob(fm, lm, withEnding ? ending : "", withEnding ? 50 : 0, 0);
        job.state.analysed = true;
        job.settings.finalPath = finalPath;
        job.settings.writeStatisticFile = true;
        test_support::RecordingUiPort ui;
        EXPECT_EQ(engine_test::runChecked(true, job, ui), CommandOutcome::Ended);
        EXPECT_EQ(ui.messages, std::vector{message});
        EXPECT_EQ(ui.progressOpened, 0);
        EXPECT_FALSE(fs::exists(dir + "/out/final.avi"));
        EXPECT_TRUE(test_support::readWholeFile(fm) == bytes[0] && test_support::readWholeFile(lm) == bytes[1] &&
                    test_support::readWholeFile(ending) == bytes[2]);
    }
}

} // namespace
