#include "recording_ui_port.h"
#include "video/frame_tables.h"
#include "video/source.h"
#include "video_test_helpers.h"

namespace {

using namespace test_support;

// A file of streams (audio, or video with a format of formatBytes), one 10-byte sample each.
std::vector<uint8_t> composeFile(const std::vector<size_t>& streams)
{
    std::vector<RiffChunk> hdrl = {
        chunk("avih", mainHeader(1, static_cast<uint32_t>(streams.size()), 64, 48))};
    std::vector<RiffChunk> movi;
    for (size_t s = 0; s < streams.size(); ++s) {
        const bool isVideo = streams[s] > 0;
        hdrl.push_back(
            list("strl", {chunk("strh", streamHeader(isVideo ? core::kStreamTypeVideo : core::fourcc("auds"),
                                                     0, 25, 1, 1)),
                          chunk("strf", isVideo ? bitmapFormat(64, 48, core::fourcc("XVID"), streams[s])
                                                : pcmFormat(22050, 1))}));
        movi.push_back(chunk("00dc", std::vector<uint8_t>(10, 1)));
        const char id[5] = {'0', static_cast<char>('0' + s), isVideo ? 'd' : 'w', isVideo ? 'c' : 'b', 0};
        movi.back().id = core::fourcc(id);
    }
    return compose({riffList("AVI ", {list("hdrl", hdrl), list("movi", movi)})});
}

// Opening takes the first video stream among the first ten, or says exactly why it cannot.
TEST(OpenVideoStream, PicksTheFirstVideoStreamOrSaysWhyNot)
{
    using core::MessageId;
    const size_t V = 40; // a video stream with a 40-byte format; 0: an audio stream
    const std::string dir = freshTempDir("source_bad");
    std::vector<uint8_t> wave = composeFile({V});
    std::copy_n("WAVE", 4, wave.begin() + 8);
    const core::Message notAvi = {MessageId::CouldNotOpenAvi, "Could not open AVI\r"}; // and the path
    const core::Message noVideo = {MessageId::NoVideoStream, "AVI has no video-stream"};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int32_t stream;                       // the video stream taken, or -1
        std::optional<core::Message> message; // from opening, or from reading the stream header
        std::string path = {};                // instead of a file holding bytes
    };
    const Case cases[] = {
        {"video only", composeFile({V}), 0, std::nullopt},
        {"audio first", composeFile({0, V}), 1, std::nullopt},
        {"two video streams", composeFile({0, V, V}), 1, std::nullopt},
        {"video at index 9", composeFile({0, 0, 0, 0, 0, 0, 0, 0, 0, V}), 9, std::nullopt},
        {"video at index 10", composeFile({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, V}), -1, noVideo},
        {"audio only", composeFile({0}), -1, noVideo},
        {"no streams", composeFile({}), -1,
         core::Message{MessageId::UnableToOpenFile, "Unable to open file"}},
        {"41-byte format", composeFile({0, 41}), 1,
         core::Message{MessageId::FormatTooLarge, "Format too large"}},
        {"missing", {}, -1, notAvi, dir + "/no such file.avi"},
        {"folder", {}, -1, notAvi, dir},
        {"empty", {}, -1, notAvi},
        {"text", {'h', 'e', 'l', 'l', 'o', '\n'}, -1, notAvi},
        {"RIFF WAVE", wave, -1, notAvi},
        {"no header list", compose({riffList("AVI ", {list("movi", {chunk("00dc", {1, 2, 3})})})}), -1,
         notAvi},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.path.empty() ? video_test::writeFile("in.avi", c.bytes) : c.path;
        RecordingUiPort ui;
        std::optional<video::Source> source = video::openVideoStream(path, ui);
        EXPECT_EQ(source ? source->videoStream() : -1, c.stream);
        core::AviStreamInfo info;
        info.dwRate = 4242;
        if (source) {
            EXPECT_EQ(video::readStreamInfo(info, *source, ui), !c.message);
            EXPECT_EQ(info.dwRate, c.message ? 4242u : 25u); // left alone on failure
        }
        std::vector<core::Message> expected;
        if (c.message)
            expected.push_back({c.message->id, c.message->text + (c.message->id == notAvi.id ? path : "")});
        EXPECT_EQ(ui.messages, expected);
    }
}

TEST(FrameTables, FindsTheDistanceAndTheFirstFrameOffTheGrid)
{
    struct Case {
        const char* name;
        int32_t count;
        std::vector<int32_t> keys; // empty: every twelfth
        int32_t frameCount;        // passed to findKeyframeDistance
        int32_t distance;
        int32_t offGrid;
    };
    const Case cases[] = {
        {"regular grid of 12", 120, {}, 120, 12, -1},
        {"late key at 25 after a missing 24", 40, {0, 12, 25, 36}, 40, 12, 24},
        {"extra key at 18", 30, {0, 12, 18, 24}, 30, 12, 18},
        {"frame 0 not key", 20, {5, 10, 15}, 20, 5, 0},
        {"only frame 0 key", 100, {0}, 100, 100, -1},
        {"frame count 1 expects every frame key", 3, {0, 1}, 1, 1, 2},
        {"frame count 0", 2, {0, 1}, 0, 1, -1},
        {"empty table", 0, {0}, 0, 1, -1},
        {"distance found within fewer frames", 50, {0, 30}, 20, 20, 20},
        {"frame count beyond the table", 10, {0}, 25, 25, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::FrameTable table;
        table.setSize(c.count);
        for (int32_t i = 0; i < c.count; ++i)
            table[i].isKey = c.keys.empty() ? i % 12 == 0 : std::count(c.keys.begin(), c.keys.end(), i) > 0;
        const int32_t distance = video::findKeyframeDistance(table, c.frameCount);
        EXPECT_EQ(distance, c.distance);
        EXPECT_EQ(video::checkKeyframeLayout(table, distance), c.offGrid);
    }
}

TEST(FrameTables, ReadsSizesAndKeyFlagsAndStopsWhereTheStreamEnds)
{
    std::vector<BuiltFrame> frames = gridFrames(500, 25, 3000, 200);
    frames[7].size = 0; // a dropped frame
    frames[30].key = true;
    const std::string path = freshTempDir("frame_tables") + "/built.avi";
    buildAvi(path, {.frames = frames});
    RecordingUiPort ui;
    std::optional<video::Source> source = video::openVideoStream(path, ui);
    ASSERT_TRUE(source);
    core::FrameTable table;
    table.setSize(1000);
    for (int32_t i = 0; i < 1000; ++i)
        table[i] = {1, 77};
    ASSERT_TRUE(video::readFrameTable(table, 400, *source, ui));
    ASSERT_EQ(table.count(), 400); // shrunk to the frame count
    for (int32_t i = 0; i < 400; ++i)
        ASSERT_EQ(table[i], (core::FrameRecord{frames[i].key ? 1 : 0, frames[i].size})) << i;
    EXPECT_TRUE(ui.messages.empty());

    // Past the stream's end: one message; records beyond keep what was there (here: nothing).
    table.setSize(1000);
    table[700] = {1, 77};
    EXPECT_FALSE(video::readFrameTable(table, 1000, *source, ui));
    EXPECT_EQ(ui.messages, std::vector<core::Message>{core::messages::streamReadError()});
    EXPECT_EQ(ui.messages.at(0).text, "ERROR DURING STREAM-READ!!!");
    EXPECT_EQ(table.count(), 1000);
    EXPECT_EQ(table[499], (core::FrameRecord{0, 200}));
    EXPECT_EQ(table[500], core::FrameRecord{});
    EXPECT_EQ(table[700], (core::FrameRecord{1, 77}));
    EXPECT_EQ(video::findKeyframeDistance(table, 1000), 25);
    EXPECT_EQ(video::checkKeyframeLayout(table, 25), 30);
}

} // namespace
