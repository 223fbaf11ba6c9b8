#include "output/final_avi.h"

#include "avi_builder.h"
#include "core/messages.h"
#include "media.h"
#include "recording_ui_port.h"
#include "video/avi_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

using core::GroupChoice;
using core::MessageId;
using test_support::BuiltFrame;
using test_support::ProgressEvent;
using test_support::RecordingUiPort;

core::PlanTable makePlan(const std::vector<int32_t>& choices)
{
    core::PlanTable plan;
    plan.setSize(static_cast<int32_t>(choices.size()));
    for (int32_t g = 0; g < plan.count(); ++g)
        plan[g].choice = static_cast<GroupChoice>(choices[static_cast<size_t>(g)]);
    return plan;
}

video::Source openSource(const std::string& path)
{
    RecordingUiPort ui;
    std::optional<video::Source> source = video::openVideoStream(path, ui);
    if (!source)
        throw std::runtime_error("cannot open " + path);
    return std::move(*source);
}

std::string buildSource(const std::string& dir, const std::string& name,
                        const test_support::AviBuildSpec& layout)
{
    const std::string path = dir + "/" + name;
    test_support::buildAvi(path, layout);
    return path;
}

test_support::AviBuildSpec gridLayout(int32_t frames, int32_t distance, int32_t keySize, int32_t deltaSize)
{
    test_support::AviBuildSpec layout;
    layout.frames = test_support::gridFrames(frames, distance, keySize, deltaSize);
    // A codec ffprobe does not parse, so it lists the index's key flags, not its guesses from the
    // made-up sample bytes.
    layout.compression = core::fourcc("cvid");
    return layout;
}

// The three sources of one run; ending may be absent.
struct Sources {
    video::Source* fm = nullptr;
    video::Source* lm = nullptr;
    video::Source* ending = nullptr;
};

// One frame the Final AVI should hold: where it comes from.
struct PlannedFrame {
    video::Source* source = nullptr;
    int32_t index = 0;
};

// Where group g of the plan is copied from, as the choice table of the Create command says.
video::Source* plannedSource(GroupChoice choice, const Sources& s)
{
    switch (choice) {
    case GroupChoice::Low:
        return s.lm;
    case GroupChoice::Ending:
        return s.ending;
    default:
        return s.fm;
    }
}

// The frames of group g that its source really has, in order.
std::vector<PlannedFrame> groupFrames(const core::PlanTable& plan, int32_t g,
                                      const output::FinalAviRequest& request, const Sources& s)
{
    std::vector<PlannedFrame> frames;
    const GroupChoice choice = plan[g].choice;
    video::Source* source = plannedSource(choice, s);
    const int32_t first = g * request.framesPerGroup - (choice == GroupChoice::Ending ? request.framePos : 0);
    for (int32_t k = 0; k < request.framesPerGroup; ++k) {
        const int32_t index = first + k;
        if (source != nullptr && index >= 0 && index < source->sampleCount())
            frames.push_back({source, index});
    }
    return frames;
}

// The frames of the first groupsCopied groups, in order.
std::vector<PlannedFrame> plannedFrames(const core::PlanTable& plan, int32_t groupsCopied,
                                        const output::FinalAviRequest& request, const Sources& s)
{
    std::vector<PlannedFrame> frames;
    for (int32_t g = 0; g < groupsCopied; ++g) {
        const std::vector<PlannedFrame> group = groupFrames(plan, g, request, s);
        frames.insert(frames.end(), group.begin(), group.end());
    }
    return frames;
}

int32_t sampleBytes(video::Source& source, int32_t index)
{
    int32_t bytes = 0;
    EXPECT_EQ(source.sampleSize(index, bytes), video::AviStatus::Ok);
    return bytes;
}

// Totals of the first groups groups, as the progress display should show them: seconds and
// bytes of low (0) and high (1) groups, and the bytes of every group.
core::ProgressStatistics plannedStatistics(const core::PlanTable& plan, int32_t groups,
                                           const output::FinalAviRequest& request, const Sources& s)
{
    core::ProgressStatistics totals;
    for (int32_t g = 0; g < groups; ++g) {
        const GroupChoice choice = plan[g].choice;
        int64_t bytes = 0;
        for (const PlannedFrame& frame : groupFrames(plan, g, request, s))
            bytes += sampleBytes(*frame.source, frame.index);
        if (choice == GroupChoice::Low) {
            totals.lmSeconds += request.groupSeconds;
            totals.lmBytes += bytes;
        }
        if (choice == GroupChoice::High) {
            totals.fmSeconds += request.groupSeconds;
            totals.fmBytes += bytes;
        }
        totals.totalBytes += bytes;
    }
    return totals;
}

// Checks every sample of the Final AVI against the planned source frame: bytes and key flag with
// the own reader, sizes and key flags with ffprobe.
::testing::AssertionResult holdsPlannedFrames(const std::string& finalPath,
                                              const std::vector<PlannedFrame>& planned)
{
    video::AviOpenResult opened = video::AviReader::open(finalPath);
    if (opened.status != video::AviStatus::Ok)
        return ::testing::AssertionFailure() << "the Final AVI does not open: " << opened.errorText;
    video::AviReader& reader = *opened.reader;
    if (reader.sampleCount(0) != static_cast<int32_t>(planned.size()))
        return ::testing::AssertionFailure()
               << reader.sampleCount(0) << " frames, planned " << planned.size();
    std::vector<uint8_t> expected(4 << 20);
    std::vector<uint8_t> actual(4 << 20);
    for (int32_t i = 0; i < reader.sampleCount(0); ++i) {
        const PlannedFrame& p = planned[static_cast<size_t>(i)];
        int32_t expectedBytes = 0;
        int32_t actualBytes = 0;
        if (p.source->readSample(p.index, expected, expectedBytes) != video::AviStatus::Ok)
            return ::testing::AssertionFailure() << "source frame " << p.index << " unreadable";
        if (reader.readSample(0, i, actual, actualBytes) != video::AviStatus::Ok)
            return ::testing::AssertionFailure() << "frame " << i << " unreadable";
        if (actualBytes != expectedBytes ||
            !std::equal(actual.begin(), actual.begin() + actualBytes, expected.begin()))
            return ::testing::AssertionFailure()
                   << "frame " << i << ": " << actualBytes << " bytes differ from source frame " << p.index
                   << " (" << expectedBytes << " bytes)";
        const bool sourceKey = p.source->findKeyAtOrBefore(p.index) == p.index;
        const bool finalKey = reader.findKeyAtOrBefore(0, i) == i;
        if (sourceKey != finalKey)
            return ::testing::AssertionFailure()
                   << "frame " << i << ": key flag " << finalKey << ", source " << sourceKey;
    }
    const std::vector<test_support::ProbePacket> packets = test_support::probePackets(finalPath);
    if (packets.size() != planned.size())
        return ::testing::AssertionFailure()
               << "ffprobe lists " << packets.size() << " packets, planned " << planned.size();
    for (size_t i = 0; i < packets.size(); ++i) {
        const PlannedFrame& p = planned[i];
        const test_support::ProbePacket wanted{p.source->findKeyAtOrBefore(p.index) == p.index,
                                               sampleBytes(*p.source, p.index)};
        if (packets[i] != wanted)
            return ::testing::AssertionFailure()
                   << "ffprobe packet " << i << ": " << packets[i].size << " bytes key " << packets[i].key
                   << ", planned " << wanted.size << " key " << wanted.key;
    }
    return ::testing::AssertionSuccess();
}

std::vector<core::ProgressStatistics> shownStatistics(const RecordingUiPort& ui)
{
    std::vector<core::ProgressStatistics> shown;
    for (const ProgressEvent& event : ui.progress) {
        if (event.kind == ProgressEvent::Kind::Statistics)
            shown.push_back(event.statistics);
    }
    return shown;
}

std::vector<int32_t> shownPositions(const RecordingUiPort& ui)
{
    std::vector<int32_t> shown;
    for (const ProgressEvent& event : ui.progress) {
        if (event.kind == ProgressEvent::Kind::Position)
            shown.push_back(event.a);
    }
    return shown;
}

// Small FM, LM and Ending AVIs built with the own writer; FM and LM frames differ in size, so a
// frame from the wrong source is caught.
class FinalAviTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = test_support::freshTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        finalPath = dir + "/final.avi";
        request.framesPerGroup = 5;
        request.groupSeconds = 1;
        request.finalPath = finalPath;
    }

    std::string dir;
    std::string finalPath;
    output::FinalAviRequest request;
    RecordingUiPort ui;
    int64_t finalBytes = -1;
};

TEST_F(FinalAviTest, EmptyPlanGivesEmptyStreamWithFmHeader)
{
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(20, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(20, 5, 500, 100)));
    EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, core::PlanTable(), request, finalBytes, ui), 1);
    EXPECT_EQ(finalBytes, 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.pumps, 0);
    EXPECT_EQ(ui.progressOpen, 0);
    ASSERT_EQ(ui.progress.size(), 1u);
    EXPECT_EQ(ui.progress[0].kind, ProgressEvent::Kind::Range);
    EXPECT_EQ(ui.progress[0].b, 0);

    video::AviOpenResult opened = video::AviReader::open(finalPath);
    ASSERT_EQ(opened.status, video::AviStatus::Ok) << opened.errorText;
    EXPECT_EQ(opened.reader->sampleCount(0), 0);
    EXPECT_EQ(opened.reader->streamFormat(0), fm.format());
    core::AviStreamInfo info = opened.reader->streamInfo(0);
    core::AviStreamInfo wanted = fm.info();
    wanted.dwLength = 0;
    info.dwSuggestedBufferSize = wanted.dwSuggestedBufferSize;
    EXPECT_EQ(info, wanted);
}

TEST_F(FinalAviTest, CopiesEveryGroupFromThePlannedSource)
{
    // 13 groups of 5 frames; the ending starts at film frame 32, so its first group (film
    // frames 30..34) asks for ending frames -2..2.
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(65, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(65, 5, 500, 100)));
    video::Source ending = openSource(buildSource(dir, "ending.avi", gridLayout(40, 5, 250, 50)));
    const Sources sources{&fm, &lm, &ending};
    request.framePos = 32;
    request.groupSeconds = 2;
    const core::PlanTable plan = makePlan({1, 0, 0, 2, 1, 7, 3, 3, 3, 3, 3, 3, 3});
    ASSERT_EQ(output::writeFinalAvi(&fm, &lm, &ending, plan, request, finalBytes, ui), 1);
    EXPECT_TRUE(ui.messages.empty());

    const std::vector<PlannedFrame> planned = plannedFrames(plan, plan.count(), request, sources);
    // Frames -2 and -1 of the ending do not exist; the rest of the 65 do.
    EXPECT_EQ(planned.size(), 63u);
    EXPECT_TRUE(holdsPlannedFrames(finalPath, planned));
    EXPECT_EQ(finalBytes, plannedStatistics(plan, plan.count(), request, sources).totalBytes);
}

TEST_F(FinalAviTest, CountsOnlyLowAndHighGroupsIntoTheirTotals)
{
    // 65 groups give updates at 0, 30 and 60, each showing the totals of the groups before it.
    struct Case {
        const char* name;
        int32_t choice;
    };
    const Case cases[] = {{"mixed", -1}, {"all smoothed", 2}, {"all ending", 3}, {"unknown code", 9}};
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(325, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(325, 5, 500, 100)));
    video::Source ending = openSource(buildSource(dir, "ending.avi", gridLayout(325, 5, 250, 50)));
    const Sources sources{&fm, &lm, &ending};
    request.groupSeconds = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int32_t> choices(65, c.choice);
        if (c.choice < 0) {
            for (size_t g = 0; g < choices.size(); ++g)
                choices[g] = static_cast<int32_t>((g * 7 + g / 3) % 4);
        }
        const core::PlanTable plan = makePlan(choices);
        RecordingUiPort run;
        ASSERT_EQ(output::writeFinalAvi(&fm, &lm, &ending, plan, request, finalBytes, run), 1);
        EXPECT_EQ(shownPositions(run), (std::vector<int32_t>{0, 30, 60}));
        const std::vector<core::ProgressStatistics> shown = shownStatistics(run);
        ASSERT_EQ(shown.size(), 3u);
        for (size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(shown[i], plannedStatistics(plan, static_cast<int32_t>(i) * 30, request, sources))
                << "update " << i;
        const core::ProgressStatistics all = plannedStatistics(plan, plan.count(), request, sources);
        EXPECT_EQ(finalBytes, all.totalBytes);
        if (c.choice == 2 || c.choice == 3 || c.choice == 9) {
            EXPECT_EQ(shown[2].fmSeconds + shown[2].lmSeconds + shown[2].fmBytes + shown[2].lmBytes, 0);
            EXPECT_GT(shown[2].totalBytes, 0);
        }
        EXPECT_TRUE(holdsPlannedFrames(finalPath, plannedFrames(plan, plan.count(), request, sources)));
    }
}

TEST_F(FinalAviTest, LastGroupRunsToItsEndAndSkipsPositionsPastTheSource)
{
    // FM holds 23 frames, LM 28: the last group asks for frames 25..29 of LM, which has 25..27.
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(23, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(28, 5, 500, 100)));
    const Sources sources{&fm, &lm, nullptr};
    struct Case {
        const char* name;
        std::vector<int32_t> choices;
        size_t frames;
    };
    const Case cases[] = {{"last group from LM, beyond FM's end", {1, 1, 1, 1, 1, 0}, 26},
                          {"last group from FM, past its end", {0, 0, 0, 0, 1}, 23},
                          {"whole groups past every end", {1, 1, 1, 1, 1, 1, 0, 0}, 23}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const core::PlanTable plan = makePlan(c.choices);
        RecordingUiPort run;
        EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, plan, request, finalBytes, run), 1);
        EXPECT_TRUE(run.messages.empty());
        const std::vector<PlannedFrame> planned = plannedFrames(plan, plan.count(), request, sources);
        EXPECT_EQ(planned.size(), c.frames);
        EXPECT_TRUE(holdsPlannedFrames(finalPath, planned));
    }
}

TEST_F(FinalAviTest, EndingStartingInsideAGroupSkipsNegativePositions)
{
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(30, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(30, 5, 500, 100)));
    video::Source ending = openSource(buildSource(dir, "ending.avi", gridLayout(30, 5, 250, 50)));
    const Sources sources{&fm, &lm, &ending};
    for (int32_t framePos : {10, 11, 13, 14}) {
        SCOPED_TRACE(framePos);
        request.framePos = framePos;
        const core::PlanTable plan = makePlan({1, 0, 3, 3, 3});
        RecordingUiPort run;
        EXPECT_EQ(output::writeFinalAvi(&fm, &lm, &ending, plan, request, finalBytes, run), 1);
        EXPECT_TRUE(run.messages.empty());
        const std::vector<PlannedFrame> planned = plannedFrames(plan, plan.count(), request, sources);
        EXPECT_EQ(planned.size(), static_cast<size_t>(25 - (framePos - 10)));
        EXPECT_TRUE(holdsPlannedFrames(finalPath, planned));
    }
}

TEST_F(FinalAviTest, GroupsWithoutFramesCopyNothing)
{
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(20, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(20, 5, 500, 100)));
    for (int32_t framesPerGroup : {0, -5}) {
        SCOPED_TRACE(framesPerGroup);
        request.framesPerGroup = framesPerGroup;
        request.framePos = 3;
        RecordingUiPort run;
        const core::PlanTable plan = makePlan(std::vector<int32_t>(31, 3));
        EXPECT_EQ(output::writeFinalAvi(&fm, &lm, &fm, plan, request, finalBytes, run), 1);
        EXPECT_TRUE(run.messages.empty());
        EXPECT_EQ(finalBytes, 0);
        EXPECT_EQ(shownPositions(run), (std::vector<int32_t>{0, 30}));
        EXPECT_TRUE(holdsPlannedFrames(finalPath, {}));
    }
}

TEST_F(FinalAviTest, EndingGroupsWithoutEndingAviAreReportedMissing)
{
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(30, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(30, 5, 500, 100)));
    const core::PlanTable plan = makePlan({1, 0, 3, 3});
    EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, plan, request, finalBytes, ui), 0);
    EXPECT_EQ(ui.messages, (std::vector<core::Message>{core::messages::framesMissing(10)}));
    EXPECT_TRUE(
        holdsPlannedFrames(finalPath, plannedFrames(plan, plan.count(), request, {&fm, &lm, nullptr})));
}

TEST_F(FinalAviTest, ChecksSourcesBeforeCreatingAnything)
{
    test_support::AviBuildSpec wide = gridLayout(10, 5, 900, 300);
    wide.formatBytes = 41;
    test_support::AviBuildSpec exact = gridLayout(10, 5, 900, 300);
    exact.formatBytes = 40;
    video::Source normal = openSource(buildSource(dir, "normal.avi", exact));
    video::Source normal2 = openSource(buildSource(dir, "normal2.avi", exact));
    video::Source tooWide = openSource(buildSource(dir, "wide.avi", wide));
    struct Case {
        const char* name;
        video::Source* fm;
        video::Source* lm;
        video::Source* ending;
        std::optional<core::Message> message;
    };
    const Case cases[] = {
        {"no FM", nullptr, &normal, nullptr, core::messages::selectFastMotionAvi()},
        {"no LM", &normal, nullptr, nullptr, core::messages::selectLowMotionAvi()},
        {"no FM, LM too wide", nullptr, &tooWide, nullptr, core::messages::selectFastMotionAvi()},
        {"FM format of 41 bytes", &tooWide, &normal, nullptr, core::messages::formatSizeTooLargeFm()},
        {"LM format of 41 bytes", &normal, &tooWide, nullptr, core::messages::formatSizeTooLargeLm()},
        {"both too wide", &tooWide, &tooWide, nullptr, core::messages::formatSizeTooLargeFm()},
        {"Ending format of 41 bytes", &normal, &normal2, &tooWide,
         core::messages::formatSizeTooLargeEnding()},
        {"formats of 40 bytes pass", &normal, &normal2, &normal, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(finalPath);
        RecordingUiPort run;
        finalBytes = -1;
        const int32_t result =
            output::writeFinalAvi(c.fm, c.lm, c.ending, makePlan({1, 0}), request, finalBytes, run);
        if (c.message) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(run.messages, (std::vector<core::Message>{*c.message}));
            EXPECT_EQ(finalBytes, -1);
            EXPECT_EQ(run.progressOpened, 0);
            EXPECT_FALSE(std::filesystem::exists(finalPath));
        } else {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(run.messages.empty());
            EXPECT_TRUE(std::filesystem::exists(finalPath));
        }
    }
}

TEST_F(FinalAviTest, FinalPathInMissingFolderCannotBeOpened)
{
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(10, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(10, 5, 500, 100)));
    request.finalPath = dir + "/missing/final.avi";
    EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, makePlan({1, 0}), request, finalBytes, ui), 0);
    EXPECT_EQ(ui.messages, (std::vector<core::Message>{core::messages::finalOpenFailed()}));
    EXPECT_EQ(ui.progressOpened, 0);
    EXPECT_EQ(finalBytes, -1);
}

TEST_F(FinalAviTest, FullDiskIsReportedWithTheSystemsTextAndEndsTheCopy)
{
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(2000, 5, 9000, 3000)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(2000, 5, 5000, 1000)));
    struct Case {
        const char* name;
        int32_t groups;
        int32_t writeBufferBytes;
        bool endsEarly;
    };
    // About 8 MB with small writes: the first batch written (about 2 MB) fails, and the copy
    // ends there. About 200 kB with the usual 4 MB gathering: only finishing the file writes.
    const Case cases[] = {{"a write during the copy fails", 400, 4096, true},
                          {"finishing the file fails", 10, 4 << 20, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const core::PlanTable plan = makePlan(std::vector<int32_t>(static_cast<size_t>(c.groups), 1));
        const int64_t plannedBytes =
            plannedStatistics(plan, plan.count(), request, {&fm, &lm, nullptr}).totalBytes;
        request.finalPath = "/dev/full";
        request.writerOptions.writeBufferBytes = c.writeBufferBytes;
        RecordingUiPort run;
        EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, plan, request, finalBytes, run), 0);
        ASSERT_EQ(run.messages.size(), 1u);
        EXPECT_EQ(run.messages[0].id, MessageId::FinalWriteFailed);
        const std::string text = run.messages[0].text;
        ASSERT_NE(text.find('\r'), std::string::npos);
        EXPECT_NE(text.substr(text.find('\r') + 1), "") << "no system error text";
        EXPECT_EQ(run.progressOpen, 0);
        if (c.endsEarly) {
            EXPECT_GT(finalBytes, 0);
            EXPECT_LT(finalBytes, plannedBytes / 2);
        } else {
            EXPECT_EQ(finalBytes, plannedBytes);
        }
    }
}

TEST_F(FinalAviTest, CopiesFramesLargerThanTheFormatsImageSize)
{
    struct Case {
        const char* name;
        uint32_t fmSizeImage;
    };
    const Case cases[] = {{"image size smaller than LM frames", 2000}, {"image size 0", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::AviBuildSpec fmLayout = gridLayout(20, 5, 1500, 600);
        fmLayout.sizeImage = c.fmSizeImage;
        video::Source fm = openSource(buildSource(dir, "fm.avi", fmLayout));
        video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(20, 5, 3000000, 4000)));
        video::Source ending = openSource(buildSource(dir, "ending.avi", gridLayout(20, 5, 2500, 2100)));
        request.framePos = 15;
        const core::PlanTable plan = makePlan({0, 1, 0, 3});
        RecordingUiPort run;
        EXPECT_EQ(output::writeFinalAvi(&fm, &lm, &ending, plan, request, finalBytes, run), 1);
        EXPECT_TRUE(run.messages.empty());
        const std::vector<PlannedFrame> planned =
            plannedFrames(plan, plan.count(), request, {&fm, &lm, &ending});
        EXPECT_EQ(planned.size(), 20u);
        EXPECT_TRUE(holdsPlannedFrames(finalPath, planned));
    }
}

TEST_F(FinalAviTest, DamagedSourceIsReportedWithTheMissingFrames)
{
    const std::string lmPath = buildSource(dir, "lm.avi", gridLayout(40, 5, 5000, 1000));
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(40, 5, 900, 300)));
    video::Source lm = openSource(lmPath);
    // The file loses its second half after it was indexed.
    const auto lmSize = std::filesystem::file_size(lmPath);
    ASSERT_EQ(::truncate(lmPath.c_str(), static_cast<off_t>(lmSize / 2)), 0);
    int64_t readable = 0;
    std::vector<uint8_t> scratch(1 << 20);
    for (int32_t i = 0; i < lm.sampleCount(); ++i) {
        int32_t bytes = 0;
        if (lm.readSample(i, scratch, bytes) == video::AviStatus::Ok)
            ++readable;
    }
    ASSERT_GT(readable, 0);
    ASSERT_LT(readable, 40);

    const core::PlanTable plan = makePlan({0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, plan, request, finalBytes, ui), 0);
    EXPECT_EQ(ui.messages, (std::vector<core::Message>{core::messages::framesMissing(40 - readable)}));
    video::AviOpenResult opened = video::AviReader::open(finalPath);
    ASSERT_EQ(opened.status, video::AviStatus::Ok) << opened.errorText;
    EXPECT_EQ(opened.reader->sampleCount(0), readable);
}

TEST_F(FinalAviTest, ReplacesAnExistingFinalAvi)
{
    video::Source fm = openSource(buildSource(dir, "fm.avi", gridLayout(20, 5, 900, 300)));
    video::Source lm = openSource(buildSource(dir, "lm.avi", gridLayout(20, 5, 500, 100)));
    const Sources sources{&fm, &lm, nullptr};
    const core::PlanTable longPlan = makePlan({1, 1, 1, 1});
    const core::PlanTable shortPlan = makePlan({0});
    ASSERT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, longPlan, request, finalBytes, ui), 1);
    ASSERT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, shortPlan, request, finalBytes, ui), 1);
    EXPECT_TRUE(holdsPlannedFrames(finalPath, plannedFrames(shortPlan, 1, request, sources)));
}

// Real MPEG-4 media: what was copied before an abort is a complete film that ffmpeg decodes.
TEST_F(FinalAviTest, AbortLeavesACompleteReadableFile)
{
    video::Source fm = openSource(test_support::fastMotionAvi());
    video::Source lm = openSource(test_support::lowMotionAvi());
    const Sources sources{&fm, &lm, nullptr};
    request.framesPerGroup = 25;
    std::vector<int32_t> choices(40);
    for (size_t g = 0; g < choices.size(); ++g)
        choices[g] = (g / 5) % 2 == 0 ? 1 : 0;
    const core::PlanTable plan = makePlan(choices);
    struct Case {
        const char* name;
        int32_t abortAtPump;
        int32_t groupsCopied;
        int32_t result;
    };
    const Case cases[] = {{"at the first group", 0, 0, 0}, {"at group 30", 1, 30, 0}, {"never", -1, 40, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingUiPort run;
        run.abortAtPump = c.abortAtPump;
        EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, plan, request, finalBytes, run), c.result);
        EXPECT_TRUE(run.messages.empty());
        EXPECT_EQ(run.progressOpen, 0);
        EXPECT_EQ(finalBytes, plannedStatistics(plan, c.groupsCopied, request, sources).totalBytes);
        EXPECT_TRUE(holdsPlannedFrames(finalPath, plannedFrames(plan, c.groupsCopied, request, sources)));
        if (c.groupsCopied > 0) {
            EXPECT_EQ(test_support::decodeErrors(finalPath), "");
        }
        video::AviOpenResult opened = video::AviReader::open(finalPath);
        ASSERT_EQ(opened.status, video::AviStatus::Ok);
        EXPECT_EQ(opened.reader->streamFormat(0), fm.format());
    }
}

} // namespace
