#include "engine/planner.h"

#include "command_test_helpers.h"

#include <optional>

namespace {

using engine::CommandOutcome;
using engine_test::buildFilm;

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
    const std::string fm = buildFilm(dir, "fm", 1200, 25);
    const std::string ending = buildFilm(dir, "ending", 300, 25);
    const int64_t e = 12 * 3000 + 288 * 700;
    const std::string missing = dir + "/missing.avi";
    const std::string lateKey = buildFilm(dir, "late_key", 1200, 950);
    const std::string broken = buildFilm(dir, "broken", 1100, 25, 50);
    const std::string ntsc = buildFilm(dir, "ntsc", 1200, 300, -1, 30000, 1001);
    const std::string short12 = buildFilm(dir, "short", 240, 12);
    const std::string slow = buildFilm(dir, "slow", 240, 25, -1, 1, 2);
    const std::string scale0 = buildFilm(dir, "scale0", 240, 25, -1, 25, 0);
    const std::string wide = buildFilm(dir, "wide", 100, 25, -1, 25, 1, 41);
    namespace m = core::messages;
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
        core::Job job = engine_test::markedJob(c.fm, "", c.ending, c.framePos, c.stopAfter);
        test_support::RecordingUiPort ui;
        EXPECT_EQ(engine_test::runChecked(false, job, ui),
                  c.left.groups < 0 ? CommandOutcome::Ended : CommandOutcome::Completed);
        EXPECT_EQ(ui.messages, c.messages);
        expectLeft(job, c.left);
        if (!earlier)
            earlier = job; // the plain film, analysed
        // A failed run keeps the result of the earlier one.
        core::Job again = engine_test::markedJob(c.fm, "", c.ending, c.framePos, c.stopAfter);
        again.state = earlier->state;
        test_support::RecordingUiPort secondUi;
        (void)engine_test::runChecked(false, again, secondUi); // how it ends is checked above
        EXPECT_TRUE(c.left.groups >= 0 ||
                    (again.state.analysed && again.state.planTable == earlier->state.planTable &&
                     again.settings.lowMotionBitrateText == "old label"));
    }
}

} // namespace
