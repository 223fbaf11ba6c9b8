#include "avi_builder.h"
#include "media.h"
#include "riff_composer.h"
#include "video/avi_reader.h"
#include "video_test_helpers.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using test_support::RiffChunk;
using video_test::SampleFacts;

// MPEG-4 frames: a key frame carries a VOL header and an I-VOP, a delta frame a P-VOP.
std::vector<uint8_t> vopFrame(bool intra, size_t size)
{
    std::vector<uint8_t> data;
    if (intra)
        data = {0, 0, 1, 0xB0, 0xF5, 0, 0, 1, 0xB5, 0x09, 0, 0, 1, 0x20, 0x08, 0xC8};
    const std::vector<uint8_t> vop = {0, 0, 1, 0xB6, static_cast<uint8_t>(intra ? 0x10 : 0x51)};
    data.insert(data.end(), vop.begin(), vop.end());
    for (size_t i = data.size(); i < size; ++i)
        data.push_back(static_cast<uint8_t>(i * 7 + 3));
    data.resize(std::max(size, data.size()));
    return data;
}

struct Sample {
    int32_t stream = 0;
    std::vector<uint8_t> data;
    bool key = false;
};

enum class Idx1 { None, Relative, Absolute };

struct Shape {
    Idx1 idx1 = Idx1::Relative;
    bool recLists = false; // pairs of samples inside LIST 'rec '
    bool junk = false;     // an odd-sized JUNK and an unknown chunk after every third sample
    bool audio = false;    // stream 1 is audio
    bool extras = false;   // JUNK, LIST 'INFO' and zero bytes around the lists
    uint32_t compression = core::fourcc("XVID");
    std::optional<uint32_t> riffSize;
    std::optional<uint32_t> moviSize;
    uint32_t strhLength = 999; // what the header claims; the index decides
    int32_t height = 48;
    std::string name; // strn
};

template <typename Change> Shape shapeWith(Change&& change)
{
    Shape shape;
    change(shape);
    return shape;
}

// Composes an AVI from samples with the given shape.
std::vector<uint8_t> composeAvi(const std::vector<Sample>& samples, const Shape& shape)
{
    std::vector<RiffChunk> strl = {
        test_support::chunk("strh", test_support::streamHeader(core::kStreamTypeVideo, shape.compression, 25,
                                                               1, shape.strhLength)),
        test_support::chunk("strf", test_support::bitmapFormat(64, shape.height, shape.compression))};
    if (!shape.name.empty()) {
        std::vector<uint8_t> name(shape.name.begin(), shape.name.end());
        name.push_back(0);
        strl.push_back(test_support::chunk("strn", name));
    }
    std::vector<RiffChunk> hdrl = {
        test_support::chunk("avih", test_support::mainHeader(0, shape.audio ? 2 : 1, 64, 48)),
        test_support::list("strl", strl)};
    if (shape.audio) {
        hdrl.push_back(test_support::list(
            "strl",
            {test_support::chunk("strh", test_support::streamHeader(core::fourcc("auds"), 0, 22050, 1, 0)),
             test_support::chunk("strf", test_support::pcmFormat(22050, 1))}));
    }
    hdrl.push_back(test_support::chunk("JUNK", std::vector<uint8_t>(33, 0)));

    std::vector<RiffChunk> movi;
    std::vector<RiffChunk>* target = &movi;
    const auto recMark = static_cast<int32_t>(samples.size()) + 1;
    int32_t recCount = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (shape.recLists && i % 2 == 0) {
            movi.push_back(test_support::list("rec ", {}));
            movi.back().mark = recMark + recCount++;
            target = &movi.back().children;
        }
        RiffChunk c = test_support::chunk(samples[i].stream == 0 ? "00dc" : "01wb", samples[i].data,
                                          static_cast<int32_t>(i));
        target->push_back(c);
        if (shape.junk && i % 3 == 2) {
            target->push_back(test_support::chunk("JUNK", std::vector<uint8_t>(5, 0xEE)));
            target->push_back(test_support::chunk("zzzz", std::vector<uint8_t>(3, 0xDD)));
        }
    }
    RiffChunk moviList = test_support::list("movi", movi);
    moviList.mark = static_cast<int32_t>(samples.size());
    moviList.sizeField = shape.moviSize;
    std::vector<RiffChunk> top = {test_support::list("hdrl", hdrl), moviList};
    if (shape.extras) {
        top.insert(top.begin() + 1, test_support::chunk("JUNK", std::vector<uint8_t>(301, 0)));
        top.insert(top.begin() + 2, test_support::list("INFO", {test_support::chunk("ISFT", {'x', 0})}));
    }
    const size_t idx1Entries = samples.size() + static_cast<size_t>(recCount);
    if (shape.idx1 != Idx1::None)
        top.push_back(test_support::chunk("idx1", std::vector<uint8_t>(16 * idx1Entries)));
    RiffChunk riff = test_support::riffList("AVI ", top);
    riff.sizeField = shape.riffSize;

    std::vector<int64_t> positions;
    test_support::compose({riff}, &positions);
    if (shape.idx1 != Idx1::None) {
        const int64_t base = shape.idx1 == Idx1::Relative ? positions[samples.size()] + 8 : 0;
        std::vector<uint8_t> idx1;
        int32_t rec = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            if (shape.recLists && i % 2 == 0) {
                test_support::appendU32(idx1, core::fourcc("rec "));
                test_support::appendU32(idx1, 0x1);
                test_support::appendU32(
                    idx1, static_cast<uint32_t>(positions[static_cast<size_t>(recMark + rec++)] - base));
                test_support::appendU32(idx1, 0);
            }
            test_support::appendU32(idx1,
                                    samples[i].stream == 0 ? core::fourcc("00dc") : core::fourcc("01wb"));
            test_support::appendU32(idx1, samples[i].key ? 0x10 : 0);
            test_support::appendU32(idx1, static_cast<uint32_t>(positions[i] - base));
            test_support::appendU32(idx1, static_cast<uint32_t>(samples[i].data.size()));
        }
        riff.children.back().data = idx1;
    }
    std::vector<uint8_t> bytes = test_support::compose({riff});
    if (shape.extras) {
        // Some writers leave zero bytes and filler after the RIFF list.
        bytes.insert(bytes.end(), 4, 0);
        const std::vector<uint8_t> filler = test_support::compose({test_support::chunk("JUNK", {1, 2, 3})});
        bytes.insert(bytes.end(), filler.begin(), filler.end());
    }
    return bytes;
}

// Video frames with keys every fifth frame (odd sizes included), audio chunks in between.
std::vector<Sample> interleavedSamples(bool audio, bool mpeg4 = true)
{
    std::vector<Sample> samples;
    for (int32_t i = 0; i < 23; ++i) {
        const bool key = i % 5 == 0;
        const size_t size = 40 + static_cast<size_t>(i * 13 % 50);
        samples.push_back(
            {0, mpeg4 ? vopFrame(key, size) : test_support::sampleBytes(i, static_cast<int32_t>(size)), key});
        if (audio && i % 2 == 1)
            samples.push_back({1, std::vector<uint8_t>(31, static_cast<uint8_t>(i)), true});
    }
    return samples;
}

std::vector<SampleFacts> expectedFacts(const std::vector<Sample>& samples, int32_t stream)
{
    std::vector<SampleFacts> facts;
    for (const Sample& s : samples) {
        if (s.stream == stream)
            facts.push_back({static_cast<int64_t>(s.data.size()), s.key && !s.data.empty()});
    }
    return facts;
}

std::vector<test_support::ProbePacket> asPackets(const std::vector<SampleFacts>& facts)
{
    std::vector<test_support::ProbePacket> packets;
    for (const SampleFacts& f : facts)
        packets.push_back({f.key, f.size});
    return packets;
}

::testing::AssertionResult readsAs(video::AviReader& reader, const std::vector<Sample>& samples,
                                   int32_t stream)
{
    const std::vector<SampleFacts> expected = expectedFacts(samples, stream);
    if (auto same = video_test::samplesEqual(video_test::sampleFacts(reader, stream), asPackets(expected));
        !same)
        return same;
    std::vector<std::vector<uint8_t>> data;
    for (const Sample& s : samples) {
        if (s.stream == stream)
            data.push_back(s.data);
    }
    return video_test::sampleBytesEqual(reader, stream, static_cast<int32_t>(data.size()),
                                        [&](int32_t i) { return data[static_cast<size_t>(i)]; });
}

TEST(AviReader, ReadsEveryLayoutOfAnIndexedFile)
{
    struct Case {
        const char* name;
        Shape shape;
    };
    const Case cases[] = {
        {"relative idx1", shapeWith([](Shape& s) { s.idx1 = Idx1::Relative; })},
        {"filler around the lists", shapeWith([](Shape& s) { s.extras = true; })},
        {"absolute idx1 and filler", shapeWith([](Shape& s) {
             s.idx1 = Idx1::Absolute;
             s.extras = true;
         })},
        {"absolute idx1", shapeWith([](Shape& s) { s.idx1 = Idx1::Absolute; })},
        {"relative idx1 with rec lists", shapeWith([](Shape& s) {
             s.idx1 = Idx1::Relative;
             s.recLists = true;
         })},
        {"absolute idx1 with rec lists and junk", shapeWith([](Shape& s) {
             s.idx1 = Idx1::Absolute;
             s.recLists = true;
             s.junk = true;
         })},
        {"interleaved audio", shapeWith([](Shape& s) {
             s.idx1 = Idx1::Relative;
             s.junk = true;
             s.audio = true;
         })},
        {"no idx1", shapeWith([](Shape& s) {
             s.idx1 = Idx1::None;
             s.junk = true;
         })},
        {"no idx1 with rec lists and audio", shapeWith([](Shape& s) {
             s.idx1 = Idx1::None;
             s.recLists = true;
             s.audio = true;
         })},
        {"unfinished sizes", shapeWith([](Shape& s) {
             s.idx1 = Idx1::None;
             s.riffSize = 0;
             s.moviSize = 0xFFFFFFFFu;
         })},
        {"sizes past the end", shapeWith([](Shape& s) {
             s.idx1 = Idx1::None;
             s.riffSize = 0x7FFFFFF0u;
             s.moviSize = 0x7FFFFFE0u;
         })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // With an index, frames carry no picture type, so only the index can give the key flags.
        const bool indexed = c.shape.idx1 != Idx1::None;
        const std::vector<Sample> samples = interleavedSamples(c.shape.audio, !indexed);
        Shape shape = c.shape;
        shape.compression = indexed ? core::fourcc("MJPG") : core::fourcc("XVID");
        auto reader = video_test::openBytes(composeAvi(samples, shape));
        ASSERT_TRUE(reader);
        ASSERT_EQ(reader->streamCount(), c.shape.audio ? 2 : 1);
        EXPECT_TRUE(readsAs(*reader, samples, 0));
        if (c.shape.audio) {
            EXPECT_TRUE(readsAs(*reader, samples, 1));
        }
    }
}

TEST(AviReader, RebuiltIndexTakesKeyFlagsFromTheCompression)
{
    std::vector<Sample> samples = interleavedSamples(false, false);
    samples.insert(samples.begin(), Sample{0, {}, false}); // an empty frame first
    auto reader = video_test::openBytes(composeAvi(samples, shapeWith([](Shape& s) {
                                                       s.idx1 = Idx1::None;
                                                       s.compression = core::fourcc("MJPG");
                                                   })));
    ASSERT_TRUE(reader);
    // Without an index only the first non-empty frame is known to be a key frame.
    const std::vector<SampleFacts> facts = video_test::sampleFacts(*reader, 0);
    ASSERT_EQ(facts.size(), samples.size());
    for (size_t i = 0; i < facts.size(); ++i)
        EXPECT_EQ(facts[i].key, i == 1) << i;

    // MPEG-4 frames tell their picture type.
    std::vector<Sample> vops = interleavedSamples(false, true);
    vops.insert(vops.begin() + 3, Sample{0, {}, false});
    for (uint32_t compression : {core::fourcc("XVID"), core::fourcc("divx"), core::fourcc("FMP4")}) {
        auto vopReader = video_test::openBytes(composeAvi(vops, shapeWith([compression](Shape& s) {
                                                              s.idx1 = Idx1::None;
                                                              s.compression = compression;
                                                          })));
        ASSERT_TRUE(vopReader);
        EXPECT_TRUE(readsAs(*vopReader, vops, 0));
    }
}

TEST(AviReader, EmptySamplesAreNeverKeyFrames)
{
    std::vector<Sample> samples = interleavedSamples(false, false);
    samples[5].data.clear(); // flagged key in idx1, but carries nothing
    samples[6].data.clear();
    auto reader = video_test::openBytes(
        composeAvi(samples, shapeWith([](Shape& s) { s.compression = core::fourcc("MJPG"); })));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->findKeyAtOrBefore(0, 5), 0);
    EXPECT_EQ(reader->findKeyAtOrBefore(0, 10), 10);
    int32_t bytes = -1;
    EXPECT_EQ(reader->sampleSize(0, 5, bytes), video::AviStatus::Ok);
    EXPECT_EQ(bytes, 0);
    std::vector<uint8_t> none;
    EXPECT_EQ(reader->readSample(0, 6, none, bytes), video::AviStatus::Ok);
    EXPECT_EQ(bytes, 0);
}

TEST(AviReader, SurvivesFilesCutAnywhere)
{
    const std::vector<Sample> samples = interleavedSamples(true);
    const std::vector<uint8_t> whole = composeAvi(samples, shapeWith([](Shape& s) {
                                                      s.idx1 = Idx1::Relative;
                                                      s.recLists = true;
                                                      s.audio = true;
                                                  }));
    size_t lastCount = 0;
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        video::AviOpenResult opened =
            video::AviReader::open(std::make_unique<test_support::MemoryFileIo>(bytes));
        if (opened.status != video::AviStatus::Ok)
            continue;
        video::AviReader& reader = *opened.reader;
        // Whatever survives is a prefix of the real frames, byte for byte.
        const int32_t count = reader.sampleCount(0);
        std::vector<Sample> prefix;
        int32_t video = 0;
        for (const Sample& s : samples) {
            if (s.stream == 0 && video++ < count)
                prefix.push_back(s);
        }
        ASSERT_TRUE(readsAs(reader, prefix, 0)) << "cut at " << cut;
        if (cut == whole.size()) {
            EXPECT_EQ(count, 23);
        }
        lastCount = static_cast<size_t>(count);
    }
    EXPECT_EQ(lastCount, 23u);
}

TEST(AviReader, RebuildsTheIndexOfAFileCutInsideMovi)
{
    const std::vector<Sample> samples = interleavedSamples(false);
    std::vector<uint8_t> bytes = composeAvi(samples, shapeWith([](Shape& s) { s.idx1 = Idx1::Relative; }));
    const size_t idx1Bytes = 8 + 16 * samples.size();
    bytes.resize(bytes.size() - idx1Bytes - 20); // the last frame loses its last bytes
    auto reader = video_test::openBytes(bytes);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(readsAs(*reader, std::vector<Sample>(samples.begin(), samples.end() - 1), 0));
    EXPECT_EQ(reader->streamInfo(0).dwLength, 22u);
}

TEST(AviReader, DropsIndexEntriesBeyondTheEndOfTheFile)
{
    const std::vector<Sample> samples = interleavedSamples(false, false);
    std::vector<uint8_t> bytes =
        composeAvi(samples, shapeWith([](Shape& s) { s.compression = core::fourcc("MJPG"); }));
    // Point the last entry far past the end.
    const size_t last = bytes.size() - 16;
    bytes[last + 8 + 3] = 0x40;
    auto reader = video_test::openBytes(bytes);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(readsAs(*reader, std::vector<Sample>(samples.begin(), samples.end() - 1), 0));
}

TEST(AviReader, RescansWhenIdx1MatchesNoChunk)
{
    const std::vector<Sample> samples = interleavedSamples(false);
    std::vector<uint8_t> bytes = composeAvi(samples, shapeWith([](Shape& s) { s.idx1 = Idx1::Relative; }));
    const size_t first = bytes.size() - 16 * samples.size();
    for (size_t i = 0; i < samples.size(); ++i)
        bytes[first + 16 * i + 8] ^= 0x02; // every offset off by two bytes
    auto reader = video_test::openBytes(bytes);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(readsAs(*reader, samples, 0));
}

TEST(AviReader, FillsTheStreamInformation)
{
    const std::vector<Sample> samples = interleavedSamples(true);
    auto reader = video_test::openBytes(composeAvi(samples, shapeWith([](Shape& s) {
                                                       s.audio = true;
                                                       s.strhLength = 5;
                                                       s.height = -48;
                                                       s.name = "A long stream name";
                                                   })));
    ASSERT_TRUE(reader);
    const core::AviStreamInfo& info = reader->streamInfo(0);
    EXPECT_EQ(info.fccType, core::kStreamTypeVideo);
    EXPECT_EQ(info.fccHandler, core::fourcc("XVID"));
    EXPECT_EQ(info.dwScale, 1u);
    EXPECT_EQ(info.dwRate, 25u);
    EXPECT_EQ(info.dwLength, 23u);
    EXPECT_EQ(info.dwQuality, 0xFFFFFFFFu);
    EXPECT_EQ(info.dwSuggestedBufferSize, 87u); // the largest frame, 40 + 47 bytes
    EXPECT_EQ(info.rcFrame, (std::array<int32_t, 4>{0, 0, 64, 48}));
    EXPECT_STREQ(info.szName.data(), "A long stream name");
    EXPECT_EQ(reader->streamFormat(0), test_support::bitmapFormat(64, -48, core::fourcc("XVID")));
    const core::AviStreamInfo& audio = reader->streamInfo(1);
    EXPECT_EQ(audio.fccType, core::fourcc("auds"));
    EXPECT_EQ(audio.dwSampleSize, 2u);
    EXPECT_EQ(audio.dwLength, 11u);
}

TEST(AviReader, RefusesWhatIsNoAvi)
{
    std::vector<uint8_t> riffWave = composeAvi(interleavedSamples(false), {});
    riffWave[8] = 'W';
    std::vector<uint8_t> noHeader = test_support::compose({test_support::riffList(
        "AVI ", {test_support::list("movi", {test_support::chunk("00dc", {1, 2, 3})})})});
    const std::vector<std::vector<uint8_t>> cases = {
        {}, {'R', 'I', 'F', 'F'}, std::vector<uint8_t>(100, 'x'), riffWave, noHeader};
    for (const std::vector<uint8_t>& bytes : cases) {
        video::AviOpenResult opened =
            video::AviReader::open(std::make_unique<test_support::MemoryFileIo>(bytes));
        EXPECT_EQ(opened.status, video::AviStatus::NotAvi) << bytes.size();
        EXPECT_FALSE(opened.reader);
    }
    video::AviOpenResult missing = video::AviReader::open("/nonexistent/file.avi");
    EXPECT_EQ(missing.status, video::AviStatus::CannotOpen);
    EXPECT_EQ(missing.errorText, "No such file or directory");
}

TEST(AviReader, ReportsASampleThatCannotBeRead)
{
    const std::vector<Sample> samples = interleavedSamples(false);
    auto file = std::make_unique<test_support::MemoryFileIo>(composeAvi(samples, {}));
    auto contents = file->contents();
    video::AviOpenResult opened = video::AviReader::open(std::move(file));
    ASSERT_EQ(opened.status, video::AviStatus::Ok);
    contents->resize(contents->size() / 2); // the file shrinks after it was opened
    std::vector<uint8_t> buffer(200);
    int32_t bytes = -1;
    EXPECT_EQ(opened.reader->readSample(0, 22, buffer, bytes), video::AviStatus::ReadFailed);
    EXPECT_EQ(bytes, 0);
    EXPECT_FALSE(opened.reader->errorText().empty());
    EXPECT_EQ(opened.reader->readSample(0, 0, buffer, bytes), video::AviStatus::Ok);
}

// An OpenDML file: a super index in the stream list points at an ix00 chunk, while idx1 holds a
// dummy entry only; the OpenDML index wins while it is usable.
std::vector<uint8_t> composeOpenDml(const std::vector<Sample>& samples, bool brokenSuperIndex)
{
    auto build = [&](const std::vector<int64_t>& positions) {
        const int64_t moviFourcc = positions.empty() ? 0 : positions[samples.size()] + 8;
        const int64_t ixPos = positions.empty() ? 0 : positions[samples.size() + 1];
        std::vector<uint8_t> ix;
        test_support::appendU16(ix, 2);
        ix.push_back(0);
        ix.push_back(1);
        test_support::appendU32(ix, static_cast<uint32_t>(samples.size()));
        test_support::appendU32(ix, core::fourcc("00dc"));
        test_support::appendU64(ix, static_cast<uint64_t>(moviFourcc));
        test_support::appendU32(ix, 0);
        for (size_t i = 0; i < samples.size(); ++i) {
            const int64_t dataPos = positions.empty() ? 0 : positions[i] + 8;
            test_support::appendU32(ix, static_cast<uint32_t>(dataPos - moviFourcc));
            test_support::appendU32(ix, static_cast<uint32_t>(samples[i].data.size()) |
                                            (samples[i].key ? 0 : 0x80000000u));
        }
        std::vector<uint8_t> indx;
        test_support::appendU16(indx, 4);
        indx.push_back(0);
        indx.push_back(0);
        test_support::appendU32(indx, 1);
        test_support::appendU32(indx, core::fourcc("00dc"));
        for (int i = 0; i < 3; ++i)
            test_support::appendU32(indx, 0);
        test_support::appendU64(indx, static_cast<uint64_t>(ixPos) + (brokenSuperIndex ? 0x100000 : 0));
        test_support::appendU32(indx, static_cast<uint32_t>(ix.size() + 8));
        test_support::appendU32(indx, static_cast<uint32_t>(samples.size()));
        indx.resize(indx.size() + 16 * 3, 0);

        std::vector<RiffChunk> movi;
        for (size_t i = 0; i < samples.size(); ++i)
            movi.push_back(test_support::chunk("00dc", samples[i].data, static_cast<int32_t>(i)));
        movi.push_back(test_support::chunk("ix00", ix, static_cast<int32_t>(samples.size() + 1)));
        RiffChunk moviList = test_support::list("movi", movi);
        moviList.mark = static_cast<int32_t>(samples.size());
        std::vector<uint8_t> idx1;
        test_support::appendU32(idx1, core::fourcc("00dc"));
        test_support::appendU32(idx1, 0x10);
        test_support::appendU32(idx1, 4);
        test_support::appendU32(idx1, static_cast<uint32_t>(samples[0].data.size()));
        std::vector<uint8_t> dmlh(248, 0);
        dmlh[0] = static_cast<uint8_t>(samples.size());
        return test_support::riffList(
            "AVI ",
            {test_support::list(
                 "hdrl", {test_support::chunk("avih", test_support::mainHeader(0, 1, 64, 48)),
                          test_support::list(
                              "strl", {test_support::chunk("strh", test_support::streamHeader(
                                                                       core::kStreamTypeVideo, 0, 25, 1, 1)),
                                       test_support::chunk(
                                           "strf", test_support::bitmapFormat(64, 48, core::fourcc("XVID"))),
                                       test_support::chunk("indx", indx)}),
                          test_support::list("odml", {test_support::chunk("dmlh", dmlh)})}),
             moviList, test_support::chunk("idx1", idx1)});
    };
    std::vector<int64_t> positions;
    test_support::compose({build({})}, &positions);
    return test_support::compose({build(positions)});
}

TEST(AviReader, PrefersAUsableOpenDmlIndex)
{
    const std::vector<Sample> samples = interleavedSamples(false);
    auto reader = video_test::openBytes(composeOpenDml(samples, false));
    ASSERT_TRUE(reader);
    EXPECT_TRUE(readsAs(*reader, samples, 0));

    // A super index that points outside the file is no index: idx1 with its one entry is used.
    auto fallback = video_test::openBytes(composeOpenDml(samples, true));
    ASSERT_TRUE(fallback);
    EXPECT_TRUE(readsAs(*fallback, std::vector<Sample>(samples.begin(), samples.begin() + 1), 0));
}

// Counts what is read through it, to show that opening reads headers and indexes only.
class CountingFileIo : public test_support::MemoryFileIo {
public:
    using MemoryFileIo::MemoryFileIo;
    int64_t readAt(int64_t offset, std::span<uint8_t> out) override
    {
        ++*reads;
        *bytes += static_cast<int64_t>(out.size());
        return MemoryFileIo::readAt(offset, out);
    }
    std::shared_ptr<int64_t> reads = std::make_shared<int64_t>(0);
    std::shared_ptr<int64_t> bytes = std::make_shared<int64_t>(0);
};

TEST(AviReader, OpeningReadsIndexesInFewReadsAndNoSampleData)
{
    struct Case {
        const char* name;
        int64_t partBytes;
        int32_t parts;
    };
    const Case cases[] = {{"idx1", 1000LL * 1000 * 1000, 1}, {"OpenDML", 400 * 1000, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = test_support::freshTempDir("reader_reads") + "/built.avi";
        test_support::AviBuildSpec layout;
        layout.frames = test_support::gridFrames(20000, 100, 1000, 100);
        video::AviWriterOptions options;
        options.partBytes = c.partBytes;
        test_support::buildAvi(path, layout, options);
        auto file = std::make_unique<CountingFileIo>(test_support::readWholeFile(path));
        auto reads = file->reads;
        auto bytes = file->bytes;
        video::AviOpenResult opened = video::AviReader::open(std::move(file));
        ASSERT_EQ(opened.status, video::AviStatus::Ok);
        EXPECT_EQ(opened.reader->sampleCount(0), 20000);
        // Headers, then one read per index chunk; the index holds at most 16 bytes per frame.
        EXPECT_LE(*reads, 20 + 2 * c.parts);
        EXPECT_LE(*bytes, 64 * 1024 + 16 * 20000 + 12 * 2 * c.parts);
        const int64_t before = *reads;
        int32_t size = 0;
        for (int32_t i = 0; i < 20000; ++i) {
            ASSERT_EQ(opened.reader->sampleSize(0, i, size), video::AviStatus::Ok);
            ASSERT_EQ(opened.reader->findKeyAtOrBefore(0, i), i / 100 * 100);
        }
        EXPECT_EQ(*reads, before);
    }
}

// An OpenDML file of several parts whose super index is lost, or whose last part is cut off, is
// indexed by scanning every part; MPEG-4 key frames are recognised by their picture type.
TEST(AviReader, ScansEveryPartWhenTheOpenDmlIndexIsUnusable)
{
    const std::string source = test_support::fastMotionAvi(300, 25);
    const std::string copy = test_support::freshTempDir("reader_odml_damage") + "/copy.avi";
    video::AviWriterOptions options;
    options.partBytes = 300 * 1000;
    video_test::copyVideoStream(source, copy, options);
    if (HasFatalFailure())
        return;
    const std::vector<test_support::ProbePacket> packets = test_support::probePackets(source);
    const std::vector<uint8_t> whole = test_support::readWholeFile(copy);

    std::vector<uint8_t> noSuperIndex = whole;
    ASSERT_TRUE(video_test::renameFirst(noSuperIndex, "indx", "JUNK"));
    auto scanned = video_test::openBytes(noSuperIndex);
    ASSERT_TRUE(scanned);
    EXPECT_TRUE(video_test::samplesEqual(video_test::sampleFacts(*scanned, 0), packets));

    // Cut inside the last part: its ix00 is gone, every complete frame before the cut remains.
    std::vector<uint8_t> cut(whole.begin(), whole.end() - 30000);
    auto truncated = video_test::openBytes(cut);
    ASSERT_TRUE(truncated);
    const std::vector<SampleFacts> facts = video_test::sampleFacts(*truncated, 0);
    ASSERT_GT(facts.size(), 200u);
    ASSERT_LT(facts.size(), packets.size());
    EXPECT_TRUE(video_test::samplesEqual(
        facts, std::vector<test_support::ProbePacket>(
                   packets.begin(), packets.begin() + static_cast<std::ptrdiff_t>(facts.size()))));
}

struct MediaCase {
    const char* name;
    test_support::MediaSpec film;
};

class FfmpegFiles : public ::testing::TestWithParam<MediaCase> {};

TEST_P(FfmpegFiles, EverySampleMatchesFfprobe)
{
    const std::string path = test_support::mediaFile(GetParam().film);
    auto opened = video::AviReader::open(path);
    ASSERT_EQ(opened.status, video::AviStatus::Ok) << opened.errorText;
    const int32_t stream = video_test::videoStreamOf(*opened.reader);
    EXPECT_EQ(stream, GetParam().film.audioFirst ? 1 : 0);
    EXPECT_TRUE(video_test::samplesEqual(video_test::sampleFacts(*opened.reader, stream),
                                         test_support::probePackets(path)));
    EXPECT_EQ(opened.reader->sampleCount(stream), GetParam().film.frames);
    const core::AviStreamInfo& info = opened.reader->streamInfo(stream);
    EXPECT_EQ(info.dwRate / info.dwScale, static_cast<uint32_t>(GetParam().film.rateNum));
    EXPECT_EQ(info.rcFrame, (std::array<int32_t, 4>{0, 0, GetParam().film.width, GetParam().film.height}));
}

test_support::MediaSpec mediaOf(int32_t frames, int32_t distance, int32_t quantizer, bool audioFirst)
{
    test_support::MediaSpec film;
    film.frames = frames;
    film.keyframeDistance = distance;
    film.quantizer = quantizer;
    film.audioFirst = audioFirst;
    return film;
}

INSTANTIATE_TEST_SUITE_P(Media, FfmpegFiles,
                         ::testing::Values(MediaCase{"fast_motion", mediaOf(1000, 25, 4, false)},
                                           MediaCase{"low_motion", mediaOf(1000, 25, 16, false)},
                                           MediaCase{"audio_first", mediaOf(400, 12, 6, true)}),
                         [](const auto& param) { return std::string(param.param.name); });

// An ffmpeg file whose idx1 is removed is indexed by scanning, with key flags from the VOP type.
TEST(FfmpegFilesWithoutIndex, KeyFlagsComeFromThePictureType)
{
    const std::string path = test_support::mediaFile(mediaOf(300, 25, 4, true));
    std::vector<uint8_t> bytes = test_support::readWholeFile(path);
    ASSERT_GT(bytes.size(), 1000u);
    // Rename idx1 so it is skipped as an unknown chunk.
    bool renamed = false;
    for (size_t i = bytes.size() - 8; i > 12 && !renamed; --i) {
        if (bytes[i] == 'i' && bytes[i + 1] == 'd' && bytes[i + 2] == 'x' && bytes[i + 3] == '1') {
            bytes[i] = 'x';
            renamed = true;
        }
    }
    ASSERT_TRUE(renamed);
    auto reader = video_test::openBytes(bytes);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(
        video_test::samplesEqual(video_test::sampleFacts(*reader, 1), test_support::probePackets(path)));
}

} // namespace
