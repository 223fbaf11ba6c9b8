#include "engine/exact_size.h"
#include "engine/planner.h"
#include "engine/quiet_ui_port.h"
#include "engine/verify.h"
#include "output/final_avi.h"

#include "command_test_helpers.h"

#include <fstream>

namespace {

namespace fs = std::filesystem;
using engine::CommandOutcome;

// Writes dir/name.avi: count frames, a key frame every 25, each frame about base bytes (four times
// that in busy groups, three times for key frames), odd and even sizes; busy groups follow the
// same scenes in every film.
std::string film(const std::string& dir, const std::string& name, int32_t count, int32_t base,
                 const std::string& streamName = "")
{
    std::vector<test_support::BuiltFrame> frames;
    uint32_t noise = 17;
    for (int32_t i = 0; i < count; ++i) {
        noise = noise * 1103515245u + 12345u;
        const bool busy = (i / 25) % 7 < 3 || (i / 25) % 11 == 5;
        const int32_t size =
            (busy ? 4 : 1) * base + static_cast<int32_t>((noise >> 8) % static_cast<uint32_t>(base));
        frames.push_back({i % 25 == 0 ? 3 * size : size, i % 25 == 0});
    }
    const std::string path = dir + "/" + name + ".avi";
    // A codec whose made-up packets ffprobe takes as they are.
    test_support::buildAvi(path, {.frames = frames, .compression = core::fourcc("cvid"), .name = streamName});
    return path;
}

core::Job jobFor(const std::string& fm, const std::string& lm, const std::string& ending, int32_t framePos,
                 int32_t stopAfter, const std::string& finalPath)
{
    core::Job job = engine_test::markedJob(fm, lm, ending, framePos, stopAfter);
    job.settings.finalPath = finalPath;
    job.settings.highBitrateLimit = 300; // between the still and the busy groups
    return job;
}

// The prediction equals the file Create writes, on every layout; verify finds each one as planned.
TEST(ExactSize, EqualsTheWrittenFileForEveryLayout)
{
    const std::string dir = test_support::freshTempDir("exact_size");
    const std::string fm = film(dir, "fm", 1000, 900, "FM"), lm = film(dir, "lm", 1000, 250);
    const std::string fm990 = film(dir, "fm990", 990, 900), lm1002 = film(dir, "lm1002", 1002, 250);
    const std::string ending = film(dir, "ending", 100, 100);
    struct Case {
        const char* name;
        std::string fm, lm, ending;
        int32_t framePos, stopAfter;
        int64_t partBytes = 1000LL * 1000 * 1000;
        int32_t parts = 256;
    };
    const Case cases[] = {
        {"plain, named stream", fm, lm, "", 0, 0},
        {"LM longer: the last group takes LM frames past FM's end", fm990, lm1002, "", 0, 0},
        {"ending from inside a group", fm, lm, ending, 910, 0},
        {"stop inside a group: its frames up to the group's end", fm, lm, "", 0, 510},
        {"OpenDML parts", fm, lm, "", 0, 0, 300'000},
        {"OpenDML, super index full", fm, lm, ending, 910, 0, 300'000, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = jobFor(c.fm, c.lm, c.ending, c.framePos, c.stopAfter, dir + "/final.avi");
        const engine::CreateOptions options{{.partBytes = c.partBytes, .superIndexEntries = c.parts}};
        engine::SourceTableCache cache;
        engine::QuietUiPort quiet;
        const std::optional<engine::FinalSize> size =
            engine::predictFinalSize(job.settings, cache, quiet, options.writerOptions);
        EXPECT_EQ(engine::predictFinalSize(job.settings, cache, quiet, options.writerOptions)->fileBytes,
                  size->fileBytes);
        EXPECT_EQ(cache.tablesRead(), c.ending.empty() ? 2 : 3) << "each table is read once";
        test_support::RecordingUiPort ui;
        ui.answers = {true};
        ASSERT_EQ(engine::runCreate(job, ui, options), CommandOutcome::Completed);
        ASSERT_TRUE(size);
        EXPECT_EQ(size->fileBytes, static_cast<int64_t>(fs::file_size(job.settings.finalPath)));
        EXPECT_EQ(size->plannedSampleBytes, job.state.finalBytes);
        EXPECT_EQ(static_cast<size_t>(size->frames),
                  test_support::probePackets(job.settings.finalPath).size());
        ui.answers = {true};
        EXPECT_EQ(engine::verifyFinalAvi(job.settings, ui).message(),
                  core::messages::finalAviVerified(size->frames));
    }
}

// Fit weighs every limit: its answer is what trying each limit from 0 up finds.
TEST(Fit, FindsWhatTryingEveryLimitFinds)
{
    const std::string dir = test_support::freshTempDir("fit");
    const std::string fm = film(dir, "fm", 1500, 2500), lm = film(dir, "lm", 1500, 400);
    constexpr int32_t kAboveEveryGroup = 5000;
    struct Case {
        const char* name;
        bool smoother;
        int32_t runLimits, sizeMB, audioKbps;
    };
    const Case cases[] = {{"smoother on", true, 1, 6, 0},
                          {"smoother off", false, 1, 6, 0},
                          {"runs of 2", true, 2, 4, 48},
                          {"runs of 3, large", true, 3, 9, 128},
                          {"nothing fits", true, 1, 2, 128}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = jobFor(fm, lm, "", 0, 0, "");
        job.settings.sceneSwitchingSmoother = c.smoother;
        job.settings.highRunMinGroups = job.settings.lowRunMaxGroups = c.runLimits;
        job.settings.finalSizeMB = c.sizeMB;
        job.settings.audioKbps = c.audioKbps;
        engine::SourceTableCache cache;
        engine::QuietUiPort quiet;
        std::optional<std::pair<int64_t, int32_t>> best; // bytes and limit
        engine::FinalSize allLow;
        for (int32_t limit = 0; limit <= kAboveEveryGroup; ++limit) {
            job.settings.highBitrateLimit = limit;
            const engine::FinalSize size = *engine::predictFinalSize(job.settings, cache, quiet);
            const int64_t bytes = size.plannedSampleBytes + size.audioReserveBytes;
            if (bytes <= engine::targetBytes(job.settings) && (!best || bytes > best->first))
                best = {bytes, limit};
            allLow = size;
        }
        test_support::RecordingUiPort ui;
        const engine::FitResult fit = engine::fitLimit(job.settings, cache, ui);
        if (!best) {
            EXPECT_EQ(fit.status, engine::FitStatus::NothingFits);
            EXPECT_EQ(ui.messages, std::vector{core::messages::nothingFits(
                                       allLow.plannedSampleBytes + allLow.audioReserveBytes,
                                       engine::targetBytes(job.settings))});
            continue;
        }
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(std::pair(fit.size.plannedSampleBytes + fit.size.audioReserveBytes, fit.limit), *best);
        job.settings.highBitrateLimit = fit.limit;
        EXPECT_EQ(engine::predictFinalSize(job.settings, cache, quiet)->fileBytes, fit.size.fileBytes);
    }
    EXPECT_EQ(core::messages::nothingFits(851'834'470, 730'857'472).text,
              "Even all Low Motion groups need 812.4 MB; the target holds 697.0 MB.");
}

// Verify names the first differences of a Final AVI that is not what its plan makes.
TEST(Verify, NamesWhatDiffersFromThePlan)
{
    const std::string dir = test_support::freshTempDir("verify");
    const std::string fm = film(dir, "fm", 1000, 900), lm = film(dir, "lm", 1000, 250);
    using Kind = core::FinalDifference::Kind;
    struct Case {
        const char* name;
        engine::VerifyStatus status;
        int64_t count; // differences
        core::FinalDifference first = {};
    };
    const Case cases[] = {
        {"one flipped byte", engine::VerifyStatus::Differs, 1, {Kind::Bytes, 130, 5}},
        {"a group from the other source", engine::VerifyStatus::Differs, 25, {Kind::Size, 100, 4}},
        {"cut short", engine::VerifyStatus::Differs, 0},
        {"aborted", engine::VerifyStatus::Aborted, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        core::Job job = jobFor(fm, lm, "", 0, 0, dir + "/final.avi");
        test_support::RecordingUiPort ui;
        ui.abortAtPump = name == "cut short" ? 1 : -1;
        (void)engine::runCreate(job, ui); // an aborted Create ends, leaving the groups copied
        core::FinalDifference first = c.first;
        std::optional<video::Source> sources[] = {video::openVideoStream(lm, ui),
                                                  video::openVideoStream(fm, ui)};
        int32_t found = 0, planned = 0;
        if (name == "one flipped byte") {
            std::optional<video::Source> finalAvi = video::openVideoStream(job.settings.finalPath, ui);
            (void)finalAvi->sampleSize(130, found);
            planned = found;
            std::fstream file(job.settings.finalPath, std::ios::in | std::ios::out | std::ios::binary);
            file.seekg(finalAvi->sampleLocation(130).offset + 7);
            const auto byte = static_cast<char>(file.get());
            file.seekp(finalAvi->sampleLocation(130).offset + 7);
            file.put(static_cast<char>(~byte));
        } else if (name == "a group from the other source") {
            core::PlanTable plan = job.state.planTable;
            ASSERT_EQ(plan[4].choice, core::GroupChoice::Low);
            plan[4].choice = core::GroupChoice::High;
            int64_t bytes = 0;
            ASSERT_EQ(output::writeFinalAvi(&*sources[1], &*sources[0], nullptr, plan,
                                            {25, 0, 1, job.settings.finalPath, {}}, bytes, ui),
                      1);
            (void)sources[1]->sampleSize(100, found);
            (void)sources[0]->sampleSize(100, planned);
        }
        first.found = found;
        first.planned = planned;
        ui.abortAtPump = name == "aborted" ? 0 : -1;
        ui.pumps = 0;
        const engine::VerifyReport report = engine::verifyFinalAvi(job.settings, ui);
        EXPECT_EQ(report.status, c.status);
        EXPECT_EQ(report.differenceCount, c.count);
        EXPECT_EQ(report.differences.size(), std::min<size_t>(static_cast<size_t>(c.count), 20));
        EXPECT_TRUE(c.count == 0 || report.differences.front() == first);
        EXPECT_EQ(report.finalFrames, name == "cut short" ? 750 : 1000);
        EXPECT_TRUE(name != "cut short" ||
                    report.message().text == "Final AVI cut short: it holds 750 of 1000 planned frames");
    }
}

} // namespace
