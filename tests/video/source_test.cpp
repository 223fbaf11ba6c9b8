#include "avi_builder.h"
#include "media.h"
#include "recording_ui_port.h"
#include "riff_composer.h"
#include "video/source.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using test_support::RiffChunk;

// The stream list of one stream of type with format, and one sample of 10 bytes in movi.
struct StreamShape {
    uint32_t type;
    std::vector<uint8_t> format;
};

std::vector<uint8_t> composeFile(const std::vector<StreamShape>& streams)
{
    std::vector<RiffChunk> hdrl = {test_support::chunk(
        "avih", test_support::mainHeader(1, static_cast<uint32_t>(streams.size()), 64, 48))};
    std::vector<RiffChunk> movi;
    for (size_t s = 0; s < streams.size(); ++s) {
        const bool video = streams[s].type == core::kStreamTypeVideo;
        hdrl.push_back(test_support::list(
            "strl", {test_support::chunk("strh", test_support::streamHeader(streams[s].type, 0, 25, 1, 1)),
                     test_support::chunk("strf", streams[s].format)}));
        const char name[5] = {static_cast<char>('0' + s / 10), static_cast<char>('0' + s % 10),
                              video ? 'd' : 'w', video ? 'c' : 'b', 0};
        RiffChunk sample = test_support::chunk("00dc", std::vector<uint8_t>(10, static_cast<uint8_t>(s)));
        sample.id = core::fourcc(name);
        movi.push_back(sample);
    }
    return test_support::compose({test_support::riffList(
        "AVI ", {test_support::list("hdrl", hdrl), test_support::list("movi", movi)})});
}

StreamShape videoShape(size_t formatBytes = 40)
{
    return {core::kStreamTypeVideo, test_support::bitmapFormat(64, 48, core::fourcc("XVID"), formatBytes)};
}

StreamShape audioShape()
{
    return {core::fourcc("auds"), test_support::pcmFormat(22050, 1)};
}

std::string writeFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::string path = test_support::freshTempDir("source_" + name) + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(OpenVideoStream, PicksTheFirstVideoStreamAmongTheFirstTen)
{
    struct Case {
        const char* name;
        std::vector<StreamShape> streams;
        int32_t expectedStream; // -1: "AVI has no video-stream"
    };
    std::vector<StreamShape> tenAudio(10, audioShape());
    std::vector<StreamShape> tenAudioThenVideo = tenAudio;
    tenAudioThenVideo.push_back(videoShape());
    std::vector<StreamShape> nineAudioThenVideo(9, audioShape());
    nineAudioThenVideo.push_back(videoShape());
    const Case cases[] = {
        {"video only", {videoShape()}, 0},
        {"audio first", {audioShape(), videoShape()}, 1},
        {"two video streams", {audioShape(), videoShape(), videoShape()}, 1},
        {"audio only", {audioShape()}, -1},
        {"video at index 9", nineAudioThenVideo, 9},
        {"video at index 10", tenAudioThenVideo, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::RecordingUiPort ui;
        std::optional<video::Source> source =
            video::openVideoStream(writeFile("streams.avi", composeFile(c.streams)), ui);
        if (c.expectedStream < 0) {
            EXPECT_FALSE(source);
            EXPECT_EQ(ui.messageIds(), std::vector<core::MessageId>{core::MessageId::NoVideoStream});
            EXPECT_EQ(ui.messages.at(0).text, "AVI has no video-stream");
        } else {
            ASSERT_TRUE(source);
            EXPECT_EQ(source->videoStream(), c.expectedStream);
            EXPECT_EQ(source->sampleCount(), 1);
            EXPECT_TRUE(ui.messages.empty());
        }
    }
}

TEST(OpenVideoStream, ReportsFilesThatCannotBeOpened)
{
    const std::string dir = test_support::freshTempDir("source_bad");
    const std::string missing = dir + "/no such file.avi";
    const std::string empty = writeFile("empty.avi", {});
    const std::string text =
        writeFile("text.avi", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd',
                                                   '\n', 'a', 'g', 'a', 'i', 'n'});
    std::vector<uint8_t> wave = composeFile({videoShape()});
    wave[8] = 'W', wave[9] = 'A', wave[10] = 'V', wave[11] = 'E';
    const std::string notAvi = writeFile("wave.avi", wave);
    for (const std::string& path : {missing, empty, text, notAvi, dir}) {
        SCOPED_TRACE(path);
        test_support::RecordingUiPort ui;
        EXPECT_FALSE(video::openVideoStream(path, ui));
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0], core::messages::couldNotOpenAvi(path));
        EXPECT_EQ(ui.messages[0].text, "Could not open AVI\r" + path);
    }
}

TEST(OpenVideoStream, ReportsAFileWithoutStreams)
{
    const std::vector<uint8_t> bytes = test_support::compose({test_support::riffList(
        "AVI ",
        {test_support::list("hdrl", {test_support::chunk("avih", test_support::mainHeader(0, 0, 64, 48))}),
         test_support::list("movi", {})})});
    test_support::RecordingUiPort ui;
    EXPECT_FALSE(video::openVideoStream(writeFile("nostreams.avi", bytes), ui));
    EXPECT_EQ(ui.messages, std::vector<core::Message>{core::messages::unableToOpenFile()});
    EXPECT_EQ(ui.messages.at(0).text, "Unable to open file");
}

TEST(ReadStreamInfo, RefusesFormatsLongerThanFortyBytes)
{
    for (size_t formatBytes : {size_t{40}, size_t{41}, size_t{1064}}) {
        SCOPED_TRACE(formatBytes);
        test_support::RecordingUiPort ui;
        std::optional<video::Source> source = video::openVideoStream(
            writeFile("format.avi", composeFile({audioShape(), videoShape(formatBytes)})), ui);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->format().size(), formatBytes);
        core::AviStreamInfo info;
        info.dwRate = 4242;
        const core::AviStreamInfo before = info;
        const bool ok = video::readStreamInfo(info, *source, ui);
        if (formatBytes <= 40) {
            EXPECT_TRUE(ok);
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_EQ(info, source->info());
            EXPECT_EQ(info.fccType, core::kStreamTypeVideo);
            EXPECT_EQ(info.dwRate, 25u);
            EXPECT_EQ(info.dwLength, 1u);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(ui.messages, std::vector<core::Message>{core::messages::formatTooLarge()});
            EXPECT_EQ(ui.messages.at(0).text, "Format too large");
            EXPECT_EQ(info, before);
        }
    }
}

TEST(CloseSource, EmptiesTheSlotAndReleasesTheFile)
{
    const std::string path = writeFile("close.avi", composeFile({videoShape()}));
    test_support::RecordingUiPort ui;
    std::optional<video::Source> slot = video::openVideoStream(path, ui);
    ASSERT_TRUE(slot);
    video::closeSource(slot);
    EXPECT_FALSE(slot);
    video::closeSource(slot); // an empty slot stays empty
    EXPECT_FALSE(slot);
}

TEST(Source, ReadsSamplesAndRefusesBadRequests)
{
    const std::string path = test_support::freshTempDir("source_read") + "/built.avi";
    test_support::AviBuildSpec layout;
    layout.frames = test_support::gridFrames(30, 10, 900, 101);
    test_support::buildAvi(path, layout);
    test_support::RecordingUiPort ui;
    std::optional<video::Source> source = video::openVideoStream(path, ui);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->largestSampleSize(), 900);
    std::vector<uint8_t> buffer(900);
    int32_t bytes = -1;
    ASSERT_EQ(source->readSample(11, buffer, bytes), video::AviStatus::Ok);
    EXPECT_EQ(bytes, 101);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 101, test_support::sampleBytes(11, 101).begin()));

    struct Case {
        const char* name;
        int32_t pos;
        size_t room;
        video::AviStatus expected;
    };
    const Case cases[] = {{"before the stream", -1, 900, video::AviStatus::BadPosition},
                          {"past the stream", 30, 900, video::AviStatus::BadPosition},
                          {"one byte short", 10, 899, video::AviStatus::BufferTooSmall},
                          {"exact room", 10, 900, video::AviStatus::Ok}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bytes = -1;
        EXPECT_EQ(source->readSample(c.pos, std::span(buffer).first(c.room), bytes), c.expected);
        EXPECT_EQ(bytes, c.expected == video::AviStatus::Ok ? 900 : 0);
    }
    EXPECT_EQ(source->findKeyAtOrBefore(29), 20);
    EXPECT_EQ(source->findKeyAtOrBefore(30), -1);
    EXPECT_EQ(source->findKeyAtOrBefore(-1), -1);
}

} // namespace
