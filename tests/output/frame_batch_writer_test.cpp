#include "output/frame_batch_writer.h"

#include "avi_builder.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using output::FrameBatchWriter;
using video::AviStatus;

// Lends sample pos as bytes(pos), in memory its loan holds; refuses other positions and samples
// larger than the room offered.
struct FakeReader : video::SampleReader {
    explicit FakeReader(std::vector<int32_t> sizes) : m_sizes(std::move(sizes)) {}

    // Sample pos: sizes[pos] bytes of the builder's pattern for pos.
    std::vector<uint8_t> bytes(int32_t pos) const { return test_support::sampleBytes(pos, m_sizes.at(pos)); }

    AviStatus lendSample(int32_t pos, int32_t room, video::SampleLoan& loan) override
    {
        loan = {};
        if (pos < 0 || pos >= static_cast<int32_t>(m_sizes.size()))
            return AviStatus::BadPosition;
        if (m_sizes[static_cast<size_t>(pos)] > room)
            return AviStatus::BufferTooSmall;
        const auto held = std::make_shared<const std::vector<uint8_t>>(bytes(pos));
        loan = {*held, held};
        return AviStatus::Ok;
    }

    std::vector<int32_t> m_sizes;
};

// Keeps every sample written as (output position, bytes, key); write number failAt (from 0) fails.
struct FakeWriter : video::SampleWriter {
    AviStatus writeSample(int32_t pos, std::span<const uint8_t> data, bool key) override
    {
        if (calls++ == failAt)
            return AviStatus::WriteFailed;
        written.emplace_back(pos, std::vector<uint8_t>(data.begin(), data.end()), key);
        return AviStatus::Ok;
    }

    int32_t failAt = -1, calls = 0;
    std::vector<std::tuple<int32_t, std::vector<uint8_t>, bool>> written;
};

TEST(FrameBatchWriter, FlushesAtTheThousandthAddOrWhenTheFreeRoomReachesTheLargestSample)
{
    // 2,097,152 - 100,000 = 1,997,152 bytes: the add reaching them flushes, none before.
    const auto nineteenFullThen = [](std::vector<int32_t> last) {
        last.insert(last.begin(), 19, 100000);
        return last;
    };
    const std::tuple<const char*, std::vector<int32_t>, int32_t> cases[] = {
        {"a thousand small samples", std::vector<int32_t>(1000, 10), 999},
        {"reaches the limit exactly", nineteenFullThen({97152}), 19},
        {"one byte short, then one more", nineteenFullThen({97151, 1}), 20},
    };
    for (const auto& [name, sizes, flushingAdd] : cases) {
        SCOPED_TRACE(name);
        FakeReader reader(sizes);
        FakeWriter writer;
        FrameBatchWriter batch;
        ASSERT_TRUE(batch.init(FrameBatchWriter::kDefaultBufferBytes, 100000));
        decltype(writer.written) expected;
        for (int32_t i = 0; i <= flushingAdd; ++i) {
            int32_t bytes = 0;
            ASSERT_EQ(writer.written.size(), 0u) << "flushed early, at add " << i;
            ASSERT_EQ(batch.addFrame(reader, i, writer, i % 25 == 0 ? 16u : 0u, bytes), AviStatus::Ok);
            expected.emplace_back(i, reader.bytes(i), i % 25 == 0);
        }
        EXPECT_EQ(batch.bufferUsed(), 0);
        EXPECT_EQ(writer.written, expected);
    }
}

// Adds before init and refused reads leave the batch as it was; a failed write uses up its position
// and drops the rest of its batch, and a later success does not hide it.
TEST(FrameBatchWriter, RefusedAddsAndFailedWritesLoseOnlyTheirSamples)
{
    FakeReader reader({8, 8, 500, 8, 8, 8, 0});
    FakeWriter writer;
    FrameBatchWriter batch;
    int32_t bytes = 0;
    EXPECT_EQ(batch.addFrame(reader, 0, writer, 16, bytes), AviStatus::BadState) << "before init";
    ASSERT_TRUE(batch.init(4096, 100));
    ASSERT_EQ(batch.addFrame(reader, 0, writer, 16, bytes), AviStatus::Ok);
    const std::pair<int32_t, AviStatus> refusals[] = {
        {7, AviStatus::BadPosition}, {-1, AviStatus::BadPosition}, {2, AviStatus::BufferTooSmall}};
    for (const auto& [position, refusal] : refusals) {
        EXPECT_EQ(batch.addFrame(reader, position, writer, 0, bytes), refusal) << position;
        EXPECT_EQ(bytes, 0);
        EXPECT_EQ(batch.bufferUsed(), 8);
    }
    ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
    EXPECT_EQ(batch.flush(writer), AviStatus::Ok) << "nothing pending";
    writer.failAt = 3; // the third of the next five writes
    for (int32_t i : {1, 3, 4, 5, 1})
        ASSERT_EQ(batch.addFrame(reader, i, writer, 0, bytes), AviStatus::Ok);
    EXPECT_EQ(batch.flush(writer), AviStatus::WriteFailed);
    // An empty sample keeps its key flag and takes the position after the failed write.
    ASSERT_EQ(batch.addFrame(reader, 6, writer, 16, bytes), AviStatus::Ok);
    ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
    EXPECT_EQ(writer.written, (decltype(writer.written){{0, reader.bytes(0), true},
                                                        {1, reader.bytes(1), false},
                                                        {2, reader.bytes(3), false},
                                                        {4, reader.bytes(6), true}}));
    EXPECT_EQ(batch.firstWriteFailure(), AviStatus::WriteFailed);
}

TEST(FrameBatchWriter, RefusesImpossibleSizes)
{
    const std::tuple<int32_t, int32_t, bool> cases[] = {
        {4096, -1, false}, {4096, 4097, false}, {4096, 4096, true}, {4096, 0, true}, {0, 0, false}};
    for (const auto& [bufferBytes, maxSample, accepted] : cases)
        EXPECT_EQ(FrameBatchWriter().init(bufferBytes, maxSample), accepted) << bufferBytes << maxSample;
}

} // namespace
