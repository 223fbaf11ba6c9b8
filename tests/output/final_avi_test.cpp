#include "output/final_avi.h"

#include "avi_builder.h"
#include "core/messages.h"
#include "media.h"
#include "recording_ui_port.h"
#include "video/avi_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

using core::GroupChoice;
using test_support::RecordingUiPort;

// One plan record per digit: 0 LM, 1 FM, 2 FM (smoothed), 3 Ending, others unknown codes.
core::PlanTable planOf(const std::string& digits)
{
    core::PlanTable plan;
    plan.setSize(static_cast<int32_t>(digits.size()));
    for (int32_t g = 0; g < plan.count(); ++g)
        plan[g].choice = static_cast<GroupChoice>(digits[static_cast<size_t>(g)] - '0');
    return plan;
}

// Small sources built with our writer, a key frame every 5 frames; the Final AVI goes beside them.
class FinalAviTest : public ::testing::Test {
protected:
    // Builds and opens name with frames of keySize and deltaSize bytes; sizeImage is its biSizeImage.
    video::Source& build(const std::string& name, int32_t frames, int32_t keySize, int32_t deltaSize,
                         uint32_t sizeImage = 230400, int32_t formatBytes = 40)
    {
        // A codec ffprobe does not parse, so it lists the index's key flags.
        test_support::buildAvi(dir + "/" + name,
                               {.frames = test_support::gridFrames(frames, 5, keySize, deltaSize),
                                .sizeImage = sizeImage,
                                .compression = core::fourcc("cvid"),
                                .formatBytes = formatBytes});
        return open(dir + "/" + name);
    }

    video::Source& open(const std::string& path)
    {
        RecordingUiPort ui;
        sources.push_back(std::make_unique<video::Source>(*video::openVideoStream(path, ui)));
        return *sources.back();
    }

    // The source frames groups from to to (exclusive) of plan name, in order; positions a source
    // lacks are skipped.
    std::vector<std::pair<video::Source*, int32_t>> planned(const core::PlanTable& plan, int32_t from,
                                                            int32_t to, video::Source* fm, video::Source* lm,
                                                            video::Source* ending) const
    {
        std::vector<std::pair<video::Source*, int32_t>> frames;
        for (int32_t g = from; g < to; ++g) {
            const GroupChoice choice = plan[g].choice;
            video::Source* source = choice == GroupChoice::Low      ? lm
                                    : choice == GroupChoice::Ending ? ending
                                                                    : fm;
            const int32_t first =
                g * request.framesPerGroup - (choice == GroupChoice::Ending ? request.framePos : 0);
            for (int32_t index = std::max(first, 0);
                 source && index < std::min(first + request.framesPerGroup, source->sampleCount()); ++index)
                frames.emplace_back(source, index);
        }
        return frames;
    }

    // Checks every Final AVI frame against its planned source frame: bytes and key flag with our
    // reader, size and key flag in ffprobe's list. Adds up the bytes.
    ::testing::AssertionResult holds(const std::vector<std::pair<video::Source*, int32_t>>& frames)
    {
        video::Source& finalAvi = open(request.finalPath);
        const std::vector<test_support::ProbePacket> packets = test_support::probePackets(request.finalPath);
        if (finalAvi.sampleCount() != static_cast<int32_t>(frames.size()) || packets.size() != frames.size())
            return ::testing::AssertionFailure() << packets.size() << " frames, planned " << frames.size();
        std::vector<uint8_t> wanted(4 << 20), got(4 << 20);
        plannedBytes = 0;
        for (int32_t i = 0; i < finalAvi.sampleCount(); ++i) {
            const auto& [source, index] = frames[static_cast<size_t>(i)];
            int32_t wantedBytes = -1, gotBytes = -2;
            (void)source->readSample(index, wanted, wantedBytes); // a failed read fails the comparison
            (void)finalAvi.readSample(i, got, gotBytes);
            const bool key = source->findKeyAtOrBefore(index) == index;
            plannedBytes += wantedBytes;
            if (gotBytes != wantedBytes || !std::equal(got.begin(), got.begin() + gotBytes, wanted.begin()) ||
                key != (finalAvi.findKeyAtOrBefore(i) == i) ||
                packets[static_cast<size_t>(i)] != test_support::ProbePacket{key, wantedBytes})
                return ::testing::AssertionFailure() << "frame " << i << " is not source frame " << index;
        }
        return ::testing::AssertionSuccess();
    }

    const std::string dir =
        test_support::freshTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::vector<std::unique_ptr<video::Source>> sources;
    output::FinalAviRequest request{
        .framesPerGroup = 5, .groupSeconds = 1, .finalPath = dir + "/final.avi", .writerOptions = {}};
    int64_t finalBytes = -1;
    int64_t plannedBytes = 0;
};

TEST_F(FinalAviTest, CopiesEveryGroupFromThePlannedSource)
{
    struct Case {
        const char* name;
        std::string plan;
        int32_t framePos, fmSizeImage, frames;
        int32_t fmKey = 1500, fmDelta = 600;
    };
    // Batches are written straight from the sources' read blocks of up to 2 MiB; every batch here
    // may hold 3 MB, for the largest LM frame.
    const Case cases[] = {
        {"empty plan", "", 0, 230400, 0},
        {"ending from inside a group", "12333", 11, 230400, 24},
        {"LM beyond FM's end, then past every end", "1111100", 0, 230400, 26},
        {"frames larger than biSizeImage", "0103", 15, 2000, 20},
        {"biSizeImage 0", "0103", 15, 0, 20},
        {"odd-sized frames in batches across two read blocks", "1111", 0, 230400, 20, 700001, 500001},
        {"FM groups apart: a third block is read after the batch", "13131", 0, 230400, 23, 1501, 601},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        video::Source& fm = build("fm.avi", 23, c.fmKey, c.fmDelta, static_cast<uint32_t>(c.fmSizeImage));
        video::Source& lm = build("lm.avi", 28, 3000000, 4000);
        video::Source& ending = build("ending.avi", 30, 2500, 2100);
        request.framePos = c.framePos;
        const core::PlanTable plan = planOf(c.plan);
        RecordingUiPort ui;
        ASSERT_EQ(output::writeFinalAvi(&fm, &lm, &ending, plan, request, finalBytes, ui), 1);
        EXPECT_TRUE(ui.messages.empty());
        const auto frames = planned(plan, 0, plan.count(), &fm, &lm, &ending);
        EXPECT_EQ(frames.size(), static_cast<size_t>(c.frames));
        EXPECT_TRUE(holds(frames));
        EXPECT_EQ(finalBytes, plannedBytes);
        // The stream keeps the FM format, even when empty.
        EXPECT_EQ(video::AviReader::open(request.finalPath).reader->streamFormat(0), fm.format());
    }
}

TEST_F(FinalAviTest, ShowsProgressEveryThirtyGroupsCountingOnlyLowAndHighGroups)
{
    video::Source& fm = build("fm.avi", 325, 900, 300);
    video::Source& lm = build("lm.avi", 325, 500, 100);
    video::Source& ending = build("ending.avi", 325, 250, 50);
    request.groupSeconds = 3;
    std::string mixed;
    for (size_t g = 0; g < 65; ++g)
        mixed += static_cast<char>('0' + (g * 7 + g / 3) % 4);
    for (const std::string& digits :
         {mixed, std::string(65, '2'), std::string(65, '3'), std::string(65, '9')}) {
        SCOPED_TRACE(digits);
        const core::PlanTable plan = planOf(digits);
        RecordingUiPort ui;
        ASSERT_EQ(output::writeFinalAvi(&fm, &lm, &ending, plan, request, finalBytes, ui), 1);
        // Each update shows the totals of the groups before it; a group of 5 frames from FM, LM or
        // the Ending AVI holds 2100, 900 or 450 bytes.
        std::vector<core::ProgressStatistics> shown, expected(3);
        std::vector<int32_t> positions;
        for (const test_support::ProgressEvent& event : ui.progress) {
            if (event.kind == test_support::ProgressEvent::Kind::Statistics)
                shown.push_back(event.statistics);
            if (event.kind == test_support::ProgressEvent::Kind::Position)
                positions.push_back(event.a);
        }
        for (size_t g = 0; g < 60; ++g) {
            const char choice = digits[g];
            const int64_t bytes = choice == '0' ? 900 : choice == '3' ? 450 : 2100;
            for (size_t update = g / 30 + 1; update < 3; ++update) {
                core::ProgressStatistics& totals = expected[update];
                totals.totalBytes += bytes;
                if (choice == '0')
                    totals.lmSeconds += 3, totals.lmBytes += bytes;
                if (choice == '1')
                    totals.fmSeconds += 3, totals.fmBytes += bytes;
            }
        }
        EXPECT_EQ(positions, (std::vector<int32_t>{0, 30, 60}));
        EXPECT_EQ(shown, expected);
    }
}

TEST_F(FinalAviTest, ChecksTheSourcesBeforeCreatingAnything)
{
    video::Source& normal = build("normal.avi", 10, 900, 300);
    video::Source& other = build("other.avi", 10, 900, 300);
    video::Source& wide = build("wide.avi", 10, 900, 300, 230400, 41);
    namespace m = core::messages;
    const std::tuple<const char*, video::Source*, video::Source*, video::Source*, core::Message> cases[] = {
        {"no FM", nullptr, &normal, nullptr, m::selectFastMotionAvi()},
        {"no LM", &normal, nullptr, nullptr, m::selectLowMotionAvi()},
        {"no FM, LM too wide", nullptr, &wide, nullptr, m::selectFastMotionAvi()},
        {"FM format of 41 bytes", &wide, &normal, nullptr, m::formatSizeTooLargeFm()},
        {"LM format of 41 bytes", &normal, &wide, nullptr, m::formatSizeTooLargeLm()},
        {"Ending format of 41 bytes", &normal, &other, &wide, m::formatSizeTooLargeEnding()},
    };
    request.finalPath = dir + "/final.avi";
    for (const auto& [name, fm, lm, ending, message] : cases) {
        SCOPED_TRACE(name);
        RecordingUiPort ui;
        EXPECT_EQ(output::writeFinalAvi(fm, lm, ending, planOf("10"), request, finalBytes, ui), 0);
        EXPECT_EQ(ui.messages, std::vector{message});
        EXPECT_EQ(finalBytes, -1);
        EXPECT_EQ(ui.progressOpened, 0);
        EXPECT_FALSE(std::filesystem::exists(request.finalPath));
    }

    // A Final path that is a folder, or lies in a missing folder or one without write permission.
    namespace fs = std::filesystem;
    fs::create_directories(dir + "/folder");
    fs::create_directories(dir + "/locked");
    fs::permissions(dir + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
    const std::pair<std::string, const char*> destinations[] = {{dir + "/folder", "Is a directory"},
                                                                {dir + "/none/final.avi", "No such file or directory"},
                                                                {dir + "/locked/final.avi", "Permission denied"}};
    for (const auto& [path, reason] : destinations) {
        SCOPED_TRACE(path);
        if (::geteuid() == 0 && path.find("locked") != std::string::npos)
            continue; // the superuser writes into any folder
        request.finalPath = path;
        RecordingUiPort ui;
        EXPECT_EQ(output::writeFinalAvi(&normal, &other, nullptr, planOf("10"), request, finalBytes, ui), 0);
        EXPECT_EQ(ui.messages, std::vector{m::finalOpenFailed(reason)});
        const fs::path untouched = path == dir + "/folder" ? fs::path(path) : fs::path(path).parent_path();
        EXPECT_TRUE(!fs::exists(untouched) || fs::is_empty(untouched));
    }
}

TEST_F(FinalAviTest, ReportsAFullDiskWithTheSystemsText)
{
    video::Source& fm = build("fm.avi", 2000, 9000, 3000);
    // About 8 MB with small writes: the first batch written fails and ends the copy. About 200 kB
    // with the usual 4 MB gathering: only finishing the file writes, and fails.
    for (const auto& [groups, writeBufferBytes] : {std::pair(400, 4096), {10, 4 << 20}}) {
        const core::PlanTable plan = planOf(std::string(static_cast<size_t>(groups), '1'));
        request.finalPath = "/dev/full";
        request.writerOptions.writeBufferBytes = writeBufferBytes;
        RecordingUiPort ui;
        EXPECT_EQ(output::writeFinalAvi(&fm, &fm, nullptr, plan, request, finalBytes, ui), 0);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].id, core::MessageId::FinalWriteFailed);
        const std::string text = ui.messages[0].text;
        EXPECT_TRUE(text.find('\r') != std::string::npos && !text.ends_with('\r')) << text;
        EXPECT_EQ(ui.progressOpen, 0);
        const int64_t all = groups * (9000 + 4 * 3000);
        EXPECT_TRUE(groups == 10 ? finalBytes == all : finalBytes > 0 && finalBytes < all / 2) << finalBytes;
    }
}

TEST_F(FinalAviTest, ReportsFramesMissingFromADamagedSource)
{
    video::Source& fm = build("fm.avi", 40, 900, 300);
    video::Source& lm = build("lm.avi", 40, 5000, 1000);
    // The file loses its second half after it was indexed.
    ASSERT_EQ(::truncate((dir + "/lm.avi").c_str(),
                         static_cast<off_t>(std::filesystem::file_size(dir + "/lm.avi") / 2)),
              0);
    int32_t readable = 0;
    std::vector<uint8_t> scratch(1 << 20);
    for (int32_t i = 0, bytes = 0; i < 40; ++i)
        readable += lm.readSample(i, scratch, bytes) == video::AviStatus::Ok;
    ASSERT_TRUE(readable > 0 && readable < 40);
    RecordingUiPort ui;
    EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, planOf("00000000"), request, finalBytes, ui), 0);
    EXPECT_EQ(ui.messages, std::vector{core::messages::framesMissing(40 - readable)});
    EXPECT_EQ(open(request.finalPath).sampleCount(), readable);
}

// Real MPEG-4 media: what was copied before an abort is a complete film that ffmpeg decodes.
TEST_F(FinalAviTest, AbortLeavesACompleteReadableFile)
{
    video::Source& fm = open(test_support::fastMotionAvi());
    video::Source& lm = open(test_support::lowMotionAvi());
    request.framesPerGroup = 25;
    const core::PlanTable plan = planOf("1111100000111110000011111000001111100000");
    for (const auto& [abortAtPump, groups, result] : {std::tuple(0, 0, 0), {1, 30, 0}, {-1, 40, 1}}) {
        SCOPED_TRACE(abortAtPump);
        RecordingUiPort ui;
        ui.abortAtPump = abortAtPump;
        EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, plan, request, finalBytes, ui), result);
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(ui.progressOpen, 0);
        EXPECT_TRUE(holds(planned(plan, 0, groups, &fm, &lm, nullptr)));
        EXPECT_EQ(finalBytes, plannedBytes);
        EXPECT_TRUE(groups == 0 || test_support::decodeErrors(request.finalPath).empty());
    }
}

} // namespace
