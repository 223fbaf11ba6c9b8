#include "video_test_helpers.h"

#include <optional>

namespace {

using namespace test_support;
using video_test::Packets;

struct Sample {
    int32_t stream = 0;
    std::vector<uint8_t> data;
    bool key = false;
};

enum class Idx1 { None, Relative, Absolute };

struct Shape {
    Idx1 idx1 = Idx1::Relative;
    bool recLists = false; // samples in pairs inside LIST 'rec '
    bool junk = false;     // an odd-sized JUNK and an unknown chunk after every third sample
    bool audio = false;    // stream 1 is interleaved audio
    bool extras = false;   // JUNK, LIST 'INFO' and filler around the lists
    uint32_t compression = core::fourcc("MJPG");
    std::optional<uint32_t> riffSize = std::nullopt;
    std::optional<uint32_t> moviSize = std::nullopt;
};

// 23 video frames of odd and even sizes with key frames every fifth; frame 5 is a key frame that
// carries nothing. MPEG-4 frames start with a VOP header of their picture type.
std::vector<Sample> interleaved(const Shape& shape)
{
    std::vector<Sample> samples;
    for (int32_t i = 0; i < 23; ++i) {
        std::vector<uint8_t> data = sampleBytes(i, i == 5 ? 0 : 40 + i * 13 % 50);
        if (shape.compression != core::fourcc("MJPG") && !data.empty())
            std::copy_n(
                std::array<uint8_t, 5>{0, 0, 1, 0xB6, static_cast<uint8_t>(i % 5 == 0 ? 0x10 : 0x51)}.begin(),
                5, data.begin());
        samples.push_back({0, data, i % 5 == 0});
        if (shape.audio && i % 2 == 1)
            samples.push_back({1, std::vector<uint8_t>(31, static_cast<uint8_t>(i)), true});
    }
    return samples;
}

std::vector<uint8_t> composeAvi(const std::vector<Sample>& samples, const Shape& shape)
{
    std::vector<RiffChunk> hdrl = {
        chunk("avih", mainHeader(0, shape.audio ? 2 : 1, 64, 48)),
        list("strl", {chunk("strh", streamHeader(core::kStreamTypeVideo, shape.compression, 25, 1, 999)),
                      chunk("strf", bitmapFormat(64, -48, shape.compression)), chunk("strn", {'c', 0})})};
    if (shape.audio)
        hdrl.push_back(list("strl", {chunk("strh", streamHeader(core::fourcc("auds"), 0, 22050, 1, 0)),
                                     chunk("strf", pcmFormat(22050, 1))}));
    const auto n = static_cast<int32_t>(samples.size());
    std::vector<RiffChunk> movi;
    for (int32_t i = 0; i < n; ++i) {
        if (shape.recLists && i % 2 == 0) {
            movi.push_back(list("rec ", {}));
            movi.back().mark = n + 1 + i;
        }
        std::vector<RiffChunk>& into = shape.recLists ? movi.back().children : movi;
        into.push_back(chunk(samples[i].stream == 0 ? "00dc" : "01wb", samples[i].data, i));
        if (shape.junk && i % 3 == 2)
            into.insert(into.end(), {chunk("JUNK", std::vector<uint8_t>(5)), chunk("zzzz", {1, 2, 3})});
    }
    std::vector<RiffChunk> top = {list("hdrl", hdrl), list("movi", movi), chunk("idx1", {})};
    top[1].mark = n;
    top[1].sizeField = shape.moviSize;
    if (shape.extras)
        top.insert(top.begin() + 1,
                   {chunk("JUNK", std::vector<uint8_t>(301)), list("INFO", {chunk("ISFT", {0})})});
    RiffChunk riff = riffList("AVI ", top);
    riff.sizeField = shape.riffSize;
    std::vector<int64_t> at; // idx1 comes last, so filling it moves no chunk
    compose({riff}, &at);
    std::vector<uint8_t>& idx = riff.children.back().data;
    const int64_t base = shape.idx1 == Idx1::Relative ? at[static_cast<size_t>(n)] + 8 : 0;
    for (int32_t i = 0; i < n; ++i) {
        const Sample& s = samples[static_cast<size_t>(i)];
        if (shape.recLists && i % 2 == 0)
            for (uint32_t v : {core::fourcc("rec "), 1u, static_cast<uint32_t>(at[n + 1 + i] - base), 0u})
                appendU32(idx, v);
        for (uint32_t v : {core::fourcc(s.stream == 0 ? "00dc" : "01wb"), s.key ? 0x10u : 0u,
                           static_cast<uint32_t>(at[i] - base), static_cast<uint32_t>(s.data.size())})
            appendU32(idx, v);
    }
    if (shape.idx1 == Idx1::None)
        riff.children.back().id = core::fourcc("xdx1");
    std::vector<uint8_t> bytes = compose({riff});
    if (shape.extras) // some writers leave zero bytes and filler after the RIFF list
        bytes.insert(bytes.end(), {0, 0, 0, 0, 'J', 'U', 'N', 'K', 1, 0, 0, 0, 7, 0});
    return bytes;
}

// Expects reader to hold exactly the samples of stream: sizes, key flags (as given, or only the
// first frame's), bytes (read directly and from announced blocks), length and largest size.
void expectSamples(video::AviReader& reader, const std::vector<Sample>& samples, int32_t stream,
                   bool onlyFirstKey = false)
{
    Packets packets;
    video_test::Samples bytes;
    size_t largest = 0;
    for (const Sample& s : samples) {
        if (s.stream == stream) {
            packets.push_back({!s.data.empty() && (onlyFirstKey ? packets.empty() : s.key),
                               static_cast<int64_t>(s.data.size())});
            bytes.push_back(s.data);
            largest = std::max(largest, s.data.size());
        }
    }
    EXPECT_EQ(video_test::packetsOf(reader, stream), packets);
    EXPECT_EQ(video_test::samplesOf(reader, stream, 9), bytes);
    EXPECT_EQ(reader.streamInfo(stream).dwLength, packets.size());
    EXPECT_EQ(reader.streamInfo(stream).dwSuggestedBufferSize, largest);
}

TEST(AviReader, ReadsEveryLayout)
{
    const uint32_t xvid = core::fourcc("XVID");
    struct Case {
        const char* name;
        Shape shape;
    };
    // Indexed frames carry no picture type, so only idx1 can give their key flags.
    const Case cases[] = {
        {"relative idx1", {}},
        {"absolute idx1, filler", {.idx1 = Idx1::Absolute, .extras = true}},
        {"relative idx1, rec lists", {.recLists = true}},
        {"absolute idx1, rec lists, junk", {.idx1 = Idx1::Absolute, .recLists = true, .junk = true}},
        {"interleaved audio, junk", {.junk = true, .audio = true}},
        {"no idx1, junk", {.idx1 = Idx1::None, .junk = true, .compression = xvid}},
        {"no idx1, rec lists, audio",
         {.idx1 = Idx1::None, .recLists = true, .audio = true, .compression = core::fourcc("divx")}},
        {"no idx1, no picture types", {.idx1 = Idx1::None}},
        {"unfinished sizes", {.idx1 = Idx1::None, .compression = xvid, .riffSize = 0, .moviSize = ~0u}},
        {"sizes past the end", {Idx1::None, false, false, false, false, xvid, 0x7FFFFFF0u, 0x7FFFFFE0u}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Sample> samples = interleaved(c.shape);
        auto reader = video_test::openBytes(composeAvi(samples, c.shape));
        ASSERT_TRUE(reader);
        ASSERT_EQ(reader->streamCount(), c.shape.audio ? 2 : 1);
        expectSamples(*reader, samples, 0,
                      c.shape.idx1 == Idx1::None && c.shape.compression == core::fourcc("MJPG"));
        EXPECT_STREQ(reader->streamInfo(0).szName.data(), "c");
        EXPECT_EQ(reader->streamFormat(0), bitmapFormat(64, -48, c.shape.compression));
        if (c.shape.audio)
            expectSamples(*reader, samples, 1);
    }
}

TEST(AviReader, SurvivesFilesCutAnywhere)
{
    const Shape shape = {.recLists = true, .audio = true, .compression = core::fourcc("XVID")};
    const std::vector<Sample> samples = interleaved(shape);
    const std::vector<uint8_t> whole = composeAvi(samples, shape);
    const size_t idx1Bytes = 8 + 16 * (samples.size() + (samples.size() + 1) / 2); // and 'rec ' entries
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        auto opened = video::AviReader::open(
            std::make_unique<MemoryFileIo>(std::vector<uint8_t>(whole.begin(), whole.begin() + cut)));
        if (opened.status != video::AviStatus::Ok)
            continue;
        // What survives is a prefix of the frames; without idx1 the index is rebuilt from the chunks.
        std::vector<Sample> prefix;
        for (const Sample& s : samples) {
            if (s.stream == 0 && static_cast<int32_t>(prefix.size()) < opened.reader->sampleCount(0))
                prefix.push_back(s);
        }
        expectSamples(*opened.reader, prefix, 0);
        EXPECT_TRUE(prefix.size() == 23 || (cut != whole.size() && cut != whole.size() - idx1Bytes));
    }
}

} // namespace
