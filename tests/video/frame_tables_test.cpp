#include "avi_builder.h"
#include "media.h"
#include "recording_ui_port.h"
#include "video/frame_tables.h"
#include "video/source.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

core::FrameTable tableWithKeys(int32_t count, const std::vector<int32_t>& keys)
{
    core::FrameTable table;
    table.setSize(count);
    for (int32_t key : keys)
        table[key].isKey = 1;
    return table;
}

std::vector<int32_t> everyNth(int32_t count, int32_t distance)
{
    std::vector<int32_t> keys;
    for (int32_t i = 0; i < count; i += distance)
        keys.push_back(i);
    return keys;
}

TEST(FrameTables, FindsTheDistanceAndTheFirstFrameOffTheGrid)
{
    struct Case {
        const char* name;
        int32_t count;
        std::vector<int32_t> keys;
        int32_t frameCount; // passed to findKeyframeDistance
        int32_t distance;
        int32_t layout;
    };
    const Case cases[] = {
        {"regular grid of 12", 120, everyNth(120, 12), 120, 12, -1},
        {"late key at 25 after a missing 24", 40, {0, 12, 25, 36}, 40, 12, 24},
        {"extra key at 18", 30, {0, 12, 18, 24}, 30, 12, 18},
        {"frame 0 not key", 20, {5, 10, 15}, 20, 5, 0},
        {"only frame 0 key", 100, {0}, 100, 100, -1},
        {"frame count 1 expects every frame key", 3, {0, 1}, 1, 1, 2},
        {"frame count 0", 2, {0, 1}, 0, 1, -1},
        {"empty table", 0, {}, 0, 1, -1},
        {"distance found within fewer frames", 50, {0, 30}, 20, 20, 20},
        {"frame count beyond the table", 10, {0}, 25, 25, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const core::FrameTable table = tableWithKeys(c.count, c.keys);
        const int32_t distance = video::findKeyframeDistance(table, c.frameCount);
        EXPECT_EQ(distance, c.distance);
        EXPECT_EQ(video::checkKeyframeLayout(table, distance), c.layout);
    }
}

class FrameTableReading : public ::testing::Test {
protected:
    std::optional<video::Source> openBuilt(const std::vector<test_support::BuiltFrame>& frames)
    {
        const std::string path = test_support::freshTempDir("frame_tables") + "/built.avi";
        test_support::AviBuildSpec layout;
        layout.frames = frames;
        test_support::buildAvi(path, layout);
        return video::openVideoStream(path, ui);
    }

    test_support::RecordingUiPort ui;
};

TEST_F(FrameTableReading, ReadsSizesAndKeyFlags)
{
    std::vector<test_support::BuiltFrame> frames = test_support::gridFrames(60, 12, 5000, 700);
    frames[7].size = 0; // a dropped frame
    frames[30].key = true;
    std::optional<video::Source> source = openBuilt(frames);
    ASSERT_TRUE(source);
    core::FrameTable table;
    ASSERT_TRUE(video::readFrameTable(table, 60, *source, ui));
    ASSERT_EQ(table.count(), 60);
    for (int32_t i = 0; i < 60; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i].size, frames[static_cast<size_t>(i)].size);
        EXPECT_EQ(table[i].isKey, frames[static_cast<size_t>(i)].key ? 1 : 0);
    }
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(video::findKeyframeDistance(table, 60), 12);
    EXPECT_EQ(video::checkKeyframeLayout(table, 12), 30);
}

TEST_F(FrameTableReading, StopsWithOneMessageWhereTheStreamEnds)
{
    std::optional<video::Source> source = openBuilt(test_support::gridFrames(500, 25, 3000, 200));
    ASSERT_TRUE(source);
    core::FrameTable table;
    EXPECT_FALSE(video::readFrameTable(table, 1000, *source, ui));
    EXPECT_EQ(ui.messageIds(), std::vector<core::MessageId>{core::MessageId::StreamReadError});
    EXPECT_EQ(ui.messages.at(0).text, "ERROR DURING STREAM-READ!!!");
    ASSERT_EQ(table.count(), 1000);
    for (int32_t i = 500; i < 1000; ++i)
        ASSERT_EQ(table[i], core::FrameRecord{}) << i;
    const int32_t distance = video::findKeyframeDistance(table, 1000);
    EXPECT_EQ(distance, 25);
    EXPECT_EQ(video::checkKeyframeLayout(table, distance), 500);
}

TEST_F(FrameTableReading, KeepsOldRecordsBeyondAFailureAndShrinksToTheFrameCount)
{
    std::optional<video::Source> source = openBuilt(test_support::gridFrames(900, 10, 4000, 300));
    ASSERT_TRUE(source);
    core::FrameTable table;
    table.setSize(1000);
    for (int32_t i = 0; i < 1000; ++i)
        table[i] = {1, 77};
    ASSERT_TRUE(video::readFrameTable(table, 800, *source, ui));
    EXPECT_EQ(table.count(), 800);
    EXPECT_EQ(table[799], (core::FrameRecord{0, 300}));

    // Not emptied first: records past the failure keep what an earlier read left.
    table.setSize(1000);
    for (int32_t i = 800; i < 1000; ++i)
        table[i] = {1, 77};
    EXPECT_FALSE(video::readFrameTable(table, 1000, *source, ui));
    EXPECT_EQ(table[899], (core::FrameRecord{0, 300}));
    EXPECT_EQ(table[900], (core::FrameRecord{1, 77}));
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(FrameTableReading, MatchesFfprobeOnAnMpeg4File)
{
    const std::string path = test_support::fastMotionAvi(300, 25);
    std::optional<video::Source> source = video::openVideoStream(path, ui);
    ASSERT_TRUE(source);
    core::FrameTable table;
    ASSERT_TRUE(video::readFrameTable(table, source->sampleCount(), *source, ui));
    const std::vector<test_support::ProbePacket> packets = test_support::probePackets(path);
    ASSERT_EQ(static_cast<size_t>(table.count()), packets.size());
    for (int32_t i = 0; i < table.count(); ++i) {
        ASSERT_EQ(table[i].size, packets[static_cast<size_t>(i)].size) << i;
        ASSERT_EQ(table[i].isKey != 0, packets[static_cast<size_t>(i)].key) << i;
    }
    EXPECT_EQ(video::findKeyframeDistance(table, table.count()), 25);
    EXPECT_EQ(video::checkKeyframeLayout(table, 25), -1);
}

} // namespace
