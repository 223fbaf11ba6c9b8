#include "avi_builder.h"
#include "media.h"
#include "riff_composer.h"
#include "video/avi_reader.h"
#include "video/avi_writer.h"
#include "video_test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <span>

namespace {

using test_support::BuiltFrame;
using test_support::ProbePacket;
using video_test::SampleFacts;

uint32_t u32At(const std::vector<uint8_t>& bytes, size_t at)
{
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// Counts where a four-character code occurs at a chunk-aligned position of a top-level walk.
int32_t countTopLevel(const std::vector<uint8_t>& bytes, uint32_t type)
{
    int32_t count = 0;
    size_t pos = 0;
    while (pos + 12 <= bytes.size()) {
        if (u32At(bytes, pos + 8) == type)
            ++count;
        pos += 8 + u32At(bytes, pos + 4);
    }
    return count;
}

int32_t occurrences(const std::vector<uint8_t>& bytes, const std::string& text)
{
    int32_t count = 0;
    for (auto at = bytes.begin();
         (at = std::search(at, bytes.end(), text.begin(), text.end())) != bytes.end(); ++at)
        ++count;
    return count;
}

std::vector<ProbePacket> expectedPackets(const std::vector<BuiltFrame>& frames)
{
    std::vector<ProbePacket> packets;
    for (const BuiltFrame& frame : frames)
        packets.push_back({frame.key && frame.size > 0, frame.size});
    return packets;
}

std::vector<ProbePacket> asPackets(const std::vector<SampleFacts>& facts)
{
    std::vector<ProbePacket> packets;
    for (const SampleFacts& f : facts)
        packets.push_back({f.key, f.size});
    return packets;
}

// Frames of varying, partly odd sizes with key frames every twelfth frame.
std::vector<BuiltFrame> mixedFrames(int32_t count, int32_t baseSize)
{
    std::vector<BuiltFrame> frames;
    for (int32_t i = 0; i < count; ++i)
        frames.push_back({baseSize + (i * 37) % 1001, i % 12 == 0});
    return frames;
}

struct LayoutCase {
    const char* name;
    int32_t frames;
    int32_t baseSize;
    int64_t partBytes;
    int32_t expectedParts;
};

class WriterLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(WriterLayout, OutputIsReadBackByFfprobeAndOurReader)
{
    const LayoutCase& c = GetParam();
    const std::string dir = test_support::freshTempDir(std::string("writer_layout_") + c.name);
    const std::string path = dir + "/out.avi";
    test_support::AviBuildSpec layout;
    layout.frames = mixedFrames(c.frames, c.baseSize);
    video::AviWriterOptions options;
    options.partBytes = c.partBytes;
    options.writeBufferBytes = 64 * 1024; // smaller than some samples, so both paths are used
    test_support::buildAvi(path, layout, options);

    const std::vector<uint8_t> bytes = test_support::readWholeFile(path);
    EXPECT_EQ(countTopLevel(bytes, core::fourcc("AVI ")), 1);
    EXPECT_EQ(countTopLevel(bytes, core::fourcc("AVIX")), c.expectedParts - 1);
    // One part is plain AVI 1.0: the OpenDML headers stay reserved as JUNK.
    const bool openDml = c.expectedParts > 1;
    EXPECT_EQ(occurrences(bytes, "indx"), openDml ? 1 : 0);
    EXPECT_EQ(occurrences(bytes, "odmldmlh"), openDml ? 1 : 0);
    EXPECT_EQ(occurrences(bytes, "idx1"), 1);
    EXPECT_EQ(occurrences(bytes, "ix00"), openDml ? c.expectedParts : 0);
    if (openDml) {
        const size_t dmlh = static_cast<size_t>(
            std::search(bytes.begin(), bytes.end(), std::begin("dmlh"), std::end("dmlh") - 1) -
            bytes.begin());
        EXPECT_EQ(u32At(bytes, dmlh + 8), static_cast<uint32_t>(c.frames));
    }

    EXPECT_EQ(test_support::probePackets(path), expectedPackets(layout.frames));

    auto opened = video::AviReader::open(path);
    ASSERT_EQ(opened.status, video::AviStatus::Ok) << opened.errorText;
    EXPECT_EQ(asPackets(video_test::sampleFacts(*opened.reader, 0)), expectedPackets(layout.frames));
    EXPECT_TRUE(video_test::sampleBytesEqual(*opened.reader, 0, c.frames, [&](int32_t i) {
        return test_support::sampleBytes(i, layout.frames[static_cast<size_t>(i)].size);
    }));
    const int32_t largest =
        std::max_element(layout.frames.begin(), layout.frames.end(), [](auto& a, auto& b) {
            return a.size < b.size;
        })->size;
    EXPECT_EQ(opened.reader->streamInfo(0).dwLength, static_cast<uint32_t>(c.frames));
    EXPECT_EQ(opened.reader->streamInfo(0).dwSuggestedBufferSize, static_cast<uint32_t>(largest));

    // The headers: strh counts every frame, avih the frames of the first part only.
    const uint32_t strhLength = u32At(bytes, 0x6C + 32);
    const uint32_t avihFrames = u32At(bytes, 32 + 16);
    EXPECT_EQ(u32At(bytes, 0x64), core::fourcc("strh"));
    EXPECT_EQ(strhLength, static_cast<uint32_t>(c.frames));
    if (c.expectedParts == 1)
        EXPECT_EQ(avihFrames, static_cast<uint32_t>(c.frames));
    else
        EXPECT_LT(avihFrames, static_cast<uint32_t>(c.frames));
}

INSTANTIATE_TEST_SUITE_P(Parts, WriterLayout,
                         ::testing::Values(LayoutCase{"one_part", 300, 3000, 1000LL * 1000 * 1000, 1},
                                           LayoutCase{"several_parts", 400, 3000, 300 * 1000, 5},
                                           LayoutCase{"parts_of_few_frames", 40, 60000, 150 * 1000, 20}),
                         [](const auto& param) { return std::string(param.param.name); });

struct CopyCase {
    const char* name;
    int64_t partBytes;
};

class WriterCopy : public ::testing::TestWithParam<CopyCase> {};

// Real MPEG-4 samples copied through the writer decode cleanly and keep their sizes and flags.
TEST_P(WriterCopy, CopiedMpeg4SamplesDecodeCleanly)
{
    const std::string source = test_support::fastMotionAvi(300, 25);
    const std::string path =
        test_support::freshTempDir(std::string("writer_copy_") + GetParam().name) + "/copy.avi";
    video::AviWriterOptions options;
    options.partBytes = GetParam().partBytes;
    video_test::copyVideoStream(source, path, options);
    if (HasFatalFailure())
        return;
    auto opened = video::AviReader::open(source);
    ASSERT_EQ(opened.status, video::AviStatus::Ok);
    video::AviReader& reader = *opened.reader;
    const int32_t stream = video_test::videoStreamOf(reader);

    EXPECT_EQ(test_support::decodeErrors(path), "");
    EXPECT_EQ(test_support::probePackets(path), test_support::probePackets(source));

    auto copy = video::AviReader::open(path);
    ASSERT_EQ(copy.status, video::AviStatus::Ok);
    const core::AviStreamInfo& in = reader.streamInfo(stream);
    const core::AviStreamInfo& out = copy.reader->streamInfo(0);
    EXPECT_EQ(out, in) << "the stream header is copied field by field";
    EXPECT_EQ(copy.reader->streamFormat(0), reader.streamFormat(stream));
    std::vector<uint8_t> buffer(in.dwSuggestedBufferSize);
    EXPECT_TRUE(video_test::sampleBytesEqual(*copy.reader, 0, reader.sampleCount(stream), [&](int32_t i) {
        int32_t bytes = 0;
        EXPECT_EQ(reader.readSample(stream, i, buffer, bytes), video::AviStatus::Ok);
        return std::vector<uint8_t>(buffer.begin(), buffer.begin() + bytes);
    }));
}

INSTANTIATE_TEST_SUITE_P(Parts, WriterCopy,
                         ::testing::Values(CopyCase{"one_part", 1000LL * 1000 * 1000},
                                           CopyCase{"several_parts", 300 * 1000}),
                         [](const auto& param) { return std::string(param.param.name); });

video::AviCreateResult memoryWriter(std::shared_ptr<std::vector<uint8_t>>& contents, int64_t failAfter = -1,
                                    const video::AviWriterOptions& options = {})
{
    auto file = std::make_unique<test_support::MemoryFileIo>(std::vector<uint8_t>{}, failAfter);
    contents = file->contents();
    return video::AviWriter::create(std::move(file), options);
}

core::AviStreamInfo videoInfo()
{
    core::AviStreamInfo info;
    info.fccType = core::kStreamTypeVideo;
    info.fccHandler = core::fourcc("XVID");
    info.dwScale = 1001;
    info.dwRate = 30000;
    info.dwQuality = 0xFFFFFFFFu;
    info.dwLength = 12345;               // recomputed
    info.dwSuggestedBufferSize = 999999; // recomputed
    info.rcFrame = {0, 0, 64, 48};
    return info;
}

TEST(AviWriter, FillsGapsWithEmptySamplesThatAreNeverKey)
{
    std::shared_ptr<std::vector<uint8_t>> contents;
    auto created = memoryWriter(contents);
    video::AviWriter& writer = *created.writer;
    ASSERT_EQ(writer.createStream(videoInfo()), video::AviStatus::Ok);
    ASSERT_EQ(writer.setFormat(test_support::bitmapFormat(64, 48, core::fourcc("XVID"))),
              video::AviStatus::Ok);
    const std::vector<uint8_t> data = test_support::sampleBytes(0, 101);
    ASSERT_EQ(writer.writeSample(0, data, true), video::AviStatus::Ok);
    ASSERT_EQ(writer.writeSample(3, data, false), video::AviStatus::Ok);
    ASSERT_EQ(writer.writeSample(4, {}, true), video::AviStatus::Ok);
    EXPECT_EQ(writer.writeSample(2, data, true), video::AviStatus::BadParameter);
    EXPECT_EQ(writer.sampleCount(), 5);
    ASSERT_EQ(writer.finish(), video::AviStatus::Ok);

    auto reader = video_test::openBytes(*contents);
    ASSERT_TRUE(reader);
    const std::vector<SampleFacts> facts = video_test::sampleFacts(*reader, 0);
    const std::vector<ProbePacket> expected = {{true, 101}, {false, 0}, {false, 0}, {false, 101}, {false, 0}};
    EXPECT_EQ(asPackets(facts), expected);
    EXPECT_EQ(reader->streamInfo(0).dwLength, 5u);
    EXPECT_EQ(reader->streamInfo(0).dwSuggestedBufferSize, 101u);
    EXPECT_EQ(reader->streamInfo(0).dwScale, 1001u);
    EXPECT_EQ(reader->streamInfo(0).dwRate, 30000u);
}

TEST(AviWriter, OutputIsDeterministic)
{
    std::vector<std::vector<uint8_t>> outputs;
    for (int run = 0; run < 2; ++run) {
        std::shared_ptr<std::vector<uint8_t>> contents;
        video::AviWriterOptions options;
        options.partBytes = 20000;
        auto created = memoryWriter(contents, -1, options);
        ASSERT_EQ(created.writer->createStream(videoInfo()), video::AviStatus::Ok);
        ASSERT_EQ(created.writer->setFormat(test_support::bitmapFormat(64, 48, core::fourcc("XVID"))),
                  video::AviStatus::Ok);
        for (int32_t i = 0; i < 50; ++i)
            ASSERT_EQ(created.writer->writeSample(i, test_support::sampleBytes(i, 1000 + i), i % 10 == 0),
                      video::AviStatus::Ok);
        ASSERT_EQ(created.writer->finish(), video::AviStatus::Ok);
        outputs.push_back(*contents);
    }
    EXPECT_EQ(outputs[0], outputs[1]);
}

TEST(AviWriter, MoviDataStartsOnASectorBoundary)
{
    std::shared_ptr<std::vector<uint8_t>> contents;
    auto created = memoryWriter(contents);
    ASSERT_EQ(created.writer->createStream(videoInfo()), video::AviStatus::Ok);
    ASSERT_EQ(created.writer->setFormat(test_support::bitmapFormat(64, 48, core::fourcc("XVID"))),
              video::AviStatus::Ok);
    ASSERT_EQ(created.writer->writeSample(0, test_support::sampleBytes(0, 10), true), video::AviStatus::Ok);
    ASSERT_EQ(created.writer->finish(), video::AviStatus::Ok);
    size_t movi = 12;
    while (movi + 12 <= contents->size() && u32At(*contents, movi + 8) != core::fourcc("movi"))
        movi += 8 + u32At(*contents, movi + 4);
    ASSERT_LT(movi + 20, contents->size());
    EXPECT_EQ((movi + 12) % 2048, 0u);
    EXPECT_EQ(u32At(*contents, movi + 12), core::fourcc("00dc"));
}

TEST(AviWriter, RefusesCallsOutOfOrder)
{
    std::shared_ptr<std::vector<uint8_t>> contents;
    auto created = memoryWriter(contents);
    video::AviWriter& writer = *created.writer;
    const std::vector<uint8_t> data(10, 1);
    EXPECT_EQ(writer.writeSample(0, data, true), video::AviStatus::BadState);
    EXPECT_EQ(writer.setFormat(data), video::AviStatus::BadState);
    ASSERT_EQ(writer.createStream(videoInfo()), video::AviStatus::Ok);
    EXPECT_EQ(writer.createStream(videoInfo()), video::AviStatus::BadState);
    EXPECT_EQ(writer.writeSample(-1, data, true), video::AviStatus::BadParameter);
    ASSERT_EQ(writer.writeSample(0, data, true), video::AviStatus::Ok);
    EXPECT_EQ(writer.setFormat(data), video::AviStatus::BadState);
    ASSERT_EQ(writer.finish(), video::AviStatus::Ok);
    EXPECT_EQ(writer.writeSample(1, data, true), video::AviStatus::BadState);
}

TEST(AviWriter, DestructorFinishesAnUnfinishedFile)
{
    std::shared_ptr<std::vector<uint8_t>> contents;
    {
        auto created = memoryWriter(contents);
        ASSERT_EQ(created.writer->createStream(videoInfo()), video::AviStatus::Ok);
        ASSERT_EQ(created.writer->setFormat(test_support::bitmapFormat(64, 48, core::fourcc("XVID"))),
                  video::AviStatus::Ok);
        for (int32_t i = 0; i < 7; ++i)
            ASSERT_EQ(created.writer->writeSample(i, test_support::sampleBytes(i, 333), i == 0),
                      video::AviStatus::Ok);
    }
    auto reader = video_test::openBytes(*contents);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->sampleCount(0), 7);
    EXPECT_TRUE(video_test::sampleBytesEqual(*reader, 0, 7,
                                             [](int32_t i) { return test_support::sampleBytes(i, 333); }));
}

// A write that fails at any point of the file is reported with the system's text, and the writer
// refuses to carry on as if nothing happened.
TEST(AviWriter, ReportsAWriteFailingAnywhere)
{
    for (int64_t failAfter : {int64_t{0}, int64_t{100}, int64_t{5000}, int64_t{40000}, int64_t{80000}}) {
        SCOPED_TRACE(failAfter);
        std::shared_ptr<std::vector<uint8_t>> contents;
        video::AviWriterOptions options;
        options.writeBufferBytes = 4096;
        options.partBytes = 30000;
        auto created = memoryWriter(contents, failAfter, options);
        video::AviWriter& writer = *created.writer;
        ASSERT_EQ(writer.createStream(videoInfo()), video::AviStatus::Ok);
        ASSERT_EQ(writer.setFormat(test_support::bitmapFormat(64, 48, core::fourcc("XVID"))),
                  video::AviStatus::Ok);
        video::AviStatus status = video::AviStatus::Ok;
        for (int32_t i = 0; i < 60 && status == video::AviStatus::Ok; ++i)
            status = writer.writeSample(i, test_support::sampleBytes(i, 1200), i % 10 == 0);
        if (status == video::AviStatus::Ok)
            status = writer.finish();
        EXPECT_EQ(status, video::AviStatus::WriteFailed);
        EXPECT_EQ(writer.errorText(), "No space left on device");
        EXPECT_EQ(writer.writeSample(writer.sampleCount(), {}, false), video::AviStatus::WriteFailed);
        EXPECT_EQ(writer.finish(), video::AviStatus::WriteFailed);
    }
}

TEST(AviWriter, ReportsAFullDiskWithTheSystemText)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    auto created = video::AviWriter::create("/dev/full");
    ASSERT_EQ(created.status, video::AviStatus::Ok) << created.errorText;
    video::AviWriter& writer = *created.writer;
    ASSERT_EQ(writer.createStream(videoInfo()), video::AviStatus::Ok);
    ASSERT_EQ(writer.setFormat(test_support::bitmapFormat(64, 48, core::fourcc("XVID"))),
              video::AviStatus::Ok);
    video::AviStatus status = video::AviStatus::Ok;
    for (int32_t i = 0; i < 10 && status == video::AviStatus::Ok; ++i)
        status = writer.writeSample(i, test_support::sampleBytes(i, 1000), true);
    if (status == video::AviStatus::Ok)
        status = writer.finish();
    EXPECT_EQ(status, video::AviStatus::WriteFailed);
    EXPECT_EQ(writer.errorText(), "No space left on device");
}

TEST(AviWriter, ReportsAFileThatCannotBeCreated)
{
    auto created = video::AviWriter::create("/nonexistent-folder/out.avi");
    EXPECT_EQ(created.status, video::AviStatus::CannotOpen);
    EXPECT_EQ(created.writer, nullptr);
    EXPECT_EQ(created.errorText, "No such file or directory");
}

} // namespace
