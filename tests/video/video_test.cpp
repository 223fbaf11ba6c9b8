#include "avi_builder.h"
#include "media.h"
#include "recording_ui_port.h"
#include "riff_composer.h"
#include "video/avi_reader.h"
#include "video/avi_writer.h"
#include "video/frame_tables.h"
#include "video/source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

namespace {

using namespace test_support;
using namespace video;
using Packets = std::vector<ProbePacket>;
using Samples = std::vector<std::vector<uint8_t>>;

// A video stream: its header, format, samples and their key flags (as ffprobe lists packets).
struct Film {
    core::AviStreamInfo info;
    std::vector<uint8_t> format;
    Samples samples;
    Packets packets;
    bool operator==(const Film&) const = default;
};

// Stream of reader as a film; the first `announced` samples are announced and lent, so they come
// from block reads.
Film filmOf(AviReader& reader, int32_t s, int32_t announced = 0)
{
    Film film{reader.streamInfo(s), reader.streamFormat(s), {}, {}};
    reader.adviseWillRead(s, 0, announced);
    std::vector<uint8_t> buffer(film.info.dwSuggestedBufferSize);
    for (int32_t i = 0; i < reader.sampleCount(s); ++i) {
        int32_t size = -1;
        SampleLoan loan;
        EXPECT_EQ(reader.sampleSize(s, i, size), AviStatus::Ok);
        film.packets.push_back({reader.findKeyAtOrBefore(s, i) == i, size});
        EXPECT_EQ(i < announced ? reader.lendSample(s, i, size, loan) : reader.readSample(s, i, buffer, size),
                  AviStatus::Ok);
        if (i >= announced)
            loan.data = std::span(buffer).first(static_cast<size_t>(std::max(size, 0)));
        film.samples.emplace_back(loan.data.begin(), loan.data.end());
    }
    return film;
}

// The video stream (the first or the second stream) of an AVI held in memory.
Film filmOf(const std::vector<uint8_t>& bytes)
{
    auto opened = AviReader::open(std::make_unique<MemoryFileIo>(bytes));
    EXPECT_EQ(opened.status, AviStatus::Ok) << opened.errorText;
    if (!opened.reader)
        return {};
    return filmOf(*opened.reader, opened.reader->streamInfo(0).fccType == core::kStreamTypeVideo ? 0 : 1);
}

enum class Idx1 { None, Relative, Absolute };

struct Shape {
    Idx1 idx1 = Idx1::Relative;
    bool recLists = false; // frames in pairs inside LIST 'rec ', with 'rec ' entries in idx1
    bool junk = false; // an odd-sized JUNK, an unknown chunk and one of a stream the file lacks after every
                       // third frame
    uint32_t compression = core::fourcc("MJPG");
    std::optional<uint32_t> riffSize = std::nullopt;
    std::optional<uint32_t> moviSize = std::nullopt;
    std::vector<size_t> streams = {40}; // video with a format of that many bytes, or audio (0)
};

// 23 frames of odd and even sizes, each starting with an MPEG-4 VOP header of its picture type;
// key frames every fifth, but frame 5 carries nothing. The packets hold the key flags a reader
// must find: without idx1 and without picture types, only the first frame's.
Film framesFor(const Shape& shape)
{
    const bool onlyFirst = shape.idx1 == Idx1::None && shape.compression == core::fourcc("MJPG");
    Film film;
    for (int32_t i = 0; i < 23; ++i) {
        const int32_t size = i == 5 ? 0 : 40 + i * 13 % 50;
        const uint8_t vop[] = {0, 0, 1, 0xB6, static_cast<uint8_t>(i % 5 ? 0x51 : 0x10)}; // P or I
        film.samples.push_back(sampleBytes(i, size));
        std::copy_n(vop, size > 0 ? 5 : 0, film.samples.back().begin());
        film.packets.push_back({size > 0 && (onlyFirst ? i == 0 : i % 5 == 0), size});
    }
    return film;
}

// Composes an AVI of film's frames in the given shape; idx1 flags every fifth frame key.
std::vector<uint8_t> composeAvi(const Film& film, const Shape& shape)
{
    std::vector<RiffChunk> hdrl = {
        chunk("avih", mainHeader(0, static_cast<uint32_t>(shape.streams.size()), 64, 48))};
    for (size_t format : shape.streams) {
        const uint32_t type = format > 0 ? core::kStreamTypeVideo : core::fourcc("auds");
        hdrl.push_back(
            list("strl", {chunk("strh", streamHeader(type, shape.compression, 25, 1, 999)),
                          chunk("strf", format > 0 ? bitmapFormat(64, -48, shape.compression, format)
                                                   : words({1 | 1 << 16, 22050, 44100, 2 | 16 << 16}, 18))}));
    }
    const auto n = static_cast<int32_t>(film.samples.size());
    std::vector<RiffChunk> movi;
    for (int32_t i = 0; i < n; ++i) {
        if (shape.recLists && i % 2 == 0)
            movi.push_back(list("rec ", {}));
        std::vector<RiffChunk>& into = shape.recLists ? movi.back().children : movi;
        into.push_back(chunk("00dc", film.samples[static_cast<size_t>(i)], i));
        if (shape.junk && i % 3 == 2)
            into.insert(into.end(), {chunk("JUNK", std::vector<uint8_t>(5)), chunk("zzzz", {1, 2, 3}),
                                     chunk("07dc", {4})});
    }
    RiffChunk riff = list("AVI ", {list("hdrl", hdrl), list("movi", movi), chunk("idx1", {})}, true);
    riff.sizeField = shape.riffSize;
    riff.children[1].sizeField = shape.moviSize;
    std::map<int32_t, int64_t> at; // idx1 comes last, so filling it moves no chunk
    compose(riff, &at);
    std::vector<uint32_t> idx;
    // Relative offsets count from movi's type, 4 bytes before its first chunk (16 before a rec list's).
    const int64_t base = shape.idx1 == Idx1::Relative ? at[0] - (shape.recLists ? 16 : 4) : 0;
    for (int32_t i = 0; i < n; ++i) {
        if (shape.recLists && i % 2 == 0)
            idx.insert(idx.end(), {core::fourcc("rec "), 1u, static_cast<uint32_t>(at[i] - 12 - base), 0u});
        idx.insert(idx.end(), {core::fourcc("00dc"), i % 5 ? 0u : 0x10u, static_cast<uint32_t>(at[i] - base),
                               static_cast<uint32_t>(film.samples[i].size())});
    }
    riff.children.back().data = words(idx);
    if (shape.idx1 == Idx1::None)
        riff.children.back().id = core::fourcc("xdx1");
    return compose(riff);
}

// Expects the first stream of reader to hold the first count of expected's frames, read directly
// and from block reads.
void expectFilm(AviReader& reader, const Film& expected, size_t count = 23)
{
    const Film film = filmOf(reader, 0, 9);
    EXPECT_EQ(film.packets, Packets(expected.packets.begin(), expected.packets.begin() + count));
    EXPECT_EQ(film.samples, Samples(expected.samples.begin(), expected.samples.begin() + count));
    EXPECT_EQ(film.info.dwLength, count); // the index decides, not the header
    EXPECT_LT(reader.sampleLocation(0, static_cast<int32_t>(count)).offset, 0) << "no frame past the last";
}

TEST(AviReader, ReadsEveryLayout)
{
    const uint32_t xvid = core::fourcc("XVID");
    const std::pair<const char*, Shape> cases[] = {
        {"relative idx1", {}},
        {"absolute idx1", {.idx1 = Idx1::Absolute}},
        {"relative idx1, rec lists", {.recLists = true}},
        {"absolute idx1, rec lists, junk", {.idx1 = Idx1::Absolute, .recLists = true, .junk = true}},
        {"audio stream, junk", {.junk = true, .streams = {40, 0}}},
        {"no idx1, junk", {.idx1 = Idx1::None, .junk = true, .compression = xvid}},
        {"no idx1, rec lists", {.idx1 = Idx1::None, .recLists = true, .compression = core::fourcc("divx")}},
        {"no idx1, no picture types", {.idx1 = Idx1::None}},
        {"unfinished sizes", {.idx1 = Idx1::None, .compression = xvid, .riffSize = 0, .moviSize = ~0u}},
        {"sizes past the end", {Idx1::None, false, false, xvid, 0x7FFFFFF0u, 0x7FFFFFE0u}},
    };
    for (const auto& [name, shape] : cases) {
        SCOPED_TRACE(name);
        const Film frames = framesFor(shape);
        auto opened = AviReader::open(std::make_unique<MemoryFileIo>(composeAvi(frames, shape)));
        ASSERT_EQ(opened.status, AviStatus::Ok);
        expectFilm(*opened.reader, frames);
        EXPECT_EQ(opened.reader->streamFormat(0), bitmapFormat(64, -48, shape.compression));
        EXPECT_EQ(opened.reader->streamInfo(0).rcFrame, (std::array<int32_t, 4>{0, 0, 64, 48})); // from strf
    }
}

TEST(AviReader, SurvivesFilesCutAnywhere)
{
    const Shape shape = {.recLists = true, .compression = core::fourcc("XVID")};
    const Film frames = framesFor(shape);
    const std::vector<uint8_t> whole = composeAvi(frames, shape);
    // Cuts around every chunk's header and the end of its data, and a stride through the rest.
    std::set<int64_t> cuts = {std::ssize(whole)};
    const std::string ids = "RIFF LIST avih strh strf 00dc idx1 rec ";
    for (int64_t at = 0; at + 8 <= std::ssize(whole); ++at) {
        const size_t found = ids.find(std::string(whole.begin() + at, whole.begin() + at + 4));
        const int32_t size = whole[at + 4] | whole[at + 5] << 8 | whole[at + 6] << 16; // < 16 MB here
        for (int64_t d : {-1, 0, 1, 7, 8, 9, 11, 12, 13, size + 7, size + 8, size + 9})
            if ((found != std::string::npos && found % 5 == 0) || (at % 17 == 0 && d == 0))
                cuts.insert(std::clamp<int64_t>(at + d, 0, std::ssize(whole)));
    }
    for (int64_t cut : cuts) {
        SCOPED_TRACE(cut);
        auto opened = AviReader::open(
            std::make_unique<MemoryFileIo>(std::vector<uint8_t>(whole.begin(), whole.begin() + cut)));
        if (opened.status != AviStatus::Ok)
            continue;
        // What survives is a prefix of the frames; without idx1 the index is rebuilt from the chunks.
        const auto count = static_cast<size_t>(opened.reader->sampleCount(0));
        expectFilm(*opened.reader, frames, count);
        EXPECT_TRUE(count == 23 || cut < std::ssize(whole) - 8 - 16 * 35); // idx1 holds 23 + 12 entries
    }
}

// count frames of size bytes with key frames every tenth, as the writer made them.
Film builtFilm(int32_t count, int32_t size)
{
    const std::string path = freshTempDir("writer_film") + "/built.avi";
    buildAvi(path, {.frames = gridFrames(count, 10, size, size)});
    return filmOf(readWholeFile(path));
}

// Writes the whole film: one writeSample call per sample when batch is 0, else writeSamples calls
// of batch samples. Returns the first failure.
AviStatus writeFilm(AviWriter& writer, const Film& film, size_t batch = 0)
{
    if (writer.createStream(film.info) != AviStatus::Ok || writer.setFormat(film.format) != AviStatus::Ok)
        return AviStatus::BadState;
    AviStatus status = AviStatus::Ok;
    for (size_t i = 0; i < film.samples.size() && status == AviStatus::Ok; i += std::max<size_t>(batch, 1)) {
        std::vector<SampleWriter::SampleRef> refs;
        for (size_t j = i; j < std::min(i + batch, film.samples.size()); ++j)
            refs.push_back({film.samples[j], film.packets[j].key});
        int32_t written = -1;
        const auto pos = static_cast<int32_t>(i);
        status = batch == 0 ? writer.writeSample(pos, film.samples[i], film.packets[i].key)
                            : writer.writeSamples(pos, refs, written);
        EXPECT_TRUE(status != AviStatus::Ok || batch == 0 || written == std::ssize(refs));
    }
    return status == AviStatus::Ok ? writer.finish() : status;
}

// Real MPEG-4 films (video only, and audio first) as our reader sees them match ffprobe, also
// without idx1, where key frames are told by their picture type. Copied in one part or in several
// OpenDML parts, one sample at a time or in batches, they give one file that ffmpeg decodes
// cleanly and ffprobe and our reader read back byte for byte.
TEST(AviWriter, CopiesAreReadBackByFfprobeAndOurReader)
{
    for (bool audioFirst : {false, true}) {
        // 300 frames, key frames every 25 (12), quantizer 4 (6), audio first or not
        const std::string source = mediaFile({300, audioFirst ? 12 : 25, audioFirst ? 6 : 4, audioFirst});
        const Film film = filmOf(readWholeFile(source));
        EXPECT_EQ(film.packets, probePackets(source));
        std::vector<uint8_t> noIdx1 = readWholeFile(source);
        noIdx1[std::string(noIdx1.begin(), noIdx1.end()).rfind("idx1")] = 'x';
        EXPECT_EQ(filmOf(noIdx1).packets, film.packets);
        for (int64_t partBytes : {1000LL * 1000 * 1000, 300LL * 1000}) {
            SCOPED_TRACE(std::to_string(audioFirst) + " " + std::to_string(partBytes));
            const std::string dir = freshTempDir("writer_copy");
            const AviWriterOptions options = {.partBytes = partBytes, .writeBufferBytes = 8 * 1024};
            for (size_t batch : {0, 7}) {
                std::string error;
                // The write buffer is smaller than some samples, so both of its paths are taken.
                const auto writer =
                    AviWriter::create(createFileForWrite(dir + "/" + std::to_string(batch), error), options)
                        .writer;
                ASSERT_EQ(writeFilm(*writer, film, batch), AviStatus::Ok) << writer->errorText();
            }
            const std::vector<uint8_t> bytes = readWholeFile(dir + "/0");
            EXPECT_EQ(readWholeFile(dir + "/7"), bytes) << "writeSamples must write what writeSample writes";
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("AVIX") == std::string::npos,
                      partBytes > 1000 * 1000);
            EXPECT_EQ(decodeErrors(dir + "/0"), "");
            EXPECT_EQ(probePackets(dir + "/0"), film.packets);
            EXPECT_EQ(filmOf(bytes), film) << "the stream header is copied field by field";
            EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 56, bytes.begin() + 60),
                      (std::vector<uint8_t>{1, 0, 0, 0}))
                << "avih counts one stream";
        }
    }
}

TEST(AviWriter, KeepsCallsInOrderFillsGapsAndFinishesWhenDropped)
{
    auto file = std::make_unique<MemoryFileIo>();
    const auto contents = file->contents();
    auto writer = AviWriter::create(std::move(file), {}).writer;
    const Film film = builtFilm(1, 101);
    const SampleWriter::SampleRef empty[] = {{{}, true}};
    int32_t written = -1;
    EXPECT_EQ(writer->writeSample(0, film.samples[0], true), AviStatus::BadState);
    ASSERT_EQ(writer->createStream(film.info), AviStatus::Ok);
    ASSERT_EQ(writer->setFormat(film.format), AviStatus::Ok);
    ASSERT_EQ(writer->writeSample(0, film.samples[0], true), AviStatus::Ok);
    EXPECT_EQ(writer->setFormat(film.format), AviStatus::BadState);
    ASSERT_EQ(writer->writeSample(3, film.samples[0], false), AviStatus::Ok);
    ASSERT_EQ(writer->writeSamples(4, empty, written), AviStatus::Ok);
    EXPECT_EQ(writer->writeSample(2, film.samples[0], true), AviStatus::BadParameter);
    EXPECT_EQ(writer->writeSamples(2, empty, written), AviStatus::BadParameter);
    writer.reset(); // dropped unfinished, it finishes the file
    // Gaps are empty samples; an empty sample is never a key frame.
    const Film copy = filmOf(*contents);
    EXPECT_EQ(copy.packets, (Packets{{true, 101}, {false, 0}, {false, 0}, {false, 101}, {false, 0}}));
    EXPECT_EQ(copy.info.dwSuggestedBufferSize, 101u);
}

// A write that fails anywhere in the file, one sample or a batch at a time, is reported with the
// system's text, and the writer refuses to carry on as if nothing happened.
TEST(AviWriter, ReportsAWriteFailingAnywhere)
{
    const Film film = builtFilm(60, 1200);
    const AviWriterOptions options = {.partBytes = 30000, .writeBufferBytes = 4096};
    for (size_t batch : {0, 7}) {
        for (int64_t failAfter : {0, 100, 5000, 40000, 80000}) {
            SCOPED_TRACE(std::to_string(batch) + " " + std::to_string(failAfter));
            const auto writer =
                AviWriter::create(std::make_unique<MemoryFileIo>(std::vector<uint8_t>{}, failAfter), options)
                    .writer;
            EXPECT_EQ(writeFilm(*writer, film, batch), AviStatus::WriteFailed);
            EXPECT_EQ(writer->errorText(), "No space left on device");
            EXPECT_EQ(writer->writeSample(writer->sampleCount(), {}, false), AviStatus::WriteFailed);
            EXPECT_EQ(writer->finish(), AviStatus::WriteFailed);
        }
        if (!std::filesystem::exists("/dev/full"))
            continue;
        std::string error;
        const auto full = AviWriter::create(createFileForWrite("/dev/full", error), {}).writer;
        EXPECT_EQ(writeFilm(*full, film, batch), AviStatus::WriteFailed);
        EXPECT_EQ(full->errorText(), "No space left on device");
        // The file layer says so for one write and for a batch of pieces.
        const auto file = createFileForWrite("/dev/full", error);
        const std::vector<uint8_t> bytes(10, 1);
        const std::span<const uint8_t> pieces[] = {bytes, bytes};
        EXPECT_FALSE(file->writeAt(0, bytes));
        EXPECT_FALSE(file->writePiecesAt(0, pieces));
    }
}

// Opening takes the first video stream among the first ten, or says exactly why it cannot.
TEST(OpenVideoStream, PicksTheFirstVideoStreamOrSaysWhyNot)
{
    using core::MessageId;
    const size_t V = 40; // a video stream with a 40-byte format; 0: an audio stream
    const std::string path = freshTempDir("source") + "/the film.avi";
    const core::Message notAvi = {MessageId::CouldNotOpenAvi, "Could not open AVI\r" + path};
    const core::Message noVideo = {MessageId::NoVideoStream, "AVI has no video-stream"};
    struct Case {
        const char* name;
        std::optional<std::vector<uint8_t>> bytes; // the file's, or no file
        int32_t stream;                            // the video stream taken, or -1
        std::optional<core::Message> message;      // from opening, or from reading the stream header
    };
    const Case cases[] = {
        {"video only", composeAvi({}, {.streams = {V}}), 0, std::nullopt},
        {"two video streams", composeAvi({}, {.streams = {0, V, V}}), 1, std::nullopt},
        {"video at index 9", composeAvi({}, {.streams = {0, 0, 0, 0, 0, 0, 0, 0, 0, V}}), 9, std::nullopt},
        {"video at index 10", composeAvi({}, {.streams = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, V}}), -1, noVideo},
        {"audio only", composeAvi({}, {.streams = {0}}), -1, noVideo},
        {"no streams", composeAvi({}, {.streams = {}}), -1,
         core::Message{MessageId::UnableToOpenFile, "Unable to open file"}},
        {"41-byte format", composeAvi({}, {.streams = {0, 41}}), 1,
         core::Message{MessageId::FormatTooLarge, "Format too large"}},
        {"missing", std::nullopt, -1, notAvi},
        {"empty", std::vector<uint8_t>{}, -1, notAvi},
        {"text", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}, -1, notAvi},
        {"RIFF WAVE", compose(list("WAVE", {chunk("fmt ", {})}, true)), -1, notAvi},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path);
        if (c.bytes)
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(c.bytes->data()), std::ssize(*c.bytes));
        RecordingUiPort ui;
        std::optional<Source> source = openVideoStream(path, ui);
        EXPECT_EQ(source ? source->videoStream() : -1, c.stream);
        core::AviStreamInfo info{.dwRate = 4242};
        EXPECT_EQ(source && readStreamInfo(info, *source, ui), source && !c.message);
        EXPECT_EQ(info.dwRate, source && !c.message ? 25u : 4242u); // left alone on failure
        EXPECT_EQ(ui.messages, c.message ? std::vector{*c.message} : std::vector<core::Message>{});
    }
}

TEST(FrameTables, FindsTheDistanceAndTheFirstFrameOffTheGrid)
{
    struct Case {
        const char* name;
        int32_t count, frameCount, distance, offGrid; // frameCount is passed to findKeyframeDistance
        std::vector<int32_t> keys;                    // empty: every twelfth
    };
    const Case cases[] = {
        {"regular grid of 12", 120, 120, 12, -1, {}},
        {"late key at 25 after a missing 24", 40, 40, 12, 24, {0, 12, 25, 36}},
        {"extra key at 18", 30, 30, 12, 18, {0, 12, 18, 24}},
        {"frame 0 not key", 20, 20, 5, 0, {5, 10, 15}},
        {"only frame 0 key", 100, 100, 100, -1, {0}},
        {"frame count 1 expects every frame key", 3, 1, 1, 2, {0, 1}},
        {"frame count 0", 2, 0, 1, -1, {0, 1}},
        {"empty table", 0, 0, 1, -1, {0}},
        {"distance found within fewer frames", 50, 20, 20, 20, {0, 30}},
        {"frame count beyond the table", 10, 25, 25, -1, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::FrameTable table;
        table.setSize(c.count);
        for (int32_t i = 0; i < c.count; ++i)
            table[i].isKey = c.keys.empty() ? i % 12 == 0 : std::count(c.keys.begin(), c.keys.end(), i) > 0;
        const int32_t distance = findKeyframeDistance(table, c.frameCount);
        EXPECT_EQ(distance, c.distance);
        EXPECT_EQ(checkKeyframeLayout(table, distance), c.offGrid);
    }
}

// Reading stops with one message where the stream ends, and records past it keep what was there;
// a shorter read shrinks the table to the frame count.
TEST(FrameTables, ReadsSizesAndKeyFlagsUpToTheStreamEnd)
{
    std::vector<BuiltFrame> frames = gridFrames(500, 25, 3000, 200);
    frames[7].size = 0; // a dropped frame
    const std::string path = freshTempDir("frame_tables") + "/built.avi";
    buildAvi(path, {.frames = frames});
    RecordingUiPort ui;
    std::optional<Source> source = openVideoStream(path, ui);
    ASSERT_TRUE(source);
    core::FrameTable table;
    table.setSize(1200);
    ASSERT_TRUE(readFrameTable(table, 400, *source, ui));
    EXPECT_EQ(table.count(), 400);
    table.setSize(1000);
    table[700] = {1, 77};
    EXPECT_FALSE(readFrameTable(table, 1000, *source, ui));
    EXPECT_EQ(ui.messages, (std::vector<core::Message>{
                               {core::MessageId::StreamReadError, "ERROR DURING STREAM-READ!!!"}}));
    ASSERT_EQ(table.count(), 1000);
    for (int32_t i = 0; i < 1000; ++i) {
        const BuiltFrame f =
            i < 500 ? frames[static_cast<size_t>(i)] : BuiltFrame{i == 700 ? 77 : 0, i == 700};
        ASSERT_EQ(table[i], (core::FrameRecord{f.key, f.size})) << i;
    }
    EXPECT_TRUE(readFrameTable(table, 0, *source, ui));
    EXPECT_EQ(table.count(), 0);
}

} // namespace
