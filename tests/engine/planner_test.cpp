#include "engine/planner.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

using core::GroupChoice;

constexpr int32_t kLowFrame = 1000;  // 25 x 1000 bytes = 195 Kbps: low motion
constexpr int32_t kHighFrame = 4000; // 25 x 4000 bytes = 781 Kbps: high motion

core::FrameTable tableOf(const std::vector<int32_t>& sizes)
{
    core::FrameTable table;
    table.setSize(static_cast<int32_t>(sizes.size()));
    for (size_t i = 0; i < sizes.size(); ++i)
        table[static_cast<int32_t>(i)] = {i == 0 ? 1 : 0, sizes[i]};
    return table;
}

// One group of framesPerGroup frames per entry, all of one size.
std::vector<int32_t> groupSizes(const std::vector<bool>& highGroups, int32_t framesPerGroup)
{
    std::vector<int32_t> sizes;
    for (bool high : highGroups)
        sizes.insert(sizes.end(), static_cast<size_t>(framesPerGroup), high ? kHighFrame : kLowFrame);
    return sizes;
}

core::AviStreamInfo infoOfLength(uint32_t frames)
{
    core::AviStreamInfo info;
    info.dwRate = 25;
    info.dwScale = 1;
    info.dwLength = frames;
    return info;
}

core::JobSettings defaultSettings()
{
    core::JobSettings settings;
    core::applyOpeningDefaults(settings);
    return settings;
}

std::vector<GroupChoice> choicesOf(const core::PlanTable& planTable)
{
    std::vector<GroupChoice> choices;
    for (const core::PlanRecord& record : planTable)
        choices.push_back(record.choice);
    return choices;
}

struct PlanRun {
    core::PlanTable planTable;
    int64_t result = 0;
};

PlanRun runPlan(const std::vector<int32_t>& sizes, int32_t keyframeDistance, int32_t groupSeconds,
                const core::JobSettings& settings, bool computeEstimate = false, int32_t totalFrames = -1,
                int32_t fmFrames = -1, int64_t endingBytes = 0)
{
    const int32_t count = static_cast<int32_t>(sizes.size());
    PlanRun run;
    run.result = engine::plan(infoOfLength(static_cast<uint32_t>(fmFrames < 0 ? count : fmFrames)),
                              keyframeDistance, totalFrames < 0 ? count : totalFrames, groupSeconds,
                              tableOf(sizes), run.planTable, computeEstimate, endingBytes, settings);
    return run;
}

constexpr GroupChoice L = GroupChoice::Low;
constexpr GroupChoice H = GroupChoice::High;
constexpr GroupChoice S = GroupChoice::SmoothedHigh;
constexpr GroupChoice E = GroupChoice::Ending;

TEST(WindowMeasure, ReplacesLargestSizesByTheMeanOfTheOthers)
{
    struct Case {
        const char* name;
        std::vector<int32_t> window;
        int32_t removeCount;
        int64_t expected;
        std::vector<int32_t> windowAfter;
    };
    const Case cases[] = {
        {"one removed, mean truncated", {10, 20, 30, 7}, 1, 49, {10, 20, 12, 7}},
        {"two removed", {10, 50, 30, 40}, 2, 80, {10, 20, 30, 20}},
        {"first of equal maxima only", {5, 9, 9, 1}, 1, 20, {5, 5, 9, 1}},
        {"nothing removed", {3, 4}, 0, 7, {3, 4}},
        {"one frame is its plain sum", {89599}, 2, 89599, {89599}},
        {"two frames keep one", {100, 40}, 2, 80, {40, 40}},
        {"zero sizes", {0, 0, 0}, 2, 0, {0, 0, 0}},
        {"empty window", {}, 2, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int32_t> window = c.window;
        EXPECT_EQ(engine::windowMeasure(window, c.removeCount), c.expected);
        EXPECT_EQ(window, c.windowAfter);
    }
}

TEST(WindowMeasure, SumsBeyondThirtyTwoBits)
{
    std::vector<int32_t> window(4, 2'000'000'000);
    EXPECT_EQ(engine::windowMeasure(window, 1), 8'000'000'000LL);
}

TEST(Planner, ClassifiesGroupsAtTheBitrateLimit)
{
    struct Case {
        const char* name;
        std::vector<int32_t> sizes;
        int32_t keyframeDistance;
        GroupChoice expected;
    };
    std::vector<int32_t> twoPeaks(25, 3584); // 25 x 3584 = 89,600 bytes = 700 Kbps
    twoPeaks[3] = 90000;
    twoPeaks[17] = 120000;
    std::vector<int32_t> justUnder(25, 3584); // mean of the 23 kept: 3583, total 89,597
    justUnder[0] = 3583;
    const Case cases[] = {
        {"89,600 bytes in one frame", {89600}, 1, H},
        {"89,599 bytes in one frame", {89599}, 1, L},
        {"89,600 bytes after replacing the two peaks", twoPeaks, 25, H},
        {"just under after replacing", justUnder, 25, L},
    };
    const core::JobSettings settings = defaultSettings();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlanRun run = runPlan(c.sizes, c.keyframeDistance, 1, settings);
        ASSERT_EQ(run.planTable.count(), 1);
        EXPECT_EQ(run.planTable[0].choice, c.expected);
        EXPECT_EQ(run.planTable[0].fmBytes, std::accumulate(c.sizes.begin(), c.sizes.end(), int64_t{0}));
    }
}

TEST(Planner, MeasuresEveryWindowOfALongGroup)
{
    // Two windows of 25 frames: the second window, with one peak replaced, decides.
    std::vector<int32_t> sizes(50, kLowFrame);
    for (int32_t i = 25; i < 50; ++i)
        sizes[static_cast<size_t>(i)] = 3584;
    sizes[30] = 500000;
    const PlanRun run = runPlan(sizes, 50, 2, defaultSettings());
    ASSERT_EQ(run.planTable.count(), 1);
    EXPECT_EQ(run.planTable[0].choice, H);
    sizes[31] = 3583; // 23 x 3584 + 3583 with the mean 3583 for the peak: 89,598 bytes
    EXPECT_EQ(runPlan(sizes, 50, 2, defaultSettings()).planTable[0].choice, L);
}

TEST(Planner, SmoothsShortLowRunsAfterHighGroups)
{
    struct Case {
        const char* name;
        std::vector<bool> highGroups;
        bool smoother;
        std::vector<GroupChoice> expected;
    };
    const Case cases[] = {
        {"single low group between highs",
         {true, true, true, false, true, true, true},
         true,
         {H, H, H, S, H, H, H}},
        {"two low groups stay", {true, true, false, false, true, true, true}, true, {H, H, L, L, H, H, H}},
        {"group 0 does not count as a high run",
         {true, false, true, true, true, true},
         true,
         {H, L, H, H, H, H}},
        {"smoother off", {true, true, true, false, true, true, true}, false, {H, H, H, L, H, H, H}},
        {"open low run at the end stays", {true, true, true, false, true}, true, {H, H, H, L, H}},
        {"several runs", {false, true, false, true, false, true, false}, true, {L, H, S, H, S, H, L}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::JobSettings settings = defaultSettings();
        settings.sceneSwitchingSmoother = c.smoother;
        const PlanRun run = runPlan(groupSizes(c.highGroups, 25), 25, 1, settings);
        EXPECT_EQ(choicesOf(run.planTable), c.expected);
    }
}

TEST(Planner, SmootherHonoursItsRunLimits)
{
    core::JobSettings settings = defaultSettings();
    settings.highRunMinGroups = 2;
    settings.lowRunMaxGroups = 2;
    // groupsFm 9, limit 7: groups 1 to 6 are examined.
    const std::vector<bool> groups = {true, true, true, false, false, true, false, true, true};
    const PlanRun run = runPlan(groupSizes(groups, 25), 25, 1, settings);
    EXPECT_EQ(choicesOf(run.planTable), (std::vector<GroupChoice>{H, H, H, S, S, H, L, H, H}));
}

TEST(Planner, NeverSmoothsGroupsOfSeveralSeconds)
{
    core::JobSettings settings = defaultSettings();
    ASSERT_TRUE(settings.sceneSwitchingSmoother);
    const std::vector<bool> groups = {true, true, true, false, true, true, true};
    const PlanRun run = runPlan(groupSizes(groups, 50), 50, 2, settings);
    EXPECT_EQ(choicesOf(run.planTable), (std::vector<GroupChoice>{H, H, H, L, H, H, H}));
}

TEST(Planner, MarksEndingGroupsFromTheEndingPosition)
{
    struct Case {
        const char* name;
        int32_t framePos;
        int32_t firstEndingGroup;
    };
    const Case cases[] = {
        {"multiple of the distance", 900, 36},
        {"inside a group", 910, 36},
        {"last frame of a group", 924, 36},
        {"first frame of the next group", 925, 37},
        {"at the start", 0, 0},
        {"past the film", 5000, 48},
    };
    // 1200 FM frames, all high: only the ending can turn a group into anything else.
    const std::vector<int32_t> sizes(1200, kHighFrame);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::JobSettings settings = defaultSettings();
        settings.endingEnabled = true;
        settings.framePos = c.framePos;
        const PlanRun run = runPlan(sizes, 25, 1, settings, false, 1200, c.framePos);
        ASSERT_EQ(run.planTable.count(), 48);
        for (int32_t g = 0; g < 48; ++g) {
            SCOPED_TRACE(g);
            EXPECT_EQ(run.planTable[g].choice, g < c.firstEndingGroup ? H : E);
            EXPECT_EQ(run.planTable[g].fmBytes, 25 * kHighFrame);
        }
    }
}

TEST(Planner, CountsOnlyFramesInsideTheFmTable)
{
    std::vector<int32_t> sizes(1010, 100);
    for (int32_t i = 1000; i < 1010; ++i)
        sizes[static_cast<size_t>(i)] = i;
    const int64_t tail = std::accumulate(sizes.begin() + 1000, sizes.end(), int64_t{0});
    struct Case {
        const char* name;
        int32_t keyframeDistance;
        int32_t groupSeconds;
        int32_t groups;
    };
    const Case cases[] = {{"one window per group", 25, 1, 41}, {"second window wholly outside", 50, 2, 21}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlanRun run = runPlan(sizes, c.keyframeDistance, c.groupSeconds, defaultSettings());
        ASSERT_EQ(run.planTable.count(), c.groups);
        EXPECT_EQ(run.planTable[c.groups - 1].fmBytes, tail);
        EXPECT_EQ(run.planTable[c.groups - 2].fmBytes, 100 * c.keyframeDistance);
    }
    // A film longer than the table: groups past it hold no FM bytes and count as low.
    const PlanRun longer = runPlan(sizes, 25, 1, defaultSettings(), false, 1100);
    ASSERT_EQ(longer.planTable.count(), 44);
    EXPECT_EQ(longer.planTable[43].fmBytes, 0);
    EXPECT_EQ(longer.planTable[43].choice, L);
}

TEST(Planner, EstimatesTheLowMotionBitrate)
{
    // 2500 frames of 25 fps, groups of one second: 100 seconds.
    std::vector<int32_t> lowFilm(2500, 100);
    std::vector<int32_t> highFilm = lowFilm;
    // Groups 1 to 40 high with 7,864,320 bytes each: 40 seconds and 314,572,800 bytes.
    for (int32_t g = 1; g <= 40; ++g) {
        for (int32_t f = 0; f < 25; ++f)
            highFilm[static_cast<size_t>(g * 25 + f)] = f == 0 ? 314592 : 314572;
    }
    // Group 0 and the last group are never counted, whatever their bitrate.
    for (int32_t f = 0; f < 25; ++f) {
        lowFilm[static_cast<size_t>(f)] = 900000;
        highFilm[static_cast<size_t>(2475 + f)] = 900000;
    }
    core::JobSettings settings = defaultSettings();
    settings.sceneSwitchingSmoother = false;
    EXPECT_EQ(runPlan(lowFilm, 25, 1, settings, true).result, 56934);
    EXPECT_EQ(runPlan(highFilm, 25, 1, settings, true).result, 53930);
    EXPECT_EQ(runPlan(highFilm, 25, 1, settings, false).result, 0);
    EXPECT_EQ(runPlan(highFilm, 25, 1, settings, false).planTable.count(), 100);
}

TEST(Planner, CountsTheEndingAsHighMotion)
{
    // 2000 FM frames, then a 500-frame ending of 20,000,000 bytes: 20 ending seconds.
    core::JobSettings settings = defaultSettings();
    settings.endingEnabled = true;
    settings.framePos = 2000;
    const std::vector<int32_t> sizes(2500, 100);
    const PlanRun run = runPlan(sizes, 25, 1, settings, true, 2500, 2000, 20'000'000);
    // rest = 730,857,472 - 1,638,400 - 20,000,000 = 709,219,072, cut to 708,837,376; / 80 s / 128.
    EXPECT_EQ(run.result, 708'837'376LL / 80 / 128);
    EXPECT_EQ(run.planTable[80].choice, E);
    EXPECT_EQ(run.planTable[79].choice, L);
}

TEST(Planner, EstimateWithoutRoomIsNone)
{
    struct Case {
        const char* name;
        int32_t finalSizeMB;
        bool ending;
        int32_t framePos;
        int64_t expected;
    };
    const Case cases[] = {
        {"target smaller than the audio", 1, false, 0, -1},
        {"every second is ending", 702, true, 0, -1},
        {"room left", 702, false, 0, 56934},
    };
    const std::vector<int32_t> sizes(2500, 100);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::JobSettings settings = defaultSettings();
        settings.finalSizeMB = c.finalSizeMB;
        settings.endingEnabled = c.ending;
        settings.framePos = c.framePos;
        EXPECT_EQ(runPlan(sizes, 25, 1, settings, true, 2500, c.ending ? c.framePos : 2500).result,
                  c.expected);
    }
}

TEST(Planner, RefusesGroupsWithoutAWholeWindow)
{
    struct Case {
        const char* name;
        int32_t keyframeDistance;
        int32_t groupSeconds;
    };
    const Case cases[] = {
        {"group shorter than a second", 12, 0},
        {"no keyframe distance", 0, 1},
        {"negative keyframe distance", -25, 1},
        {"more seconds than frames", 2, 3},
    };
    const std::vector<int32_t> sizes(100, kHighFrame);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::PlanTable planTable;
        planTable.setSize(7);
        const int64_t result = engine::plan(infoOfLength(100), c.keyframeDistance, 100, c.groupSeconds,
                                            tableOf(sizes), planTable, true, 0, defaultSettings());
        EXPECT_EQ(result, -1);
        EXPECT_EQ(planTable.count(), 0);
    }
}

TEST(Planner, EmptyFilmHasNoEstimate)
{
    const PlanRun run = runPlan({}, 25, 1, defaultSettings(), true);
    EXPECT_EQ(run.planTable.count(), 0);
    EXPECT_EQ(run.result, -1);
}

TEST(Planner, CountsFilmsAndTargetsBeyondThirtyTwoBits)
{
    core::JobSettings settings = defaultSettings();
    settings.sceneSwitchingSmoother = false;
    settings.audioKbps = 0;
    // A 4000 MB target: 3976 MB = 4,169,138,176 bytes, above 2^31.
    settings.finalSizeMB = 4000;
    const std::vector<int32_t> small(2500, 100);
    EXPECT_EQ(runPlan(small, 25, 1, settings, true).result, 4'169'138'176LL / 100 / 128);

    // 40 high groups of 25 x 2,500,000 bytes: 2.5 GB of FM bytes in the high groups.
    settings.finalSizeMB = 8000;
    std::vector<int32_t> big = small;
    for (int32_t f = 25; f < 25 + 40 * 25; ++f)
        big[static_cast<size_t>(f)] = 2'500'000;
    const PlanRun run = runPlan(big, 25, 1, settings, true);
    EXPECT_EQ(run.planTable[1].fmBytes, 62'500'000);
    const int64_t target = 8000LL * 1000 / 1006 * 1048576;
    const int64_t rest = (target - 2'500'000'000LL) / 1048576 * 1048576;
    EXPECT_EQ(run.result, rest / 60 / 128);
    EXPECT_GT(run.result, 0);
}

TEST(RefreshEstimate, WritesTheLabelOnlyWhenAnalysed)
{
    core::Job job;
    core::applyOpeningDefaults(job.settings);
    job.settings.sceneSwitchingSmoother = false;
    job.state.fastMotionFrames = tableOf(std::vector<int32_t>(2500, 100));
    job.state.fastMotionInfo = infoOfLength(2500);
    job.state.keyframeDistance = 25;
    job.state.totalFrames = 2500;
    job.state.groupSeconds = 1;

    job.settings.lowMotionBitrateText = "earlier";
    engine::refreshEstimate(job);
    EXPECT_EQ(job.settings.lowMotionBitrateText, "earlier");
    EXPECT_EQ(job.state.planTable.count(), 0);

    job.state.analysed = true;
    engine::refreshEstimate(job);
    EXPECT_EQ(job.settings.lowMotionBitrateText, "56934");
    EXPECT_EQ(job.state.planTable.count(), 100);

    job.settings.finalSizeMB = 1;
    engine::refreshEstimate(job);
    EXPECT_EQ(job.settings.lowMotionBitrateText, "n/a");

    job.settings.finalSizeMB = 702;
    job.state.groupSeconds = 0;
    engine::refreshEstimate(job);
    EXPECT_EQ(job.settings.lowMotionBitrateText, "n/a");
    EXPECT_EQ(job.state.planTable.count(), 0);
}

TEST(RefreshEstimate, SurvivesCountsLeftByAFailedCommand)
{
    // A failed later run can leave an FM length larger than the film; nothing reads past the plan.
    core::Job job;
    core::applyOpeningDefaults(job.settings);
    job.state.fastMotionFrames = tableOf(groupSizes({true, true, false, true, true, false, true}, 25));
    job.state.fastMotionInfo = infoOfLength(100000);
    job.state.keyframeDistance = 25;
    job.state.totalFrames = 175;
    job.state.groupSeconds = 1;
    job.state.analysed = true;
    engine::refreshEstimate(job);
    EXPECT_EQ(job.state.planTable.count(), 7);
    // Groups 1 to 6 count as high (two of them smoothed): 450,000 bytes in 6 of 7 seconds.
    EXPECT_EQ(job.settings.lowMotionBitrateText,
              std::to_string((730'857'472LL - 7 * 128 * 128 - 450'000) / 1048576 * 1048576 / 128));
}

} // namespace
