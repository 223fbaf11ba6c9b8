#include "engine/commands.h"
#include "engine/planner.h"

#include "command_test_helpers.h"
#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

using core::MessageId;
using engine::CommandOutcome;
using engine_test::buildFilm;
using engine_test::buildGridFilm;
using engine_test::gridKeys;

// Values no Analyze can produce, to tell which fields a run wrote.
core::Job markedJob()
{
    core::Job job = engine_test::openedJob();
    job.state.fastMotionInfo.dwRate = 9999;
    job.state.fastMotionInfo.dwLength = 4444;
    job.state.keyframeDistance = 777;
    job.state.totalFrames = 888;
    job.state.groupSeconds = 99;
    job.state.endingBytes = 123456789;
    job.state.fastMotionFrames.setSize(3);
    job.settings.lowMotionBitrateText = "old label";
    return job;
}

struct Changed {
    bool info = false;
    bool endingBytes = false;
    bool counts = false; // totalFrames, fastMotionFrames, keyframeDistance
    bool groupSeconds = false;
    bool analysed = false;
};

void expectChanged(const core::Job& job, const Changed& changed)
{
    const core::Job marked = markedJob();
    EXPECT_EQ(job.state.fastMotionInfo != marked.state.fastMotionInfo, changed.info) << "fastMotionInfo";
    EXPECT_EQ(job.state.endingBytes != marked.state.endingBytes, changed.endingBytes) << "endingBytes";
    EXPECT_EQ(job.state.totalFrames != marked.state.totalFrames, changed.counts) << "totalFrames";
    EXPECT_EQ(job.state.fastMotionFrames.count() != 3, changed.counts) << "fastMotionFrames";
    EXPECT_EQ(job.state.keyframeDistance != marked.state.keyframeDistance, changed.counts)
        << "keyframeDistance";
    EXPECT_EQ(job.state.groupSeconds != marked.state.groupSeconds, changed.groupSeconds) << "groupSeconds";
    EXPECT_EQ(job.state.analysed, changed.analysed) << "analysed";
    if (!changed.analysed) {
        EXPECT_EQ(job.settings.lowMotionBitrateText, "old label");
        EXPECT_EQ(job.state.planTable.count(), 0);
    }
}

struct AnalyzeRun {
    CommandOutcome outcome;
    test_support::RecordingUiPort ui;
};

void runAnalyze(core::Job& job, AnalyzeRun& run)
{
    const int32_t filesBefore = engine_test::openFileCount();
    run.outcome = engine::runAnalyze(job, run.ui);
    EXPECT_EQ(engine_test::openFileCount(), filesBefore) << "a source stayed open";
    EXPECT_EQ(run.ui.busyCalls, 1);
    EXPECT_EQ(run.ui.busyDepth, 0);
}

TEST(Analyze, MeasuresARealFilm)
{
    core::Job job = markedJob();
    job.settings.fastMotionPath = test_support::fastMotionAvi(1000, 25);
    AnalyzeRun run;
    runAnalyze(job, run);
    EXPECT_EQ(run.outcome, CommandOutcome::Completed);
    EXPECT_TRUE(run.ui.messages.empty());
    EXPECT_EQ(job.state.totalFrames, 1000);
    EXPECT_EQ(job.state.fastMotionInfo.dwLength, 1000u);
    EXPECT_EQ(job.state.keyframeDistance, 25);
    EXPECT_EQ(job.state.groupSeconds, 1);
    EXPECT_TRUE(job.state.analysed);
    EXPECT_EQ(job.state.endingBytes, markedJob().state.endingBytes) << "no ending: not measured";
    EXPECT_EQ(job.state.planTable.count(), 40);

    // The table matches what an independent reader lists.
    const std::vector<test_support::ProbePacket> packets =
        test_support::probePackets(job.settings.fastMotionPath);
    ASSERT_EQ(job.state.fastMotionFrames.count(), 1000);
    ASSERT_EQ(packets.size(), 1000u);
    for (int32_t i = 0; i < 1000; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(job.state.fastMotionFrames[i].isKey != 0, packets[static_cast<size_t>(i)].key);
        EXPECT_EQ(job.state.fastMotionFrames[i].size, packets[static_cast<size_t>(i)].size);
    }

    // The label is the estimate the planner gives for these numbers.
    core::PlanTable planTable;
    const int64_t estimate = engine::plan(job.state.fastMotionInfo, 25, 1000, 1, job.state.fastMotionFrames,
                                          planTable, true, 0, job.settings);
    EXPECT_EQ(job.settings.lowMotionBitrateText, estimate < 0 ? "n/a" : std::to_string(estimate));
    EXPECT_EQ(planTable, job.state.planTable);
}

TEST(Analyze, AddsTheEndingAvi)
{
    const std::string dir = test_support::freshTempDir("analyze_ending");
    core::Job job = markedJob();
    job.settings.fastMotionPath = buildGridFilm(dir, "fm", 1200, 25);
    job.settings.endingPath = buildGridFilm(dir, "ending", 300, 25);
    job.settings.endingEnabled = true;
    job.settings.stopAfterEnabled = true; // the ending wins
    job.settings.stopAfterFrames = 500;
    job.settings.framePos = 900;
    AnalyzeRun run;
    runAnalyze(job, run);
    EXPECT_EQ(run.outcome, CommandOutcome::Completed);
    EXPECT_TRUE(run.ui.messages.empty());
    EXPECT_EQ(job.state.fastMotionInfo.dwLength, 900u);
    EXPECT_EQ(job.state.totalFrames, 1200);
    EXPECT_EQ(job.state.fastMotionFrames.count(), 1200);
    const std::vector<test_support::BuiltFrame> ending = engine_test::framesWithKeys(300, gridKeys(300, 25));
    const int64_t endingBytes =
        std::accumulate(ending.begin(), ending.end(), int64_t{0},
                        [](int64_t sum, const auto& frame) { return sum + frame.size; });
    EXPECT_EQ(job.state.endingBytes, endingBytes);
    EXPECT_TRUE(job.state.analysed);
    ASSERT_EQ(job.state.planTable.count(), 48);
    EXPECT_EQ(job.state.planTable[35].choice == core::GroupChoice::Ending, false);
    EXPECT_EQ(job.state.planTable[36].choice, core::GroupChoice::Ending);

    test_support::RecordingUiPort ui;
    EXPECT_EQ(engine::measureEndingBytes(job.settings.endingPath, ui), endingBytes);
    EXPECT_TRUE(ui.messages.empty());
}

TEST(Analyze, SearchesTheKeyframeDistanceWithinTheFmPart)
{
    // Only frame 0 is a key frame before the ending position: one group of 900 frames.
    const std::string dir = test_support::freshTempDir("analyze_distance");
    core::Job job = markedJob();
    job.settings.fastMotionPath = buildFilm(dir, "fm", 1200, {0, 950});
    job.settings.endingPath = buildGridFilm(dir, "ending", 300, 25);
    job.settings.endingEnabled = true;
    job.settings.framePos = 900;
    AnalyzeRun run;
    runAnalyze(job, run);
    EXPECT_EQ(run.outcome, CommandOutcome::Completed);
    EXPECT_EQ(job.state.keyframeDistance, 900);
    EXPECT_EQ(job.state.groupSeconds, 36);
}

TEST(Analyze, StopsTheFilmAfterAFrameCount)
{
    struct Case {
        const char* name;
        int32_t stopAfter;
        std::vector<MessageId> messages;
    };
    const Case cases[] = {
        {"inside the film", 500, {}},
        // Past the film's end the read reports the missing sizes and Analyze goes on.
        {"past the film", 1200, {MessageId::StreamReadError}},
    };
    const std::string dir = test_support::freshTempDir("analyze_stop");
    const std::string fm = buildGridFilm(dir, "fm", 1000, 25);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = markedJob();
        job.settings.fastMotionPath = fm;
        job.settings.stopAfterEnabled = true;
        job.settings.stopAfterFrames = c.stopAfter;
        AnalyzeRun run;
        runAnalyze(job, run);
        EXPECT_EQ(run.outcome, CommandOutcome::Completed);
        EXPECT_EQ(run.ui.messageIds(), c.messages);
        EXPECT_EQ(job.state.totalFrames, c.stopAfter);
        EXPECT_EQ(job.state.fastMotionInfo.dwLength, static_cast<uint32_t>(c.stopAfter));
        EXPECT_EQ(job.state.fastMotionFrames.count(), c.stopAfter);
        EXPECT_EQ(job.state.keyframeDistance, 25);
        EXPECT_TRUE(job.state.analysed);
    }
}

TEST(Analyze, ReportsAKeyframeBreakBeforeTheEndingPosition)
{
    std::vector<int32_t> keys = gridKeys(1100, 25);
    keys.erase(keys.begin() + 2); // no key frame at 50
    const std::string dir = test_support::freshTempDir("analyze_break");
    const std::string fm = buildFilm(dir, "fm", 1100, keys);
    const std::string ending = buildGridFilm(dir, "ending", 100, 25);
    struct Case {
        const char* name;
        bool endingEnabled;
        int32_t framePos;
        bool reported;
    };
    const Case cases[] = {
        {"break below framePos", false, 1000, true},
        {"break at framePos", false, 50, false},
        {"framePos 0", false, 0, false},
        {"ending on", true, 1000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = markedJob();
        job.settings.fastMotionPath = fm;
        job.settings.endingPath = ending;
        job.settings.endingEnabled = c.endingEnabled;
        job.settings.framePos = c.framePos;
        AnalyzeRun run;
        runAnalyze(job, run);
        EXPECT_EQ(job.state.keyframeDistance, 25);
        if (c.reported) {
            EXPECT_EQ(run.outcome, CommandOutcome::Ended);
            EXPECT_EQ(run.ui.messages,
                      (std::vector<core::Message>{core::messages::keyframeInconsistency(50)}));
            expectChanged(job, {.info = true, .endingBytes = false, .counts = true});
        } else {
            EXPECT_EQ(run.outcome, CommandOutcome::Completed);
            EXPECT_TRUE(run.ui.messages.empty());
            EXPECT_TRUE(job.state.analysed);
        }
    }
}

TEST(Analyze, TakesWholeFramesPerSecond)
{
    // 29.97 fps counts as 29 frames per second: 300 frames make 10 whole seconds.
    const std::string dir = test_support::freshTempDir("analyze_ntsc");
    core::Job job = markedJob();
    job.settings.fastMotionPath = buildFilm(dir, "fm", 1200, gridKeys(1200, 300), 30000, 1001);
    AnalyzeRun run;
    runAnalyze(job, run);
    EXPECT_EQ(run.outcome, CommandOutcome::Completed);
    EXPECT_EQ(job.state.keyframeDistance, 300);
    EXPECT_EQ(job.state.groupSeconds, 10);
    EXPECT_EQ(job.state.planTable.count(), 4);
}

TEST(Analyze, RefusesFilmsWithoutAOneSecondWindow)
{
    struct Case {
        const char* name;
        int32_t distance;
        uint32_t rate;
        uint32_t scale;
        core::Message message;
    };
    const Case cases[] = {
        {"groups shorter than a second", 12, 25, 1, core::messages::keyframeDistanceTooShort(12, 25)},
        {"below one frame per second", 25, 1, 2, core::messages::frameRateUnusable(1, 2)},
        {"scale 0", 25, 25, 0, core::messages::frameRateUnusable(25, 0)},
    };
    const std::string dir = test_support::freshTempDir("analyze_short");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = markedJob();
        job.settings.fastMotionPath = buildFilm(dir, c.name, 240, gridKeys(240, c.distance), c.rate, c.scale);
        AnalyzeRun run;
        runAnalyze(job, run);
        EXPECT_EQ(run.outcome, CommandOutcome::Ended);
        EXPECT_EQ(run.ui.messages, (std::vector<core::Message>{c.message}));
        EXPECT_EQ(job.state.keyframeDistance, c.distance);
        expectChanged(job, {.info = true, .endingBytes = false, .counts = true});
    }
}

TEST(Analyze, LeavesTheJobAsFarAsItGot)
{
    const std::string dir = test_support::freshTempDir("analyze_failures");
    const std::string fm = buildGridFilm(dir, "fm", 100, 25);
    const std::string wideFormat = buildFilm(dir, "wide", 100, gridKeys(100, 25), 25, 1, 41);
    const std::string ending = buildGridFilm(dir, "ending", 50, 25);
    const std::string missing = dir + "/missing.avi";
    struct Case {
        const char* name;
        std::string fmPath;
        std::string endingPath;
        std::vector<core::Message> messages;
        Changed changed;
    };
    const Case cases[] = {
        {"FM missing", missing, ending, {core::messages::couldNotOpenAvi(missing)}, {}},
        {"FM format too large", wideFormat, ending, {core::messages::formatTooLarge()}, {}},
        {"Ending missing", fm, missing, {core::messages::couldNotOpenAvi(missing)}, {.info = true}},
        {"Ending format too large", fm, wideFormat, {core::messages::formatTooLarge()}, {.info = true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = markedJob();
        job.settings.fastMotionPath = c.fmPath;
        job.settings.endingPath = c.endingPath;
        job.settings.endingEnabled = true;
        job.settings.framePos = 50;
        AnalyzeRun run;
        runAnalyze(job, run);
        EXPECT_EQ(run.outcome, CommandOutcome::Ended);
        EXPECT_EQ(run.ui.messages, c.messages);
        expectChanged(job, c.changed);
    }
}

TEST(Analyze, FailedRunKeepsAnEarlierResult)
{
    core::Job job = markedJob();
    job.settings.fastMotionPath = test_support::fastMotionAvi(1000, 25);
    AnalyzeRun first;
    runAnalyze(job, first);
    ASSERT_EQ(first.outcome, CommandOutcome::Completed);
    const std::string label = job.settings.lowMotionBitrateText;
    const core::PlanTable planTable = job.state.planTable;

    job.settings.fastMotionPath = test_support::freshTempDir("analyze_again") + "/gone.avi";
    AnalyzeRun second;
    runAnalyze(job, second);
    EXPECT_EQ(second.outcome, CommandOutcome::Ended);
    EXPECT_TRUE(job.state.analysed);
    EXPECT_EQ(job.settings.lowMotionBitrateText, label);
    EXPECT_EQ(job.state.planTable, planTable);
}

TEST(MeasureEndingBytes, ReportsAnEndingItCannotOpen)
{
    const std::string missing = test_support::freshTempDir("ending_bytes") + "/missing.avi";
    test_support::RecordingUiPort ui;
    const int32_t filesBefore = engine_test::openFileCount();
    EXPECT_EQ(engine::measureEndingBytes(missing, ui), std::nullopt);
    EXPECT_EQ(engine_test::openFileCount(), filesBefore);
    EXPECT_EQ(ui.messages, (std::vector<core::Message>{core::messages::couldNotOpenAvi(missing)}));
}

} // namespace
