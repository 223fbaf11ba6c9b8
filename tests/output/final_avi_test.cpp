#include "output/final_avi.h"

#include "avi_builder.h"
#include "core/messages.h"
#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
namespace m = core::messages;
using namespace test_support;

// One plan record per digit: 0 LM, 1 FM, 2 FM (smoothed), 3 Ending, others unknown codes.
core::PlanTable planOf(const std::string& digits)
{
    core::PlanTable plan;
    plan.setSize(static_cast<int32_t>(digits.size()));
    for (int32_t g = 0; g < plan.count(); ++g)
        plan[g].choice = static_cast<core::GroupChoice>(digits[static_cast<size_t>(g)] - '0');
    return plan;
}

// Small sources built with our writer, a key frame every 5 frames; the Final AVI goes beside them.
class FinalAviTest : public ::testing::Test {
protected:
    // Builds and opens name with frames of keySize and deltaSize bytes and a format of formatBytes.
    video::Source& build(const std::string& name, int32_t frames, int32_t keySize, int32_t deltaSize,
                         int32_t formatBytes = 40)
    {
        // A codec ffprobe does not parse, so it lists the index's key flags.
        buildAvi(dir + "/" + name, {.frames = gridFrames(frames, 5, keySize, deltaSize),
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

    // Checks the Final AVI against the groups of plan, each copied from its source (positions a
    // source lacks are skipped): every frame's bytes and key flag with our reader, its size and key
    // flag in ffprobe's list, FM's format and finalBytes.
    ::testing::AssertionResult holds(const std::string& plan, video::Source* fm, video::Source* lm,
                                     video::Source* ending)
    {
        video::Source& finalAvi = open(request.finalPath);
        const std::vector<ProbePacket> packets = probePackets(request.finalPath);
        std::vector<uint8_t> wanted(4 << 20), got(4 << 20);
        int64_t plannedBytes = 0;
        int32_t i = 0;
        for (size_t g = 0; g < plan.size(); ++g) {
            video::Source* source = plan[g] == '0' ? lm : plan[g] == '3' ? ending : fm;
            const int32_t first =
                static_cast<int32_t>(g) * request.framesPerGroup - (plan[g] == '3' ? request.framePos : 0);
            for (int32_t index = std::max(first, 0);
                 source && index < std::min(first + request.framesPerGroup, source->sampleCount());
                 ++index, ++i) {
                int32_t wantedBytes = -1, gotBytes = -2;
                (void)source->readSample(index, wanted, wantedBytes); // a failed read fails the comparison
                (void)finalAvi.readSample(i, got, gotBytes);
                const bool key = source->findKeyAtOrBefore(index) == index;
                plannedBytes += wantedBytes;
                if (gotBytes != wantedBytes ||
                    !std::equal(got.begin(), got.begin() + gotBytes, wanted.begin()) ||
                    key != (finalAvi.findKeyAtOrBefore(i) == i) || std::ssize(packets) <= i ||
                    packets[static_cast<size_t>(i)] != ProbePacket{key, wantedBytes})
                    return ::testing::AssertionFailure() << "frame " << i << " is not source frame " << index;
            }
        }
        if (std::ssize(packets) != i || finalAvi.sampleCount() != i || finalAvi.format() != fm->format() ||
            finalBytes != plannedBytes)
            return ::testing::AssertionFailure() << packets.size() << " frames of " << i << ", " << finalBytes
                                                 << " bytes of " << plannedBytes << ", or not FM's format";
        return ::testing::AssertionSuccess();
    }

    const std::string dir = freshTempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::vector<std::unique_ptr<video::Source>> sources;
    output::FinalAviRequest request{
        .framesPerGroup = 5, .groupSeconds = 1, .finalPath = dir + "/final.avi", .writerOptions = {}};
    int64_t finalBytes = -1;
};

TEST_F(FinalAviTest, CopiesEveryGroupFromThePlannedSource)
{
    // Batches are written straight from the sources' read blocks of up to 2 MiB. Every read is
    // offered room for the largest frame of the three sources (3 MB), far above every biSizeImage
    // (230400). FM has 23 frames, LM 28 and the Ending AVI 30.
    const std::tuple<const char*, std::string, int32_t, int32_t, int32_t> cases[] = {
        // name, plan, framePos, FM's key and delta frame sizes
        {"ending from inside a group", "12333", 11, 1500, 600},
        {"LM beyond FM's end, then past every end", "1111100", 0, 1500, 600},
        {"odd-sized frames in batches across two read blocks", "1111", 0, 700001, 500001},
        {"FM groups apart: a third block is read after the batch", "13131", 0, 1501, 601},
        {"FM's key frames the largest of all", "10", 0, 3000001, 601},
    };
    video::Source& lm = build("lm.avi", 28, 3000000, 4000);
    video::Source& ending = build("ending.avi", 30, 2500, 2100);
    for (const auto& [name, plan, framePos, fmKey, fmDelta] : cases) {
        SCOPED_TRACE(name);
        video::Source& fm = build("fm.avi", 23, fmKey, fmDelta);
        request.framePos = framePos;
        RecordingUiPort ui;
        ASSERT_EQ(output::writeFinalAvi(&fm, &lm, &ending, planOf(plan), request, finalBytes, ui), 1);
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_TRUE(holds(plan, &fm, &lm, &ending));
    }
}

TEST_F(FinalAviTest, ShowsProgressEveryThirtyGroupsCountingOnlyLowAndHighGroups)
{
    video::Source& fm = build("fm.avi", 325, 900, 300);
    video::Source& lm = build("lm.avi", 325, 500, 100);
    video::Source& ending = build("ending.avi", 325, 250, 50);
    request.groupSeconds = 3;
    const std::string plan = "01239012390123901239012390123901239012390123901239012390123901239";
    RecordingUiPort ui;
    ASSERT_EQ(output::writeFinalAvi(&fm, &lm, &ending, planOf(plan), request, finalBytes, ui), 1);
    // Each update shows the totals of the groups before it. A group of 5 frames from FM, LM or the
    // Ending AVI holds 2100, 900 or 450 bytes; 30 groups hold 6 of each digit.
    EXPECT_EQ(ui.positions, (std::vector<int32_t>{0, 30, 60}));
    EXPECT_EQ(ui.statistics,
              (std::vector<core::ProgressStatistics>{
                  {}, {18, 6 * 2100, 18, 6 * 900, 45900}, {36, 12 * 2100, 36, 12 * 900, 91800}}));
}

TEST_F(FinalAviTest, ChecksTheSourcesAndTheDestinationBeforeWritingAnything)
{
    video::Source& normal = build("normal.avi", 10, 900, 300);
    video::Source& wide = build("wide.avi", 10, 900, 300, 41);
    fs::create_directories(dir + "/folder");
    const std::string final = dir + "/final.avi";
    const std::tuple<const char*, video::Source*, video::Source*, video::Source*, std::string, core::Message>
        cases[] = {
            // Formats of 41 bytes are too wide; each row fails the first of the checks in its order.
            {"no FM, LM too wide", nullptr, &wide, nullptr, final, m::selectFastMotionAvi()},
            {"no LM, FM too wide", &wide, nullptr, nullptr, final, m::selectLowMotionAvi()},
            {"FM and LM too wide", &wide, &wide, nullptr, final, m::formatSizeTooLargeFm()},
            {"LM and Ending too wide", &normal, &wide, &wide, final, m::formatSizeTooLargeLm()},
            {"Ending too wide", &normal, &normal, &wide, final, m::formatSizeTooLargeEnding()},
            {"a folder", &normal, &normal, nullptr, dir + "/folder", m::finalOpenFailed("Is a directory")},
            {"in a missing folder", &normal, &normal, nullptr, dir + "/none/final.avi",
             m::finalOpenFailed("No such file or directory")},
        };
    for (const auto& [name, fm, lm, ending, path, message] : cases) {
        SCOPED_TRACE(name);
        request.finalPath = path;
        RecordingUiPort ui;
        EXPECT_EQ(output::writeFinalAvi(fm, lm, ending, planOf("10"), request, finalBytes, ui), 0);
        EXPECT_EQ(ui.messages, std::vector{message});
        EXPECT_EQ(std::pair(finalBytes, ui.progressOpened), std::pair(int64_t{-1}, 0));
        EXPECT_FALSE(fs::exists(final) || fs::exists(dir + "/none") || !fs::is_empty(dir + "/folder"));
    }
}

TEST_F(FinalAviTest, ReportsAFullDiskWithTheSystemsText)
{
    video::Source& fm = build("fm.avi", 2000, 9000, 3000);
    request.finalPath = "/dev/full";
    // About 8 MB with small writes: the first batch written fails and ends the copy. About 200 kB
    // with the usual 4 MB gathering: only finishing the file writes, and fails.
    for (const auto& [groups, writeBufferBytes] : {std::pair(400, 4096), {10, 4 << 20}}) {
        request.writerOptions.writeBufferBytes = writeBufferBytes;
        RecordingUiPort ui;
        const core::PlanTable plan = planOf(std::string(static_cast<size_t>(groups), '1'));
        EXPECT_EQ(output::writeFinalAvi(&fm, &fm, nullptr, plan, request, finalBytes, ui), 0);
        EXPECT_EQ(ui.messages, std::vector{m::finalWriteFailed("No space left on device")});
        const int64_t all = groups * (9000 + 4 * 3000);
        EXPECT_TRUE(groups == 10 ? finalBytes == all : finalBytes > 0 && finalBytes < all / 2) << finalBytes;
    }
}

TEST_F(FinalAviTest, ReportsFramesMissingFromADamagedSource)
{
    video::Source& fm = build("fm.avi", 40, 900, 300);
    video::Source& lm = build("lm.avi", 40, 5000, 1000);
    // The file loses its second half after it was indexed.
    fs::resize_file(dir + "/lm.avi", fs::file_size(dir + "/lm.avi") / 2);
    RecordingUiPort ui;
    EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, planOf("00000000"), request, finalBytes, ui), 0);
    const int32_t copied = open(request.finalPath).sampleCount();
    EXPECT_TRUE(copied > 0 && copied < 40) << copied;
    EXPECT_EQ(ui.messages, std::vector{m::framesMissing(40 - copied)});
}

// Real MPEG-4 media: what was copied before an abort is a complete film that ffmpeg decodes.
TEST_F(FinalAviTest, AbortLeavesACompleteReadableFile)
{
    video::Source& fm = open(fastMotionAvi());
    video::Source& lm = open(lowMotionAvi());
    request.framesPerGroup = 25;
    const std::string plan = "1111100000111110000011111000001111100000";
    for (const auto& [abortAtPump, groups, result] : {std::tuple(0, 0, 0), {1, 30, 0}, {-1, 40, 1}}) {
        SCOPED_TRACE(abortAtPump);
        RecordingUiPort ui;
        ui.abortAtPump = abortAtPump;
        EXPECT_EQ(output::writeFinalAvi(&fm, &lm, nullptr, planOf(plan), request, finalBytes, ui), result);
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_TRUE(holds(plan.substr(0, static_cast<size_t>(groups)), &fm, &lm, nullptr));
        EXPECT_TRUE(groups == 0 || decodeErrors(request.finalPath).empty());
    }
}

} // namespace
