#include "engine/plan_view_model.h"
#include "engine/planner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

// GCC 12 at -O3 reports the vectors of a large table of cases as maybe used uninitialized on
// the path that destroys a partly built table; they never are.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// One planner call at 25 fps from the opening settings; the film is as long as sizes.
// framePos -1: no ending, else the FM part ends there; runLimits: highRunMinGroups and lowRunMaxGroups.
struct PlanInput {
    std::vector<int32_t> sizes;
    int32_t distance = 25, groupSeconds = 1;
    int64_t endingBytes = 0;
    bool smoother = true;
    int32_t framePos = -1, finalSizeMB = 702, runLimits = 1;
};

// Groups of perGroup frames by letter: 'H' 4000 bytes a frame (781 Kbps), anything else 1000.
std::vector<int32_t> groups(const std::string& letters, int32_t perGroup = 25)
{
    std::vector<int32_t> sizes;
    for (char letter : letters)
        sizes.insert(sizes.end(), static_cast<size_t>(perGroup), letter == 'H' ? 4000 : 1000);
    return sizes;
}

// Returns the planner's estimate and the plan's choices as letters: L, H, S (smoothed high), E.
std::pair<int64_t, std::string> runPlan(const PlanInput& in)
{
    // Opening settings but for the size, the smoother, the run limits and the ending.
    const core::JobSettings settings{
        "", "",  "",           "",           in.framePos, in.finalSizeMB, 128,   false, in.framePos >= 0,
        0,  700, in.runLimits, in.runLimits, "",          in.smoother,    false, ""};
    const auto total = static_cast<int32_t>(in.sizes.size());
    core::AviStreamInfo info;
    info.dwLength = static_cast<uint32_t>(in.framePos < 0 ? total : in.framePos);
    core::PlanTable planTable;
    planTable.setSize(7); // left by an earlier run
    core::FrameTable table;
    table.setSize(total);
    for (int32_t i = 0; i < total; ++i)
        table[i].size = in.sizes[static_cast<size_t>(i)];
    const int64_t estimate = engine::plan(info, in.distance, total, in.groupSeconds, table, planTable, true,
                                          in.endingBytes, settings);
    std::string letters;
    for (const core::PlanRecord& record : planTable)
        letters += "LHSE"[static_cast<int>(record.choice)];
    return {estimate, letters};
}

TEST(WindowMeasure, ReplacesTheFirstLargestSizesByTheMeanOfTheOthers)
{
    std::vector<int32_t> window = {5, 9, 9, 1};
    EXPECT_EQ(engine::windowMeasure(window, 1), 20);
    EXPECT_EQ(window, (std::vector<int32_t>{5, 5, 9, 1}));
    window = {89599};
    EXPECT_EQ(engine::windowMeasure(window, 2), 89599) << "one frame keeps its size";
    window.assign(4, 2'000'000'000);
    EXPECT_EQ(engine::windowMeasure(window, 1), 8'000'000'000LL);
}

TEST(Planner, ChoosesGroupsAndEstimatesTheLowMotionBitrate)
{
    // 25 x 3584 = 89,600 bytes = 700 Kbps once two peaks are replaced; with one frame of 3583, the
    // mean of the 23 kept is 3583 and the total 89,599.
    std::vector<int32_t> twoPeaks(25, 3584), justUnder(25, 3584);
    twoPeaks[3] = justUnder[3] = 90000;
    twoPeaks[17] = justUnder[17] = 120000;
    justUnder[0] = 3583;
    std::vector<int32_t> lowFilm(2500, 100), highFilm(2500, 100), bigFilm(2500, 100);
    // Group 0 and the last group never count, whatever their bitrate.
    std::fill_n(lowFilm.begin(), 25, 900000);
    std::fill_n(highFilm.end() - 25, 25, 900000);
    for (size_t f = 25; f < 25 * 41; ++f) // groups 1 to 40: 7,864,320 bytes each
        highFilm[f] = f % 25 == 0 ? 314592 : 314572;
    std::fill(bigFilm.begin() + 25, bigFilm.begin() + 25 * 41, 2'500'000); // 2.5 GB in 40 groups
    const std::vector<int32_t> plain(2500, 100);
    std::vector<int32_t> peakInSecondWindow = groups("LLL", 50);
    peakInSecondWindow[80] = 200000; // group 1's second second: 25,000 bytes once the peak is replaced
    const std::vector<int32_t> high48 = groups(std::string(48, 'H'));
    const auto endingFrom = [](size_t g) { return std::string(g, 'H') + std::string(48 - g, 'E'); };
    constexpr int64_t kAny = -2;
    // name, input, the choices ("*": not checked), the estimate
    const std::tuple<const char*, PlanInput, std::string, int64_t> cases[] = {
        {"89,600 bytes in one frame", {.sizes = {89600}, .distance = 1}, "H", kAny},
        {"89,599 bytes in one frame", {.sizes = {89599}, .distance = 1}, "L", kAny},
        {"89,600 bytes after replacing two peaks", {.sizes = twoPeaks}, "H", kAny},
        {"89,599 bytes after replacing two peaks", {.sizes = justUnder}, "L", kAny},
        {"single low group between highs", {.sizes = groups("HHHLHHH")}, "HHHSHHH", kAny},
        {"two low groups stay", {.sizes = groups("HHLLHHH")}, "HHLLHHH", kAny},
        {"group 0 is no high run", {.sizes = groups("HLHHHH")}, "HLHHHH", kAny},
        {"open low run at the end stays", {.sizes = groups("HHHLH")}, "HHHLH", kAny},
        {"several runs", {.sizes = groups("LHLHLHL")}, "LHSHSHL", kAny},
        {"smoother off", {.sizes = groups("HHHLHHH"), .smoother = false}, "HHHLHHH", kAny},
        {"run limits of 2", {.sizes = groups("HHHLLHLHH"), .runLimits = 2}, "HHHSSHLHH", kAny},
        {"2 s groups", {.sizes = groups("HHHLHHH", 50), .distance = 50, .groupSeconds = 2}, "HHHLHHH", kAny},
        {"one peak in a second window",
         {.sizes = peakInSecondWindow, .distance = 50, .groupSeconds = 2},
         "LLL",
         kAny},
        {"ending at 900", {.sizes = high48, .framePos = 900}, endingFrom(36), kAny},
        {"ending at 910", {.sizes = high48, .framePos = 910}, endingFrom(36), kAny},
        {"ending at 925", {.sizes = high48, .framePos = 925}, endingFrom(37), kAny},
        {"low film", {.sizes = lowFilm}, "*", 56934},
        {"40 high seconds", {.sizes = highFilm}, "*", 53930},
        // 730,857,472 - 1,638,400 - 20,000,000 bytes cut to whole MB, over 80 seconds; 3976 MB
        // (4,169,138,176 bytes) less audio over 100 seconds; 7952 MB less audio and 2.5 GB over 60 s.
        {"ending counts as high", {.sizes = plain, .endingBytes = 20'000'000, .framePos = 2000}, "*", 69222},
        {"target below the audio", {.sizes = plain, .finalSizeMB = 1}, "*", -1},
        {"every second is ending", {.sizes = plain, .framePos = 0}, "*", -1},
        {"target above 2060 MB", {.sizes = plain, .finalSizeMB = 4000}, "*", 325550},
        {"2.5 GB of high groups", {.sizes = bigFilm, .finalSizeMB = 8000}, "*", 759944},
        {"empty film", {}, "", -1},
        {"group shorter than a second", {.sizes = plain, .distance = 12, .groupSeconds = 0}, "", -1},
        {"no keyframe distance", {.sizes = plain, .distance = 0}, "", -1},
        {"more seconds than frames", {.sizes = plain, .distance = 2, .groupSeconds = 3}, "", -1},
    };
    for (const auto& [name, in, wantedChoices, wantedEstimate] : cases) {
        SCOPED_TRACE(name);
        const auto [estimate, choices] = runPlan(in);
        EXPECT_TRUE(wantedChoices == "*" || choices == wantedChoices) << choices;
        EXPECT_TRUE(wantedEstimate == kAny || estimate == wantedEstimate) << estimate;
    }
}

TEST(RefreshEstimate, WritesTheLabelOnlyWhenAnalysed)
{
    // 100 seconds of empty frames from the opening settings
    core::Job job{{"", "", "", "", 0, 702, 128, false, false, 0, 700, 1, 1, "", true, false, ""},
                  {{}, {}, {}, {}, 25, 2500, 1, 0, 0, false}};
    job.state.fastMotionFrames.setSize(2500);
    job.state.fastMotionInfo.dwLength = 2500;
    // analysed, seconds a group (0: the divisions by it are refused), the label
    for (const auto& [analysed, groupSeconds, label] :
         {std::tuple(false, 1, "earlier"), std::tuple(true, 1, "56934"), std::tuple(true, 0, "n/a")}) {
        std::tie(job.settings.lowMotionBitrateText, job.state.analysed, job.state.groupSeconds) =
            std::tuple("earlier", analysed, groupSeconds);
        engine::refreshEstimate(job);
        EXPECT_EQ(job.settings.lowMotionBitrateText, label);
    }
}

// framePos -1: no ending; stop: the film stops after its frames.
struct FilmInput {
    int32_t seconds = 600, groupSeconds = 1, framePos = -1;
    bool stop = false;
};

// An analysed 25 fps job from the opening settings whose estimate was refreshed: calm seconds of
// 1-3 KB frames, every seventh second or so a busy one of 3-5 KB frames (above the 700 Kbps limit).
core::Job analysedJob(const FilmInput& in)
{
    std::mt19937 random(7);
    const int32_t frames = in.seconds * 25;
    core::Job job{{"", "", "", "", std::max(in.framePos, 0), 702, 128, in.stop, in.framePos >= 0, 0, 700, 1,
                   1, "", true, false, ""},
                  {{}, {}, {}, {}, 25 * in.groupSeconds, frames, in.groupSeconds, 0, 1'000'000, true}};
    job.state.fastMotionFrames.setSize(frames);
    for (int32_t i = 0; i < frames; ++i) // the busy test draws first, then the size
        job.state.fastMotionFrames[i].size = static_cast<int32_t>(
            (i / 25) % 7 == 3 || random() % 9 == 0 ? 3000 + random() % 2000 : 1000 + random() % 2000);
    job.state.fastMotionInfo.dwRate = 25;
    job.state.fastMotionInfo.dwScale = 1;
    job.state.fastMotionInfo.dwLength = static_cast<uint32_t>(in.framePos >= 0 ? in.framePos : frames);
    engine::refreshEstimate(job);
    return job;
}

// Downscaled, every window above the limit stays visible; bands, hover and summary follow the plan.
TEST(PlanViewModel, ShowsThePlanTableAndEveryWindowAboveTheLimit)
{
    // film, range (empty: the whole film), columns
    const std::tuple<const char*, FilmInput, engine::PlanTimeRange, int32_t> cases[] = {
        {"about 700 columns", {.seconds = 5400}, {}, 700},
        {"7 columns", {}, {}, 7},
        {"more columns than windows", {}, {}, 1333},
        {"zoomed in between frames", {}, {1234.5, 9876.25}, 333},
        {"groups of two seconds", {.seconds = 3000, .groupSeconds = 2}, {}, 1199},
        {"ending", {.framePos = 7210}, {}, 97},
        {"stop", {.seconds = 301, .stop = true}, {}, 301},
    };
    for (const auto& [name, film, asked, width] : cases) {
        SCOPED_TRACE(name);
        const core::Job job = analysedJob(film);
        const engine::PlanViewModel model = engine::PlanViewModel::fromJob(job);
        const engine::PlanTimeRange range = asked.span() > 0 ? asked : model.wholeFilm();
        const std::vector<engine::PlanColumn> columns = model.downscale(range, width);
        ASSERT_EQ(columns.size(), static_cast<size_t>(width));
        int64_t rangePeak = -1;
        int32_t highWindows = 0;
        for (size_t w = 0; w < model.measures().windowBytes.size(); ++w) {
            const auto start = static_cast<double>(model.windowStartFrame(w));
            const int64_t kbps = model.measures().windowKbps(w);
            if (start + model.measures().framesPerWindow <= range.firstFrame || start >= range.endFrame)
                continue;
            rangePeak = std::max(rangePeak, kbps);
            if (kbps < model.limitKbps())
                continue;
            ++highWindows;
            const double at = std::max(start, range.firstFrame);
            const auto column = static_cast<size_t>(
                std::min(std::floor((at - range.firstFrame) * width / range.span()), width - 1.0));
            ASSERT_GE(columns[column].maxKbps, kbps) << "window " << w << " in column " << column;
        }
        EXPECT_GT(highWindows, 5);
        EXPECT_EQ(std::ranges::max(columns, {}, &engine::PlanColumn::maxKbps).maxKbps, rangePeak)
            << "no column is higher than the range's highest window";
        ASSERT_EQ(model.plan(), job.state.planTable);
        EXPECT_EQ(std::to_string(model.estimateKbps()), job.settings.lowMotionBitrateText);
        std::vector<core::GroupChoice> banded, planned;
        int64_t frame = 0;
        for (const engine::PlanBand& band : model.bands()) {
            EXPECT_EQ(std::pair(band.firstFrame, band.firstFrame),
                      std::pair(frame, int64_t{band.firstGroup} * job.state.keyframeDistance));
            banded.insert(banded.end(), static_cast<size_t>(band.endGroup - band.firstGroup), band.choice);
            frame = band.endFrame;
            // Each frame of the band tells its own group's choice and bytes.
            const std::optional<engine::PlanHover> hover = model.hoverAt(band.endFrame - 1);
            ASSERT_TRUE(hover.has_value());
            EXPECT_EQ(std::tuple(hover->group, hover->choice, hover->groupBytes, hover->windowKbps < 0),
                      std::tuple(band.endGroup - 1, band.choice,
                                 job.state.planTable[band.endGroup - 1].fmBytes,
                                 band.choice == core::GroupChoice::Ending));
        }
        for (const core::PlanRecord& record : job.state.planTable)
            planned.push_back(record.choice);
        EXPECT_EQ(banded, planned);
        const auto byChoice = model.framesByChoice();
        // the bands end with the film, past which nothing hovers; the frames of every choice; the mark
        EXPECT_EQ(std::tuple(frame, model.hoverAt(frame).has_value(),
                             byChoice[0] + byChoice[1] + byChoice[2] + byChoice[3], model.mark().has_value()),
                  std::tuple(job.state.totalFrames, false, frame, film.framePos >= 0 || film.stop));
    }
    const std::string summary =
        engine::summaryText(engine::PlanViewModel::fromJob(analysedJob({.framePos = 7210}), 123456789));
    EXPECT_TRUE(summary.find("Ending AVI 312 s (52%)") != std::string::npos &&
                summary.find("Final AVI 123456789 bytes") != std::string::npos)
        << summary;
    EXPECT_TRUE(engine::PlanViewModel::fromJob(core::Job{}).empty());
}

TEST(KbpsScale, MapsEveryRowToTheKbpsThatComesBackToIt)
{
    const engine::KbpsScale scales[] = {
        {400, 4000, 1000}, {399, 1000, 200}, {100, 100000, 20000}, {357, 357, 50}};
    for (const engine::KbpsScale& scale : scales) {
        SCOPED_TRACE(scale.topKbps);
        for (int32_t row = 0; row <= scale.plotHeight; ++row)
            ASSERT_EQ(scale.rowOf(scale.kbpsAt(row)), row);
        for (int64_t kbps = 1; kbps <= scale.topKbps; ++kbps)
            ASSERT_LE(scale.rowOf(kbps), scale.rowOf(kbps - 1));
        EXPECT_EQ(std::pair(scale.kbpsAt(-3), scale.kbpsAt(scale.plotHeight + 3)),
                  std::pair(scale.topKbps, int64_t{0}));
    }
    const engine::PlanViewModel model = engine::PlanViewModel::fromJob(analysedJob({}));
    const engine::KbpsScale fitted = model.kbpsScale(300);
    // above the peak, in at most 6 whole steps
    EXPECT_GE(fitted.topKbps, model.peakKbps());
    EXPECT_TRUE(fitted.topKbps % fitted.stepKbps == 0 && fitted.topKbps / fitted.stepKbps <= 6);
}

TEST(PlanViewModel, ZoomsAroundThePointerAndStaysInTheFilm)
{
    const engine::PlanViewModel model = engine::PlanViewModel::fromJob(analysedJob({.seconds = 400}));
    using Range = engine::PlanTimeRange;
    // range, frame, factor (1: a scroll by frame frames), the range it gives
    const std::tuple<const char*, Range, double, double, Range> cases[] = {
        {"zoom in around frame 1000", {0, 10000}, 1000, 0.5, {500, 5500}},
        {"no closer than ten windows", {900, 1400}, 1000, 0.01, {950, 1200}},
        {"zoom out to the whole film", {900, 1400}, 1000, 100, {0, 10000}},
        {"zoom out near the end", {9000, 10000}, 9900, 4, {6000, 10000}},
        {"scroll past the end", {2000, 4000}, 7000, 1, {8000, 10000}},
        {"scroll before the start", {2000, 4000}, -2500, 1, {0, 2000}},
    };
    for (const auto& [name, range, frame, factor, expected] : cases)
        EXPECT_EQ(factor == 1 ? model.scrolled(range, frame) : model.zoomed(range, frame, factor), expected)
            << name;
}

} // namespace
