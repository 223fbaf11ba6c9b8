#include "engine/commands.h"
#include "engine/exact_size.h"
#include "engine/planner.h"
#include "engine/quiet_ui_port.h"
#include "engine/verify.h"
#include "profiles/stat_file.h"
#include "video/source.h"

#include "avi_builder.h"
#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>

namespace {

namespace fs = std::filesystem;
namespace m = core::messages;
using engine::CommandOutcome;

// Writes dir/name.avi from layout (a named stream by default), in a codec whose made-up packets ffprobe
// takes as they are: count frames with key frames every distance frames except at noKey. base 0: 3000
// bytes a key frame and 700 between; else about base bytes a frame (four times that in busy groups,
// the same scenes in every film; three times for key frames), odd and even sizes. Returns its path.
std::string build(const std::string& dir, const std::string& name, int32_t count, int32_t base = 0,
                  int32_t distance = 25, int32_t noKey = -1,
                  test_support::AviBuildSpec layout = {.frames = {}, .name = "FM"})
{
    layout.frames = test_support::gridFrames(count, distance, 3000, 700);
    uint32_t noise = 17;
    for (size_t i = 0; base > 0 && i < layout.frames.size(); ++i) {
        noise = noise * 1103515245u + 12345u;
        const int32_t size = ((i / 25) % 7 < 3 || (i / 25) % 11 == 5 ? 4 : 1) * base +
                             static_cast<int32_t>((noise >> 8) % static_cast<uint32_t>(base));
        layout.frames[i].size = layout.frames[i].key ? 3 * size : size;
    }
    if (noKey >= 0)
        layout.frames[static_cast<size_t>(noKey)].key = false;
    layout.compression = core::fourcc("cvid");
    test_support::buildAvi(dir + "/" + name + ".avi", layout);
    return dir + "/" + name + ".avi";
}

// A job from the opening defaults (702 MB, 128 Kbps of audio, a 700 Kbps limit, runs of 1, the
// smoother on) holding values no command produces, to tell which fields a run wrote, and pointed at
// its films: no ending if ending is empty, no stop if stopAfter is 0.
core::Job markedJob(const std::string& fm, const std::string& lm, const std::string& ending, int32_t framePos,
                    int32_t stopAfter)
{
    core::Job job{{fm, lm, "", ending, framePos, 702, 128, stopAfter > 0, !ending.empty(), stopAfter, 700, 1,
                   1, "old label", true, false, ""},
                  {{}, {}, {}, {}, 777, 888, 99, 0, 123456789, false}};
    job.state.fastMotionInfo.dwLength = 4444;
    job.state.fastMotionFrames.setSize(3);
    job.state.lowMotionFrames.setSize(3);
    return job;
}

// Runs Create or Analyze on a marked job and checks that it left no file, busy cursor or progress
// window open; returns how the command ended.
engine::CommandOutcome runChecked(bool create, core::Job& job, test_support::RecordingUiPort& ui,
                                  const engine::CreateOptions& options = {})
{
    const auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto filesBefore = openFiles();
    const engine::CommandOutcome outcome =
        create ? engine::runCreate(job, ui, options) : engine::runAnalyze(job, ui);
    EXPECT_EQ(openFiles(), filesBefore) << "a file stayed open";
    EXPECT_EQ(std::tuple(ui.busyCalls, ui.busyDepth, ui.progressOpen), std::tuple(1, 0, 0))
        << "busy calls, busy depth, open progress windows";
    // Create runs on an analysed job and leaves what only Analyze measures.
    EXPECT_TRUE(!create || (job.state.analysed && job.state.endingBytes == 123456789 &&
                            job.settings.lowMotionBitrateText == "old label"));
    return outcome;
}

// What a run leaves in the job, the FM table as long as the film; -1 keeps the value markedJob
// holds, and groups -1 means not analysed.
struct Left {
    int64_t fmLength = -1, totalFrames = -1, distance = -1, groupSeconds = -1, endingBytes = -1, groups = -1;
};

void expectLeft(const core::Job& job, const Left& left)
{
    const auto orMarked = [](int64_t value, int64_t marked) { return value < 0 ? marked : value; };
    const core::AnalysisState& state = job.state;
    EXPECT_EQ(std::tuple(int64_t{state.fastMotionInfo.dwLength}, state.totalFrames,
                         state.fastMotionFrames.count(), state.keyframeDistance, state.groupSeconds,
                         state.endingBytes, state.planTable.count()),
              std::tuple(orMarked(left.fmLength, 4444), orMarked(left.totalFrames, 888),
                         orMarked(left.totalFrames, 3), orMarked(left.distance, 777),
                         orMarked(left.groupSeconds, 99), orMarked(left.endingBytes, 123456789),
                         orMarked(left.groups, 0)));
    EXPECT_EQ(state.analysed, left.groups >= 0);
    core::Job refreshed = job;
    refreshed.settings.lowMotionBitrateText = "old label";
    engine::refreshEstimate(refreshed);
    EXPECT_EQ(job.settings.lowMotionBitrateText, refreshed.settings.lowMotionBitrateText);
}

TEST(Analyze, LeavesTheJobAsFarAsItGot)
{
    const std::string dir = test_support::freshTempDir("analyze_exits");
    const std::string fm = build(dir, "fm", 1200), ending = build(dir, "ending", 300),
                      missing = dir + "/missing.avi";
    const int64_t e = 12 * 3000 + 288 * 700;
    const std::string lateKey = build(dir, "late_key", 1200, 0, 950),
                      broken = build(dir, "broken", 1100, 0, 25, 50);
    const std::string ntsc =
        build(dir, "ntsc", 1200, 0, 300, -1, {.frames = {}, .rate = 30000, .scale = 1001});
    const std::string slow = build(dir, "slow", 240, 0, 25, -1, {.frames = {}, .rate = 1, .scale = 2});
    const std::string scale0 = build(dir, "scale0", 240, 0, 25, -1, {.frames = {}, .scale = 0});
    const std::string wide = build(dir, "wide", 100, 0, 25, -1, {.frames = {}, .formatBytes = 41}),
                      short12 = build(dir, "short", 240, 0, 12);
    struct Case {
        const char* name;
        std::string fm, ending;      // ending empty: no ending
        int32_t framePos, stopAfter; // stopAfter 0: no stop
        Left left;
        std::vector<core::Message> messages = {};
    };
    const Case cases[] = {
        {"plain", fm, "", 0, 0, {1200, 1200, 25, 1, -1, 48}},
        {"ending wins over stop", fm, ending, 900, 500, {900, 1200, 25, 1, e, 48}},
        {"stop inside the film", fm, "", 0, 500, {500, 500, 25, 1, -1, 20}},
        {"stop past the film", fm, "", 0, 1300, {1300, 1300, 25, 1, -1, 52}, {m::streamReadError()}},
        {"distance searched before framePos", lateKey, ending, 900, 0, {900, 1200, 900, 36, e, 2}},
        {"29.97 fps counts 29 frames a second", ntsc, "", 0, 0, {1200, 1200, 300, 10, -1, 4}},
        {"break below framePos", broken, "", 1000, 0, {1100, 1100, 25}, {m::keyframeInconsistency(50)}},
        {"break at framePos", broken, "", 50, 0, {1100, 1100, 25, 1, -1, 44}},
        {"break, ending on", broken, ending, 800, 0, {800, 1100, 25, 1, e, 44}},
        {"groups below 1 s", short12, "", 0, 0, {240, 240, 12}, {m::keyframeDistanceTooShort(12, 25)}},
        {"below one frame a second", slow, "", 0, 0, {240, 240, 25}, {m::frameRateUnusable(1, 2)}},
        {"scale 0", scale0, "", 0, 0, {240, 240, 25}, {m::frameRateUnusable(25, 0)}},
        {"FM missing", missing, ending, 900, 0, {}, {m::couldNotOpenAvi(missing)}},
        {"FM format too large", wide, ending, 900, 0, {}, {m::formatTooLarge()}},
        {"Ending missing", fm, missing, 900, 0, {1200}, {m::couldNotOpenAvi(missing)}},
        {"Ending format too large", fm, wide, 900, 0, {1200}, {m::formatTooLarge()}},
    };
    std::optional<core::Job> earlier;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = markedJob(c.fm, "", c.ending, c.framePos, c.stopAfter);
        test_support::RecordingUiPort ui;
        EXPECT_EQ(runChecked(false, job, ui),
                  c.left.groups < 0 ? CommandOutcome::Ended : CommandOutcome::Completed);
        EXPECT_EQ(ui.messages, c.messages);
        expectLeft(job, c.left);
        if (!earlier)
            earlier = job; // the plain film, analysed
        // A failed run keeps the result of the earlier one.
        core::Job again = markedJob(c.fm, "", c.ending, c.framePos, c.stopAfter);
        again.state = earlier->state;
        test_support::RecordingUiPort secondUi;
        (void)runChecked(false, again, secondUi); // how it ends is checked above
        EXPECT_TRUE(c.left.groups >= 0 ||
                    (again.state.analysed && again.state.planTable == earlier->state.planTable &&
                     again.settings.lowMotionBitrateText == "old label"));
    }
}

// Every way Create ends: each mode once on real MPEG-4 media, written into one folder so that each
// stat.txt replaces the one before, then built films for every layout, every check and the aborts.
// A finished copy is what Verify and the exact size foretold.
TEST(Create, EndsWithTheJobAsFarAsItGot)
{
    const std::string dir = test_support::freshTempDir("create_runs"), missing = dir + "/missing.avi";
    const std::string mediaFm = test_support::fastMotionAvi(1000, 25),
                      mediaLm = test_support::lowMotionAvi(1000, 25);
    const std::string mediaEnding = test_support::mediaFile({.frames = 300, .quantizer = 31});
    const std::string fm = build(dir, "fm", 1000, 900), lm = build(dir, "lm", 1000, 250),
                      end = build(dir, "ending", 100, 100);
    // The LM-longer pair has no stream names.
    const std::string fm990 = build(dir, "fm990", 990, 900, 25, -1, {.frames = {}}),
                      lm1002 = build(dir, "lm1002", 1002, 250, 25, -1, {.frames = {}});
    const std::string every12 = build(dir, "every12", 1000, 900, 12),
                      fmBreak100 = build(dir, "fm_break100", 1000, 900, 25, 100);
    const std::string lmBreak50 = build(dir, "lm_break50", 1000, 250, 25, 50),
                      lmBreak700 = build(dir, "lm_break700", 1000, 250, 25, 700);
    const std::string wide = build(dir, "wide", 1000, 0, 25, -1, {.frames = {}, .formatBytes = 41});
    fs::create_directories(dir + "/taken/stat.txt"); // a folder where stat.txt should go
    const core::Message taken = m::statFileCreateFailed(dir + "/taken/stat.txt");
    // Sources under other names, refused as the Final AVI or stat.txt before anything is written.
    fs::create_symlink(lm, dir + "/link.avi");
    fs::create_hard_link(fm, dir + "/hard.avi");
    fs::create_directories(dir + "/out");
    fs::create_symlink(lm, dir + "/out/stat.txt");
    const core::Message statIsLm =
        m::destinationIsSource("statistics file", "Low Motion AVI", dir + "/out/stat.txt");
    const core::Message noFolder = m::finalOpenFailed("No such file or directory");
    const auto finalIs = [&](const char* source, const std::string& final) {
        return std::vector{m::destinationIsSource("Final AVI", source, dir + "/" + final)};
    };
    const auto sourceBytes = [&] {
        return std::vector{test_support::readWholeFile(fm), test_support::readWholeFile(lm),
                           test_support::readWholeFile(end)};
    };
    const auto bytes = sourceBytes();
    const video::AviWriterOptions smallRiffs{.partBytes = 300'000},
        fullIndex{.partBytes = 300'000, .superIndexEntries = 2};
    struct Case {
        const char* name;
        std::string fm, lm, ending;            // ending empty: no ending
        int32_t framePos, stopAfter, fmFrames; // stopAfter 0: no stop; fmFrames: FM table left
        std::vector<core::Message> messages = {};
        std::string final = "final.avi"; // in dir
        int32_t abortAtPump = -1;
        video::AviWriterOptions writer = {};
    };
    const Case cases[] = {
        {"media, plain", mediaFm, mediaLm, "", 900, 0, 1000},
        {"media, ending from inside a group", mediaFm, mediaLm, mediaEnding, 910, 0, 910},
        {"media, stop inside a group: its frames up to the group's end", mediaFm, mediaLm, "", 900, 510, 510},
        {"LM longer, Yes: the last group takes LM frames past FM's end", fm990, lm1002, "", 0, 0, 990},
        {"LM longer, No", fm990, lm1002, "", 0, 0, 0},
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
        {"OpenDML parts", fm, lm, "", 0, 0, 1000, {}, "final.avi", -1, smallRiffs},
        {"OpenDML, super index full", fm, lm, end, 910, 0, 910, {}, "final.avi", -1, fullIndex},
        {"FM missing", missing, fm, end, 50, 0, 0, {m::couldNotOpenAvi(missing)}},
        {"LM format too large", fm, wide, end, 50, 0, 0, {m::formatTooLarge()}},
        {"Ending missing", fm, fm, missing, 50, 0, 0, {m::couldNotOpenAvi(missing)}},
        {"no folder", fm, fm, "", 0, 0, 1000, {noFolder}, "none/final.avi"},
        {"stat.txt taken", fm, fm, "", 0, 0, 1000, {taken}, "taken/final.avi"},
        {"Final is FM", fm, lm, "", 0, 0, 1000, finalIs("Fast Motion AVI", "fm.avi"), "fm.avi"},
        {"Final is LM by ./", fm, lm, "", 0, 0, 1000, finalIs("Low Motion AVI", "./lm.avi"), "./lm.avi"},
        {"Final is LM by a link", fm, lm, "", 0, 0, 1000, finalIs("Low Motion AVI", "link.avi"), "link.avi"},
        {"FM by a hard link", fm, lm, "", 0, 0, 1000, finalIs("Fast Motion AVI", "hard.avi"), "hard.avi"},
        {"Final is Ending", fm, lm, end, 50, 0, 50, finalIs("Ending AVI", "ending.avi"), "ending.avi"},
        {"stat.txt is LM", fm, lm, "", 0, 0, 1000, {statIsLm}, "out/final.avi"},
        {"abort before the first group", fm, fm, "", 0, 0, 1000, {}, "final.avi", 0},
        {"abort at group 30", fm, fm, "", 0, 0, 1000, {}, "final.avi", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool yes = std::string(c.name) != "LM longer, No";
        const bool completed = c.messages.empty() && yes && c.abortAtPump < 0;
        core::Job job = markedJob(c.fm, c.lm, c.ending, c.framePos, c.stopAfter);
        job.state.analysed = true;
        job.settings.finalPath = dir + "/" + c.final;
        job.settings.writeStatisticFile = true;
        job.settings.highBitrateLimit = 300; // between the busy and still scenes of every film
        if (!completed)                      // what this run must not write
            fs::remove(dir + "/stat.txt"), fs::remove(dir + "/final.avi");
        const bool existed = fs::exists(job.settings.finalPath);
        const engine::CreateOptions options{c.writer};
        engine::SourceTableCache cache;
        engine::QuietUiPort quiet;
        const std::optional<engine::FinalSize> size =
            engine::predictFinalSize(job.settings, cache, quiet, options.writerOptions);
        test_support::RecordingUiPort ui;
        ui.answers = {yes};
        ui.abortAtPump = c.abortAtPump;
        EXPECT_EQ(runChecked(true, job, ui, options),
                  completed ? CommandOutcome::Completed : CommandOutcome::Ended);
        EXPECT_EQ(ui.messages, c.messages);
        const int32_t fmLength = c.fm == missing ? 4444 : c.fm == lm1002 ? 1002 : c.fm == fm990 ? 990 : 1000;
        EXPECT_TRUE(c.lm != lm1002 || ui.questions == std::vector{m::differentTotalFrames(1002, fmLength)});
        // The FM and LM tables and FM's length as read, cut to the frames FM gives.
        EXPECT_EQ(std::tuple(job.state.fastMotionFrames.count(), job.state.lowMotionFrames.count(),
                             job.state.fastMotionInfo.dwLength),
                  std::tuple(c.fmFrames, c.fmFrames > 0 ? fmLength : 0,
                             static_cast<uint32_t>(c.fmFrames > 0 ? c.fmFrames : fmLength)));
        // A Final AVI is written, with a progress window, only past every check; stat.txt only after a
        // finished copy.
        const bool writes = completed || c.final == "taken/final.avi" || c.abortAtPump >= 0;
        EXPECT_EQ(std::tuple(fs::exists(job.settings.finalPath), ui.progressOpened > 0,
                             fs::exists(dir + "/stat.txt")),
                  std::tuple(existed || writes, writes, completed));
        EXPECT_TRUE(sourceBytes() == bytes) << "a source changed";
        // An aborted copy leaves a complete file with the groups copied before (30 at the second poll).
        EXPECT_TRUE(c.abortAtPump < 0 ||
                    test_support::probePackets(job.settings.finalPath).size() == c.abortAtPump * 750u);
        if (!completed)
            continue;
        // Frames in the plan, and in the file: the groups before an ending, or all groups of the film.
        const auto endingFrames =
            static_cast<int32_t>(c.ending.empty() ? 0 : test_support::probePackets(c.ending).size());
        const int32_t total =
            c.ending.empty() ? (c.stopAfter > 0 ? c.stopAfter : fmLength) : c.framePos + endingFrames;
        const int32_t written =
            c.ending.empty() ? (total + 24) / 25 * 25 : c.framePos / 25 * 25 + endingFrames;
        EXPECT_EQ(std::tuple(job.state.totalFrames, size->frames,
                             test_support::probePackets(job.settings.finalPath).size()),
                  std::tuple(total, written, static_cast<size_t>(written)));
        EXPECT_EQ(std::tuple(size->fileBytes, size->plannedSampleBytes, cache.tablesRead()),
                  std::tuple(static_cast<int64_t>(fs::file_size(job.settings.finalPath)),
                             job.state.finalBytes, c.ending.empty() ? 2 : 3))
            << "each table is read once";
        EXPECT_EQ(engine::predictFinalSize(job.settings, cache, quiet, options.writerOptions)->fileBytes,
                  size->fileBytes);
        // Each frame is the one the plan names (the writer's own tests check the copy against ffprobe).
        test_support::RecordingUiPort verifyUi;
        verifyUi.answers = {true};
        EXPECT_EQ(engine::verifyFinalAvi(job.settings, verifyUi).message(), m::finalAviVerified(written));
        // stat.txt holds what the statistics writer gives for the job's tables and totals.
        const std::string copyDir = test_support::freshTempDir("create_stat_copy");
        ASSERT_TRUE(profiles::writeStatFile(copyDir + "/final.avi", job, ui));
        EXPECT_EQ(test_support::readWholeFile(dir + "/stat.txt"),
                  test_support::readWholeFile(copyDir + "/stat.txt"));
        EXPECT_TRUE(c.fm != mediaFm || (test_support::decodeErrors(job.settings.finalPath).empty() &&
                                        job.state.planTable[5].choice == core::GroupChoice::High &&
                                        job.state.planTable[15].choice == core::GroupChoice::Low))
            << "a Final AVI that decodes, the busy scene from FM, the still one from LM";
    }
}

// Fit weighs every limit: its answer is what trying each limit from 0 up finds. Verify names the
// first differences of a Final AVI that is not what its plan makes.
TEST(FitAndVerify, FindWhatTryingEveryLimitFindsAndNameWhatDiffersFromThePlan)
{
    const std::string dir = test_support::freshTempDir("fit_verify");
    const std::string fm = build(dir, "fm", 1000, 900), lm = build(dir, "lm", 1000, 250);
    constexpr int32_t kAboveEveryGroup = 1100;
    // smoother, run limits, size in MB, audio Kbps: limits of 800, 802, 792, 269 and 0 fit, or none
    const std::tuple<bool, int32_t, int32_t, int32_t> cases[] = {{true, 1, 2, 10},  {false, 1, 2, 20},
                                                                 {true, 2, 3, 100}, {true, 3, 4, 50},
                                                                 {true, 1, 4, 0},   {true, 1, 2, 48}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c));
        core::Job job = markedJob(fm, lm, "", 0, 0);
        std::tie(job.settings.sceneSwitchingSmoother, job.settings.highRunMinGroups, job.settings.finalSizeMB,
                 job.settings.audioKbps) = c;
        job.settings.lowRunMaxGroups = job.settings.highRunMinGroups;
        engine::SourceTableCache cache;
        engine::QuietUiPort quiet;
        std::optional<std::pair<int64_t, int32_t>> best; // bytes and limit
        int64_t bytes = 0; // at the end, all Low Motion groups: the limit is above every group's
        const int64_t target = engine::targetBytes(job.settings);
        for (int32_t limit = 0; limit <= kAboveEveryGroup; ++limit) {
            job.settings.highBitrateLimit = limit;
            const engine::FinalSize size = *engine::predictFinalSize(job.settings, cache, quiet);
            bytes = size.plannedSampleBytes + size.audioReserveBytes;
            if (bytes <= target && (!best || bytes > best->first))
                best = {bytes, limit};
        }
        test_support::RecordingUiPort ui;
        const engine::FitResult fit = engine::fitLimit(job.settings, cache, ui);
        EXPECT_EQ(fit.status == engine::FitStatus::NothingFits, !best);
        EXPECT_EQ(ui.messages,
                  best ? std::vector<core::Message>{} : std::vector{m::nothingFits(bytes, target)});
        if (!best)
            continue;
        EXPECT_EQ(std::pair(fit.size.plannedSampleBytes + fit.size.audioReserveBytes, fit.limit), *best);
        job.settings.highBitrateLimit = fit.limit;
        EXPECT_EQ(engine::predictFinalSize(job.settings, cache, quiet)->fileBytes, fit.size.fileBytes);
    }
    EXPECT_EQ(m::nothingFits(851'834'470, 730'857'472).text,
              "Even all Low Motion groups need 812.4 MB; the target holds 697.0 MB.");

    using Kind = core::FinalDifference::Kind;
    using enum engine::VerifyStatus;
    // name, status, differences, the first (frame 130 holds 3729 bytes, LM's frame 150 1293, FM's 3543)
    const std::tuple<std::string, engine::VerifyStatus, int64_t, core::FinalDifference> verifyCases[] = {
        {"one flipped byte", Differs, 1, {Kind::Bytes, 130, 5, 3729, 3729}},
        {"a group from the other source", Differs, 25, {Kind::Size, 150, 6, 1293, 3543}},
        {"cut short", Differs, 0, {}},
        {"aborted", Aborted, 0, {}},
    };
    for (const auto& [name, status, count, first] : verifyCases) {
        SCOPED_TRACE(name);
        core::Job job = markedJob(fm, lm, "", 0, 0);
        job.settings.finalPath = dir + "/final.avi";
        job.settings.highBitrateLimit = 300; // between the still and the busy groups
        job.settings.sceneSwitchingSmoother = name != "a group from the other source"; // group 6: L, not S
        test_support::RecordingUiPort ui, verifyUi;
        ui.abortAtPump = name == "cut short" ? 1 : -1;
        (void)engine::runCreate(job, ui); // an aborted Create ends, leaving the groups copied
        if (name == "one flipped byte") {
            const int64_t at =
                video::openVideoStream(job.settings.finalPath, ui)->sampleLocation(130).offset + 7;
            std::fstream file(job.settings.finalPath, std::ios::in | std::ios::out | std::ios::binary);
            const auto byte = static_cast<char>(file.seekg(at).get());
            file.seekp(at).put(static_cast<char>(~byte));
        }
        job.settings.sceneSwitchingSmoother = true;
        verifyUi.abortAtPump = name == "aborted" ? 0 : -1;
        const engine::VerifyReport report = engine::verifyFinalAvi(job.settings, verifyUi);
        EXPECT_EQ(
            std::tuple(report.status, report.differenceCount, report.finalFrames, report.differences.size()),
            std::tuple(status, count, name == "cut short" ? 750 : 1000,
                       std::min<size_t>(static_cast<size_t>(count), 20)));
        EXPECT_TRUE(count == 0 || report.differences.front() == first);
        EXPECT_TRUE(name != "cut short" ||
                    report.message().text == "Final AVI cut short: it holds 750 of 1000 planned frames");
    }
}

} // namespace
