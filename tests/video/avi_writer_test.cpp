#include "video_test_helpers.h"

#include <filesystem>

namespace {

using namespace test_support;
using video::AviStatus;
using video_test::Packets;

// A video stream to write: its header, format, samples and their key flags.
struct Film {
    core::AviStreamInfo info;
    std::vector<uint8_t> format;
    video_test::Samples samples;
    Packets packets;
};

// count frames of size bytes (sample i holds sampleBytes(i, size)), key frames every tenth.
Film syntheticFilm(int32_t count, int32_t size)
{
    Film film{{}, bitmapFormat(64, 48, core::fourcc("XVID")), {}, {}};
    film.info.fccType = core::kStreamTypeVideo;
    film.info.dwScale = 1001;
    film.info.dwRate = 30000;
    film.info.dwLength = 12345; // recomputed by the writer, as is the buffer size
    for (int32_t i = 0; i < count; ++i) {
        film.samples.push_back(sampleBytes(i, size));
        film.packets.push_back({i % 10 == 0, size});
    }
    return film;
}

// The first video stream of an AVI, as our reader sees it.
Film filmOf(const std::vector<uint8_t>& bytes)
{
    auto reader = video_test::openBytes(bytes);
    if (!reader)
        return {};
    const int32_t s = video_test::videoStreamOf(*reader);
    return {reader->streamInfo(s), reader->streamFormat(s), video_test::samplesOf(*reader, s),
            video_test::packetsOf(*reader, s)};
}

std::unique_ptr<video::AviWriter> writerFor(std::unique_ptr<video::FileIo> file,
                                            const video::AviWriterOptions& options = {})
{
    auto created = video::AviWriter::create(std::move(file), options);
    EXPECT_EQ(created.status, AviStatus::Ok) << created.errorText;
    return std::move(created.writer);
}

// Writes the whole film: one writeSample call per sample when batch is 0, else writeSamples calls
// of batch samples. Returns the first failure.
AviStatus writeFilm(video::AviWriter& writer, const Film& film, size_t batch = 0)
{
    if (writer.createStream(film.info) != AviStatus::Ok || writer.setFormat(film.format) != AviStatus::Ok)
        return AviStatus::BadState;
    for (size_t i = 0; i < film.samples.size(); i += std::max<size_t>(batch, 1)) {
        std::vector<video::SampleWriter::SampleRef> refs;
        for (size_t j = i; j < std::min(i + batch, film.samples.size()); ++j)
            refs.push_back({film.samples[j], film.packets[j].key});
        int32_t written = -1;
        const auto pos = static_cast<int32_t>(i);
        const AviStatus status = batch == 0 ? writer.writeSample(pos, film.samples[i], film.packets[i].key)
                                            : writer.writeSamples(pos, refs, written);
        if (status != AviStatus::Ok)
            return status;
        EXPECT_TRUE(batch == 0 || written == static_cast<int32_t>(refs.size()));
    }
    return writer.finish();
}

// Real MPEG-4 films (video only, and audio first) as our reader sees them match ffprobe, also
// without idx1, where key frames are told by their picture type. Copied in one part or in several
// OpenDML parts, one sample at a time or in batches, they give one file that ffmpeg decodes
// cleanly and ffprobe and our reader read back byte for byte.
TEST(AviWriter, CopiesAreReadBackByFfprobeAndOurReader)
{
    for (bool audioFirst : {false, true}) {
        const std::string source = mediaFile({.frames = 300,
                                              .keyframeDistance = audioFirst ? 12 : 25,
                                              .quantizer = audioFirst ? 6 : 4,
                                              .audioFirst = audioFirst});
        const Film film = filmOf(readWholeFile(source));
        EXPECT_EQ(film.packets, probePackets(source));
        EXPECT_EQ(film.packets.size(), 300u);
        std::vector<uint8_t> noIdx1 = readWholeFile(source);
        const std::string idx1 = "idx1";
        *std::find_end(noIdx1.begin(), noIdx1.end(), idx1.begin(), idx1.end()) = 'x';
        EXPECT_EQ(filmOf(noIdx1).packets, film.packets);
        for (int64_t partBytes : {1000LL * 1000 * 1000, 300LL * 1000}) {
            SCOPED_TRACE(std::to_string(audioFirst) + " " + std::to_string(partBytes));
            const std::string dir = freshTempDir("writer_copy");
            for (size_t batch : {0, 7}) {
                std::string error;
                // The write buffer is smaller than some samples, so both of its paths are taken.
                auto writer = writerFor(video::createFileForWrite(dir + "/" + std::to_string(batch), error),
                                        {.partBytes = partBytes, .writeBufferBytes = 8 * 1024});
                ASSERT_EQ(writeFilm(*writer, film, batch), AviStatus::Ok) << writer->errorText();
            }
            const std::vector<uint8_t> bytes = readWholeFile(dir + "/0");
            EXPECT_EQ(readWholeFile(dir + "/7"), bytes) << "writeSamples must write what writeSample writes";
            const std::string part = "AVIX";
            EXPECT_EQ(std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end(),
                      partBytes < 1000 * 1000);
            EXPECT_EQ(decodeErrors(dir + "/0"), "");
            EXPECT_EQ(probePackets(dir + "/0"), film.packets);
            const Film copy = filmOf(bytes);
            EXPECT_EQ(copy.info, film.info) << "the stream header is copied field by field";
            EXPECT_EQ(copy.format, film.format);
            EXPECT_EQ(copy.samples, film.samples);
            EXPECT_EQ(copy.packets, film.packets);
        }
    }
}

TEST(AviWriter, KeepsCallsInOrderFillsGapsAndFinishesWhenDropped)
{
    auto file = std::make_unique<MemoryFileIo>();
    auto contents = file->contents();
    {
        auto writer = writerFor(std::move(file));
        const Film film = syntheticFilm(1, 101);
        const video::SampleWriter::SampleRef empty[] = {{{}, true}};
        int32_t written = -1;
        EXPECT_EQ(writer->writeSample(0, film.samples[0], true), AviStatus::BadState);
        ASSERT_EQ(writer->createStream(film.info), AviStatus::Ok);
        EXPECT_EQ(writer->createStream(film.info), AviStatus::BadState);
        ASSERT_EQ(writer->setFormat(film.format), AviStatus::Ok);
        EXPECT_EQ(writer->writeSample(-1, film.samples[0], true), AviStatus::BadParameter);
        ASSERT_EQ(writer->writeSample(0, film.samples[0], true), AviStatus::Ok);
        EXPECT_EQ(writer->setFormat(film.format), AviStatus::BadState);
        ASSERT_EQ(writer->writeSample(3, film.samples[0], false), AviStatus::Ok);
        ASSERT_EQ(writer->writeSamples(4, empty, written), AviStatus::Ok);
        EXPECT_EQ(writer->writeSample(2, film.samples[0], true), AviStatus::BadParameter);
        EXPECT_EQ(writer->writeSamples(2, empty, written), AviStatus::BadParameter);
    }
    // Gaps are empty samples; an empty sample is never a key frame.
    const Film film = filmOf(*contents);
    EXPECT_EQ(film.packets, (Packets{{true, 101}, {false, 0}, {false, 0}, {false, 101}, {false, 0}}));
    EXPECT_EQ(film.info.dwLength, 5u);
    EXPECT_EQ(film.info.dwSuggestedBufferSize, 101u);
    EXPECT_EQ(film.info.dwRate, 30000u);
}

// A write that fails anywhere in the file, one sample or a batch at a time, is reported with the
// system's text, and the writer refuses to carry on as if nothing happened.
TEST(AviWriter, ReportsAWriteFailingAnywhere)
{
    const Film film = syntheticFilm(60, 1200);
    for (size_t batch : {0, 7}) {
        for (int64_t failAfter : {0, 100, 5000, 40000, 80000}) {
            SCOPED_TRACE(std::to_string(batch) + " " + std::to_string(failAfter));
            auto writer = writerFor(std::make_unique<MemoryFileIo>(std::vector<uint8_t>{}, failAfter),
                                    {.partBytes = 30000, .writeBufferBytes = 4096});
            EXPECT_EQ(writeFilm(*writer, film, batch), AviStatus::WriteFailed);
            EXPECT_EQ(writer->errorText(), "No space left on device");
            EXPECT_EQ(writer->writeSample(writer->sampleCount(), {}, false), AviStatus::WriteFailed);
            EXPECT_EQ(writer->finish(), AviStatus::WriteFailed);
        }
        if (!std::filesystem::exists("/dev/full"))
            continue;
        std::string error;
        auto full = writerFor(video::createFileForWrite("/dev/full", error));
        EXPECT_EQ(writeFilm(*full, film, batch), AviStatus::WriteFailed);
        EXPECT_EQ(full->errorText(), "No space left on device");
    }
    auto created = video::AviWriter::create("/nonexistent-folder/out.avi");
    EXPECT_EQ(created.status, AviStatus::CannotOpen);
    EXPECT_EQ(created.errorText, "No such file or directory");
}

} // namespace
