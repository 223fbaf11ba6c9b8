#include "engine/commands.h"
#include "profiles/stat_file.h"
#include "video/avi_reader.h"

#include "command_test_helpers.h"
#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using core::GroupChoice;
using core::MessageId;
using engine::CommandOutcome;
using engine_test::buildFilm;
using engine_test::buildGridFilm;
using engine_test::gridKeys;

// Values no Create produces, to tell which fields a run wrote.
core::Job markedJob()
{
    core::Job job = engine_test::openedJob();
    job.state.keyframeDistance = 777;
    job.state.totalFrames = 888;
    job.state.groupSeconds = 99;
    job.state.endingBytes = 123456789;
    job.state.finalBytes = 55;
    job.state.analysed = true;
    job.state.fastMotionFrames.setSize(3);
    job.state.lowMotionFrames.setSize(3);
    job.state.planTable.setSize(3);
    job.settings.lowMotionBitrateText = "old label";
    return job;
}

struct CreateRun {
    CommandOutcome outcome = CommandOutcome::Completed;
    test_support::RecordingUiPort ui;
};

void runCreate(core::Job& job, CreateRun& run)
{
    const int32_t filesBefore = engine_test::openFileCount();
    run.outcome = engine::runCreate(job, run.ui);
    EXPECT_EQ(engine_test::openFileCount(), filesBefore) << "a file stayed open";
    EXPECT_EQ(run.ui.busyCalls, 1);
    EXPECT_EQ(run.ui.busyDepth, 0);
    EXPECT_EQ(run.ui.progressOpen, 0);
    // Create never touches what only Analyze measures.
    EXPECT_TRUE(job.state.analysed);
    EXPECT_EQ(job.state.endingBytes, 123456789);
    EXPECT_EQ(job.settings.lowMotionBitrateText, "old label");
}

void expectTablesEmpty(const core::Job& job)
{
    EXPECT_EQ(job.state.planTable.count(), 0);
    EXPECT_EQ(job.state.fastMotionFrames.count(), 0);
    EXPECT_EQ(job.state.lowMotionFrames.count(), 0);
}

// An AVI opened with the project's reader, with its first video stream.
struct OpenedAvi {
    std::unique_ptr<video::AviReader> reader;
    int32_t stream = -1;
};

OpenedAvi openAvi(const std::string& path)
{
    OpenedAvi avi;
    video::AviOpenResult opened = video::AviReader::open(path);
    if (opened.status != video::AviStatus::Ok)
        return avi;
    avi.reader = std::move(opened.reader);
    for (int32_t s = 0; s < avi.reader->streamCount(); ++s) {
        if (avi.reader->streamInfo(s).fccType == core::kStreamTypeVideo) {
            avi.stream = s;
            break;
        }
    }
    return avi;
}

struct Sample {
    std::vector<uint8_t> bytes;
    bool key = false;
};

Sample readSample(OpenedAvi& avi, int32_t pos)
{
    int32_t size = 0;
    if (avi.reader->sampleSize(avi.stream, pos, size) != video::AviStatus::Ok)
        return {};
    Sample sample;
    sample.bytes.resize(static_cast<size_t>(size));
    int32_t got = 0;
    if (avi.reader->readSample(avi.stream, pos, sample.bytes, got) != video::AviStatus::Ok || got != size)
        return {};
    sample.key = avi.reader->findKeyAtOrBefore(avi.stream, pos) == pos;
    return sample;
}

struct Sources {
    std::string fm;
    std::string lm;
    std::string ending;
};

// Checks every frame of the Final AVI against the frame the plan names, with that source's key
// flag, using both the project's reader and ffprobe's packet list.
::testing::AssertionResult finalFollowsThePlan(const core::Job& job, const Sources& paths)
{
    OpenedAvi finalAvi = openAvi(job.settings.finalPath);
    OpenedAvi fm = openAvi(paths.fm);
    OpenedAvi lm = openAvi(paths.lm);
    OpenedAvi ending = paths.ending.empty() ? OpenedAvi{} : openAvi(paths.ending);
    if (!finalAvi.reader || finalAvi.stream < 0)
        return ::testing::AssertionFailure() << "the Final AVI does not open";
    const int32_t frames = finalAvi.reader->sampleCount(finalAvi.stream);
    if (frames != job.state.totalFrames)
        return ::testing::AssertionFailure() << frames << " frames instead of " << job.state.totalFrames;
    const std::vector<test_support::ProbePacket> packets = test_support::probePackets(job.settings.finalPath);
    if (packets.size() != static_cast<size_t>(frames))
        return ::testing::AssertionFailure()
               << "ffprobe lists " << packets.size() << " packets, not " << frames;
    const char* names[] = {"LM", "FM", "FM (smoothed)", "Ending"};
    for (int32_t i = 0; i < frames; ++i) {
        const GroupChoice choice = job.state.planTable[i / job.state.keyframeDistance].choice;
        OpenedAvi& source = choice == GroupChoice::Low ? lm : choice == GroupChoice::Ending ? ending : fm;
        const int32_t sourcePos = choice == GroupChoice::Ending ? i - job.settings.framePos : i;
        const Sample expected = readSample(source, sourcePos);
        const Sample actual = readSample(finalAvi, i);
        const char* name = names[static_cast<int>(choice)];
        if (expected.bytes.empty())
            return ::testing::AssertionFailure()
                   << "frame " << i << ": " << name << " has no frame " << sourcePos;
        if (actual.bytes != expected.bytes)
            return ::testing::AssertionFailure()
                   << "frame " << i << ": " << actual.bytes.size() << " bytes, not " << name << " frame "
                   << sourcePos << " of " << expected.bytes.size();
        if (actual.key != expected.key)
            return ::testing::AssertionFailure() << "frame " << i << ": key flag " << actual.key << " of "
                                                 << name << " frame " << sourcePos << " is " << expected.key;
        const test_support::ProbePacket packet = packets[static_cast<size_t>(i)];
        if (packet.key != expected.key || packet.size != static_cast<int64_t>(expected.bytes.size()))
            return ::testing::AssertionFailure()
                   << "ffprobe packet " << i << ": key " << packet.key << ", " << packet.size
                   << " bytes; expected " << name << " frame " << sourcePos;
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> linesOf(const std::string& path)
{
    const std::vector<uint8_t> bytes = test_support::readWholeFile(path);
    std::vector<std::string> lines;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string frameLine(int32_t index, const core::FrameRecord& record)
{
    char line[64];
    std::snprintf(line, sizeof line, "%6d%c - %d", index, record.isKey != 0 ? 'K' : ' ', record.size);
    return line;
}

// The statistics file's lines as the job's tables and totals give them.
std::vector<std::string> expectedStatLines(const core::Job& job)
{
    std::vector<std::string> lines = {"Kestrel - Ion Statistic file", "", "FM-AVI", ""};
    for (int32_t i = 0; i < job.state.fastMotionFrames.count(); ++i)
        lines.push_back(frameLine(i, job.state.fastMotionFrames[i]));
    lines.insert(lines.end(), {"", "", "LM-AVI", ""});
    for (int32_t i = 0; i < job.state.lowMotionFrames.count(); ++i)
        lines.push_back(frameLine(i, job.state.lowMotionFrames[i]));
    if (job.settings.endingEnabled) {
        lines.insert(lines.end(), {"", "",
                                   "VLB-AVI: pos=" + std::to_string(job.settings.framePos) +
                                       " size=" + std::to_string(job.state.endingBytes),
                                   ""});
    } else if (job.settings.stopAfterEnabled) {
        lines.insert(lines.end(), {"", "", "Stop after: " + std::to_string(job.settings.stopAfterFrames)});
    }
    lines.insert(lines.end(), {"", "", "Final AVI-size: " + std::to_string(job.state.finalBytes)});
    return lines;
}

int64_t sampleBytesOf(const std::string& path)
{
    OpenedAvi avi = openAvi(path);
    int64_t total = 0;
    for (int32_t i = 0; i < avi.reader->sampleCount(avi.stream); ++i) {
        int32_t size = 0;
        EXPECT_EQ(avi.reader->sampleSize(avi.stream, i, size), video::AviStatus::Ok);
        total += size;
    }
    return total;
}

TEST(Create, BuildsTheFinalAviFromGeneratedMedia)
{
    test_support::MediaSpec endingSpec;
    endingSpec.frames = 300;
    endingSpec.quantizer = 31;
    const Sources paths{test_support::fastMotionAvi(1000, 25), test_support::lowMotionAvi(1000, 25),
                        test_support::mediaFile(endingSpec)};
    struct Case {
        const char* name;
        bool ending;
        bool stop;
        int32_t totalFrames;
        int32_t fmRecords;
    };
    const Case cases[] = {
        {"plain", false, false, 1000, 1000},
        {"ending", true, false, 1200, 900},
        {"stop", false, true, 500, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_support::freshTempDir(std::string("create_media_") + c.name);
        core::Job job = markedJob();
        job.settings.fastMotionPath = paths.fm;
        job.settings.lowMotionPath = paths.lm;
        job.settings.endingPath = paths.ending;
        job.settings.finalPath = dir + "/final.avi";
        job.settings.endingEnabled = c.ending;
        job.settings.framePos = 900;
        job.settings.stopAfterEnabled = c.stop;
        job.settings.stopAfterFrames = 500;
        job.settings.writeStatisticFile = true;
        // A limit between the busy and the still scenes' bitrates, so both sources are used.
        job.settings.highBitrateLimit = 300;
        CreateRun run;
        runCreate(job, run);
        ASSERT_EQ(run.outcome, CommandOutcome::Completed);
        EXPECT_TRUE(run.ui.messages.empty());
        EXPECT_TRUE(run.ui.questions.empty());
        EXPECT_EQ(job.state.totalFrames, c.totalFrames);
        EXPECT_EQ(job.state.fastMotionInfo.dwLength, static_cast<uint32_t>(c.fmRecords));
        EXPECT_EQ(job.state.fastMotionFrames.count(), c.fmRecords);
        EXPECT_EQ(job.state.lowMotionFrames.count(), 1000);
        EXPECT_EQ(job.state.keyframeDistance, 25);
        EXPECT_EQ(job.state.groupSeconds, 1);
        ASSERT_EQ(job.state.planTable.count(), c.totalFrames / 25);
        bool usesLm = false;
        bool usesFm = false;
        for (const core::PlanRecord& record : job.state.planTable) {
            usesLm = usesLm || record.choice == GroupChoice::Low;
            usesFm = usesFm || record.choice == GroupChoice::High;
        }
        EXPECT_TRUE(usesLm && usesFm) << "the plan should mix both sources";

        EXPECT_TRUE(finalFollowsThePlan(job, paths));
        EXPECT_EQ(test_support::decodeErrors(job.settings.finalPath), "");
        EXPECT_EQ(job.state.finalBytes, sampleBytesOf(job.settings.finalPath));
        EXPECT_EQ(linesOf(dir + "/stat.txt"), expectedStatLines(job));
    }
}

TEST(Create, StatisticsFileListsTheTablesAndIsReplaced)
{
    const std::string dir = test_support::freshTempDir("create_stat");
    core::Job job = markedJob();
    job.settings.fastMotionPath = buildGridFilm(dir, "fm", 100, 25);
    job.settings.lowMotionPath = buildGridFilm(dir, "lm", 100, 25);
    job.settings.finalPath = dir + "/final.avi";
    job.settings.writeStatisticFile = true;
    CreateRun first;
    runCreate(job, first);
    ASSERT_EQ(first.outcome, CommandOutcome::Completed);
    const std::vector<test_support::BuiltFrame> frames = engine_test::framesWithKeys(100, gridKeys(100, 25));
    std::vector<std::string> lines = linesOf(dir + "/stat.txt");
    ASSERT_EQ(lines.size(), 4u + 100 + 4 + 100 + 3);
    EXPECT_EQ(lines[0], "Kestrel - Ion Statistic file");
    EXPECT_EQ(lines[2], "FM-AVI");
    EXPECT_EQ(lines[4], "     0K - " + std::to_string(frames[0].size));
    EXPECT_EQ(lines[5], "     1  - " + std::to_string(frames[1].size));
    EXPECT_EQ(lines[29], "    25K - " + std::to_string(frames[25].size));
    EXPECT_EQ(lines[106], "LM-AVI");
    EXPECT_EQ(lines[108], "     0K - " + std::to_string(frames[0].size));
    EXPECT_EQ(lines.back(), "Final AVI-size: " + std::to_string(job.state.finalBytes));
    EXPECT_EQ(job.state.finalBytes, sampleBytesOf(job.settings.finalPath));

    job.settings.stopAfterEnabled = true;
    job.settings.stopAfterFrames = 50;
    CreateRun second;
    runCreate(job, second);
    ASSERT_EQ(second.outcome, CommandOutcome::Completed);
    lines = linesOf(dir + "/stat.txt");
    EXPECT_EQ(lines, expectedStatLines(job));
    ASSERT_EQ(lines.size(), 4u + 50 + 4 + 100 + 3 + 3);
    EXPECT_EQ(lines[lines.size() - 4], "Stop after: 50");
}

TEST(Create, AsksWhenTheFrameCountsDiffer)
{
    const std::string dir = test_support::freshTempDir("create_question");
    const std::string fm = buildGridFilm(dir, "fm", 1000, 25);
    const std::string lm = buildGridFilm(dir, "lm", 1002, 25);
    for (bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        core::Job job = markedJob();
        job.settings.fastMotionPath = fm;
        job.settings.lowMotionPath = lm;
        job.settings.finalPath = dir + (yes ? "/yes.avi" : "/no.avi");
        CreateRun run;
        run.ui.answers = {yes};
        runCreate(job, run);
        EXPECT_EQ(run.ui.questions,
                  (std::vector<core::Question>{core::messages::differentTotalFrames(1002, 1000)}));
        EXPECT_TRUE(run.ui.messages.empty());
        EXPECT_EQ(job.state.fastMotionInfo.dwLength, 1000u);
        if (yes) {
            EXPECT_EQ(run.outcome, CommandOutcome::Completed);
            EXPECT_EQ(job.state.totalFrames, 1000);
            EXPECT_EQ(job.state.fastMotionFrames.count(), 1000);
            EXPECT_EQ(job.state.lowMotionFrames.count(), 1000);
            EXPECT_TRUE(finalFollowsThePlan(job, {fm, lm, ""}));
        } else {
            EXPECT_EQ(run.outcome, CommandOutcome::Ended);
            expectTablesEmpty(job);
            EXPECT_EQ(job.state.totalFrames, 888);
            EXPECT_FALSE(fs::exists(job.settings.finalPath));
        }
    }
}

TEST(Create, RefusesSourcesTooShortForTheFilm)
{
    const std::string dir = test_support::freshTempDir("create_short");
    const std::string fm1000 = buildGridFilm(dir, "fm1000", 1000, 25);
    const std::string lm998 = buildGridFilm(dir, "lm998", 998, 25);
    const std::string lm1200 = buildGridFilm(dir, "lm1200", 1200, 25);
    const std::string ending = buildGridFilm(dir, "ending", 100, 25);
    struct Case {
        const char* name;
        std::string lm;
        bool ending;
        bool stop;
        int32_t frames; // framePos or stopAfterFrames
        core::Message message;
    };
    const Case cases[] = {
        {"plain, LM shorter", lm998, false, false, 0, core::messages::lmTooShort(1000)},
        {"ending, both too short", fm1000, true, false, 1100, core::messages::lmTooShort(1100)},
        {"ending, FM too short", lm1200, true, false, 1100, core::messages::fmTooShort(1100)},
        {"ending, negative position", fm1000, true, false, -5, core::messages::lmTooShort(-5)},
        {"stop, both too short", fm1000, false, true, 1100, core::messages::lmTooShort(1100)},
        {"stop, FM too short", lm1200, false, true, 1100, core::messages::fmTooShort(1100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = markedJob();
        job.settings.fastMotionPath = fm1000;
        job.settings.lowMotionPath = c.lm;
        job.settings.endingPath = ending;
        job.settings.finalPath = dir + "/final.avi";
        job.settings.endingEnabled = c.ending;
        job.settings.stopAfterEnabled = c.stop;
        job.settings.framePos = c.ending ? c.frames : 0;
        job.settings.stopAfterFrames = c.stop ? c.frames : 0;
        CreateRun run;
        run.ui.answers = {true};
        runCreate(job, run);
        EXPECT_EQ(run.outcome, CommandOutcome::Ended);
        EXPECT_EQ(run.ui.messages, (std::vector<core::Message>{c.message}));
        expectTablesEmpty(job);
        EXPECT_EQ(job.state.fastMotionInfo.dwLength, 1000u) << "the FM record as read";
        EXPECT_FALSE(fs::exists(job.settings.finalPath));
    }
}

TEST(Create, ChecksKeyframeDistancesAndLayouts)
{
    const std::string dir = test_support::freshTempDir("create_layout");
    const auto keysWithout = [](int32_t count, int32_t distance, int32_t missing) {
        std::vector<int32_t> keys = gridKeys(count, distance);
        std::erase(keys, missing);
        return keys;
    };
    const std::string grid = buildGridFilm(dir, "grid", 1000, 25);
    const std::string every12 = buildGridFilm(dir, "every12", 1000, 12);
    const std::string every24 = buildGridFilm(dir, "every24", 1000, 24);
    const std::string fmBreak100 = buildFilm(dir, "fm_break100", 1000, keysWithout(1000, 25, 100));
    const std::string fmBreak600 = buildFilm(dir, "fm_break600", 1000, keysWithout(1000, 25, 600));
    const std::string lmBreak50 = buildFilm(dir, "lm_break50", 1000, keysWithout(1000, 25, 50));
    const std::string lmBreak700 = buildFilm(dir, "lm_break700", 1000, keysWithout(1000, 25, 700));
    const std::string ending = buildGridFilm(dir, "ending", 100, 25);
    struct Case {
        const char* name;
        std::string fm;
        std::string lm;
        bool ending;
        bool stop;
        int32_t framePos;
        std::vector<core::Message> messages;
    };
    const Case cases[] = {
        {"different distances",
         every12,
         every24,
         false,
         false,
         0,
         {core::messages::differentKeyframeDistances()}},
        {"LM break past the stop point",
         grid,
         lmBreak700,
         false,
         true,
         800,
         {core::messages::keyframeInconsistency(700)}},
        {"LM break at framePos 0", grid, lmBreak700, false, true, 0, {}},
        {"FM break is found first",
         fmBreak100,
         lmBreak50,
         false,
         false,
         800,
         {core::messages::keyframeInconsistency(100)}},
        {"FM break above framePos hides the LM check", fmBreak600, lmBreak50, false, false, 500, {}},
        {"ending on", fmBreak100, lmBreak50, true, false, 900, {}},
        {"groups shorter than a second",
         every12,
         every12,
         false,
         false,
         0,
         {core::messages::keyframeDistanceTooShort(12, 25)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = markedJob();
        job.settings.fastMotionPath = c.fm;
        job.settings.lowMotionPath = c.lm;
        job.settings.endingPath = ending;
        job.settings.finalPath = dir + "/final.avi";
        fs::remove(job.settings.finalPath);
        job.settings.endingEnabled = c.ending;
        job.settings.stopAfterEnabled = c.stop;
        job.settings.stopAfterFrames = 500;
        job.settings.framePos = c.framePos;
        CreateRun run;
        runCreate(job, run);
        EXPECT_EQ(run.ui.messages, c.messages);
        // The LM table always holds every LM frame: the layout check covers it to its end.
        EXPECT_EQ(job.state.lowMotionFrames.count(), 1000);
        EXPECT_EQ(job.state.fastMotionFrames.count(), c.ending ? c.framePos : c.stop ? 500 : 1000);
        if (c.messages.empty()) {
            EXPECT_EQ(run.outcome, CommandOutcome::Completed);
            EXPECT_TRUE(fs::exists(job.settings.finalPath));
            EXPECT_EQ(job.state.keyframeDistance, 25);
            continue;
        }
        EXPECT_EQ(run.outcome, CommandOutcome::Ended);
        EXPECT_EQ(job.state.planTable.count(), 0);
        EXPECT_EQ(job.state.groupSeconds, 99);
        EXPECT_FALSE(fs::exists(job.settings.finalPath));
        if (c.messages[0].id == MessageId::DifferentKeyframeDistances)
            EXPECT_EQ(job.state.keyframeDistance, 777);
        else
            EXPECT_NE(job.state.keyframeDistance, 777);
    }
}

TEST(Create, EndingCaseReadsOnlyTheFmPart)
{
    const std::string dir = test_support::freshTempDir("create_ending");
    const Sources paths{buildGridFilm(dir, "fm", 1000, 25), buildGridFilm(dir, "lm", 1000, 25),
                        buildFilm(dir, "ending", 300, gridKeys(300, 30))};
    core::Job job = markedJob();
    job.settings.fastMotionPath = paths.fm;
    job.settings.lowMotionPath = paths.lm;
    job.settings.endingPath = paths.ending;
    job.settings.finalPath = dir + "/final.avi";
    job.settings.endingEnabled = true;
    job.settings.framePos = 910; // inside group 36: that group already comes from the Ending AVI
    CreateRun run;
    runCreate(job, run);
    ASSERT_EQ(run.outcome, CommandOutcome::Completed);
    EXPECT_EQ(job.state.fastMotionInfo.dwLength, 910u);
    EXPECT_EQ(job.state.totalFrames, 1210);
    EXPECT_EQ(job.state.fastMotionFrames.count(), 910);
    EXPECT_EQ(job.state.lowMotionFrames.count(), 1000);
    ASSERT_EQ(job.state.planTable.count(), 49);
    EXPECT_NE(job.state.planTable[35].choice, GroupChoice::Ending);
    EXPECT_EQ(job.state.planTable[36].choice, GroupChoice::Ending);
    // Frames 900 to 909 would come from Ending positions below 0: they are not in the Final AVI.
    OpenedAvi finalAvi = openAvi(job.settings.finalPath);
    ASSERT_TRUE(finalAvi.reader);
    EXPECT_EQ(finalAvi.reader->sampleCount(finalAvi.stream), 1200);
}

TEST(Create, AbortedCopyWritesNoStatisticsFile)
{
    const std::string dir = test_support::freshTempDir("create_abort");
    const std::string fm = buildGridFilm(dir, "fm", 1000, 25);
    const std::string lm = buildGridFilm(dir, "lm", 1000, 25);
    struct Case {
        const char* name;
        int32_t abortAtPump;
        int32_t framesWritten;
    };
    const Case cases[] = {{"before the first group", 0, 0}, {"at group 30", 1, 750}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir + "/stat.txt");
        core::Job job = markedJob();
        job.settings.fastMotionPath = fm;
        job.settings.lowMotionPath = lm;
        job.settings.finalPath = dir + "/final.avi";
        job.settings.writeStatisticFile = true;
        CreateRun run;
        run.ui.abortAtPump = c.abortAtPump;
        runCreate(job, run);
        EXPECT_EQ(run.outcome, CommandOutcome::Ended);
        EXPECT_TRUE(run.ui.messages.empty());
        EXPECT_FALSE(fs::exists(dir + "/stat.txt"));
        // The Final AVI stays a complete file with what was copied.
        EXPECT_EQ(test_support::probePackets(job.settings.finalPath).size(),
                  static_cast<size_t>(c.framesWritten));
    }
}

TEST(Create, ReportsAFinalAviItCannotCreate)
{
    const std::string dir = test_support::freshTempDir("create_no_folder");
    core::Job job = markedJob();
    job.settings.fastMotionPath = buildGridFilm(dir, "fm", 100, 25);
    job.settings.lowMotionPath = buildGridFilm(dir, "lm", 100, 25);
    job.settings.finalPath = dir + "/missing/final.avi";
    job.settings.writeStatisticFile = true;
    CreateRun run;
    runCreate(job, run);
    EXPECT_EQ(run.outcome, CommandOutcome::Ended);
    EXPECT_EQ(run.ui.messages, (std::vector<core::Message>{core::messages::finalOpenFailed()}));
    EXPECT_FALSE(fs::exists(dir + "/missing"));
}

TEST(Create, ReportsAStatisticsFileItCannotWrite)
{
    const std::string dir = test_support::freshTempDir("create_stat_fail");
    fs::create_directory(dir + "/stat.txt"); // a folder where the file should go
    core::Job job = markedJob();
    job.settings.fastMotionPath = buildGridFilm(dir, "fm", 100, 25);
    job.settings.lowMotionPath = buildGridFilm(dir, "lm", 100, 25);
    job.settings.finalPath = dir + "/final.avi";
    job.settings.writeStatisticFile = true;
    CreateRun run;
    runCreate(job, run);
    EXPECT_EQ(run.outcome, CommandOutcome::Ended);
    EXPECT_EQ(run.ui.messages,
              (std::vector<core::Message>{core::messages::statFileCreateFailed(dir + "/stat.txt")}));
    EXPECT_EQ(test_support::probePackets(job.settings.finalPath).size(), 100u);
}

TEST(Create, LeavesTheJobAsFarAsItGot)
{
    const std::string dir = test_support::freshTempDir("create_failures");
    const std::string good = buildGridFilm(dir, "good", 100, 25);
    const std::string wide = buildFilm(dir, "wide", 100, gridKeys(100, 25), 25, 1, 41);
    const std::string missing = dir + "/missing.avi";
    struct Case {
        const char* name;
        std::string fm;
        std::string lm;
        std::string ending;
        core::Message message;
        bool infoRead;
    };
    const Case cases[] = {
        {"FM missing", missing, good, good, core::messages::couldNotOpenAvi(missing), false},
        {"FM format too large", wide, good, good, core::messages::formatTooLarge(), false},
        {"LM missing", good, missing, good, core::messages::couldNotOpenAvi(missing), true},
        {"LM format too large", good, wide, good, core::messages::formatTooLarge(), true},
        {"Ending missing", good, good, missing, core::messages::couldNotOpenAvi(missing), true},
        {"Ending format too large", good, good, wide, core::messages::formatTooLarge(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job = markedJob();
        job.settings.fastMotionPath = c.fm;
        job.settings.lowMotionPath = c.lm;
        job.settings.endingPath = c.ending;
        job.settings.endingEnabled = true;
        job.settings.framePos = 50;
        job.settings.finalPath = dir + "/final.avi";
        CreateRun run;
        runCreate(job, run);
        EXPECT_EQ(run.outcome, CommandOutcome::Ended);
        EXPECT_EQ(run.ui.messages, (std::vector<core::Message>{c.message}));
        expectTablesEmpty(job);
        EXPECT_EQ(job.state.fastMotionInfo.dwLength, c.infoRead ? 100u : 0u);
        EXPECT_EQ(job.state.totalFrames, 888);
        EXPECT_EQ(job.state.keyframeDistance, 777);
        EXPECT_EQ(job.state.finalBytes, 55);
        EXPECT_FALSE(fs::exists(job.settings.finalPath));
    }
}

} // namespace
