#include "engine/plan_view_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using core::GroupChoice;

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
                   1, "", true, false},
                  {{}, {}, {}, {}, 25 * in.groupSeconds, frames, in.groupSeconds, 0, 1'000'000, true}};
    job.state.fastMotionFrames.setSize(frames);
    for (int32_t i = 0; i < frames; ++i) {
        const bool busy = (i / 25) % 7 == 3 || random() % 9 == 0;
        job.state.fastMotionFrames[i].size =
            static_cast<int32_t>(busy ? 3000 + random() % 2000 : 1000 + random() % 2000);
    }
    job.state.fastMotionInfo.dwRate = 25;
    job.state.fastMotionInfo.dwScale = 1;
    job.state.fastMotionInfo.dwLength = static_cast<uint32_t>(in.framePos >= 0 ? in.framePos : frames);
    engine::refreshEstimate(job);
    return job;
}

TEST(PlanViewModel, DownscalingKeepsEveryWindowAboveTheLimitVisible)
{
    struct Case {
        const char* name;
        FilmInput film;
        engine::PlanTimeRange range; // empty: the whole film
        int32_t columns;
    };
    const Case cases[] = {
        {"about 700 columns", {.seconds = 5400}, {}, 700},
        {"7 columns", {}, {}, 7},
        {"more columns than windows", {}, {}, 1333},
        {"zoomed in between frames", {}, {1234.5, 9876.25}, 333},
        {"groups of two seconds", {.seconds = 3000, .groupSeconds = 2}, {}, 1199},
        {"ending", {.framePos = 7210}, {}, 97},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const engine::PlanViewModel model = engine::PlanViewModel::fromJob(analysedJob(c.film));
        const engine::PlanTimeRange range = c.range.span() > 0 ? c.range : model.wholeFilm();
        const std::vector<engine::PlanColumn> columns = model.downscale(range, c.columns);
        ASSERT_EQ(columns.size(), static_cast<size_t>(c.columns));
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
                std::min(std::floor((at - range.firstFrame) * c.columns / range.span()), c.columns - 1.0));
            ASSERT_GE(columns[column].maxKbps, kbps) << "window " << w << " in column " << column;
        }
        EXPECT_GT(highWindows, 5);
        const auto highest =
            std::max_element(columns.begin(), columns.end(),
                             [](const auto& a, const auto& b) { return a.maxKbps < b.maxKbps; });
        EXPECT_EQ(highest->maxKbps, rangePeak) << "no column is higher than the range's highest window";
    }
}

TEST(PlanViewModel, BandsHoverAndSummaryFollowThePlanTable)
{
    const FilmInput films[] = {{}, {.framePos = 7210}, {.seconds = 301, .stop = true}, {.groupSeconds = 2}};
    for (const FilmInput& film : films) {
        SCOPED_TRACE(film.framePos);
        const core::Job job = analysedJob(film);
        const engine::PlanViewModel model = engine::PlanViewModel::fromJob(job);
        ASSERT_EQ(model.plan(), job.state.planTable);
        EXPECT_EQ(std::to_string(model.estimateKbps()), job.settings.lowMotionBitrateText);
        std::vector<GroupChoice> banded;
        int64_t frame = 0;
        for (const engine::PlanBand& band : model.bands()) {
            EXPECT_EQ(band.firstFrame, frame);
            EXPECT_EQ(band.firstFrame, int64_t{band.firstGroup} * job.state.keyframeDistance);
            banded.insert(banded.end(), static_cast<size_t>(band.endGroup - band.firstGroup), band.choice);
            frame = band.endFrame;
            // Each frame of the band tells its own group's choice and bytes.
            const std::optional<engine::PlanHover> hover = model.hoverAt(band.endFrame - 1);
            ASSERT_TRUE(hover.has_value());
            EXPECT_EQ(std::pair(hover->group, hover->choice), std::pair(band.endGroup - 1, band.choice));
            EXPECT_EQ(hover->groupBytes, job.state.planTable[band.endGroup - 1].fmBytes);
            EXPECT_EQ(hover->windowKbps < 0, band.choice == GroupChoice::Ending);
        }
        std::vector<GroupChoice> planned;
        for (const core::PlanRecord& record : job.state.planTable)
            planned.push_back(record.choice);
        EXPECT_EQ(banded, planned);
        EXPECT_EQ(frame, job.state.totalFrames);
        EXPECT_FALSE(model.hoverAt(frame).has_value());
        const auto byChoice = model.framesByChoice();
        EXPECT_EQ(byChoice[0] + byChoice[1] + byChoice[2] + byChoice[3], frame);
        EXPECT_EQ(model.mark().has_value(), film.framePos >= 0 || film.stop);
    }
    const engine::PlanViewModel ending =
        engine::PlanViewModel::fromJob(analysedJob({.framePos = 7210}), 123456789);
    EXPECT_NE(engine::summaryText(ending).find("Ending AVI 312 s (52%)"), std::string::npos)
        << engine::summaryText(ending);
    EXPECT_NE(engine::summaryText(ending).find("Final AVI 123.456.789 bytes"), std::string::npos);
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
    EXPECT_GE(fitted.topKbps, std::max<int64_t>(model.peakKbps(), model.limitKbps()));
    EXPECT_EQ(fitted.topKbps % fitted.stepKbps, 0);
    EXPECT_LE(fitted.topKbps / fitted.stepKbps, 6);
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
