#include "output/frame_batch_writer.h"

#include "avi_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

using output::FrameBatchWriter;
using video::AviStatus;

// Sample pos holds sizes[pos] bytes of the builder's pattern for pos; other positions are refused.
class FakeReader : public video::SampleReader {
public:
    explicit FakeReader(std::vector<int32_t> sizes) : m_sizes(std::move(sizes)) {}

    AviStatus lendSample(int32_t pos, int32_t room, video::SampleLoan& loan) override
    {
        loan = {};
        if (pos < 0 || pos >= static_cast<int32_t>(m_sizes.size()))
            return AviStatus::BadPosition;
        const int32_t size = m_sizes[static_cast<size_t>(pos)];
        if (size > room)
            return AviStatus::BufferTooSmall;
        auto bytes = std::make_shared<std::vector<uint8_t>>(test_support::sampleBytes(pos, size));
        loan.data = *bytes;
        loan.holder = std::move(bytes);
        return AviStatus::Ok;
    }

private:
    std::vector<int32_t> m_sizes;
};

// Keeps every sample written as (output position, bytes, key); write number failAt (from 0) fails.
class FakeWriter : public video::SampleWriter {
public:
    AviStatus writeSample(int32_t pos, std::span<const uint8_t> data, bool key) override
    {
        if (calls++ == failAt)
            return AviStatus::WriteFailed;
        written.emplace_back(pos, std::vector<uint8_t>(data.begin(), data.end()), key);
        return AviStatus::Ok;
    }

    int32_t failAt = -1;
    int32_t calls = 0;
    std::vector<std::tuple<int32_t, std::vector<uint8_t>, bool>> written;
};

// Checks that the writer holds exactly the listed samples: (output position, source position, key).
::testing::AssertionResult wrote(const FakeWriter& writer, const std::vector<int32_t>& sizes,
                                 const std::vector<std::tuple<int32_t, int32_t, bool>>& expected)
{
    if (writer.written.size() != expected.size())
        return ::testing::AssertionFailure() << writer.written.size() << " samples, not " << expected.size();
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& [pos, source, key] = expected[i];
        const int32_t size = sizes[static_cast<size_t>(source)];
        if (writer.written[i] != std::tuple(pos, test_support::sampleBytes(source, size), key))
            return ::testing::AssertionFailure()
                   << "sample " << i << " is not source " << source << " at " << pos;
    }
    return ::testing::AssertionSuccess();
}

TEST(FrameBatchWriter, FlushesAtTheThousandthAddOrWhenTheFreeRoomReachesTheLargestSample)
{
    // 2,097,152 - 100,000 = 1,997,152 bytes: the add reaching them flushes, none before.
    std::vector<int32_t> exact(19, 100000);
    exact.push_back(97152);
    std::vector<int32_t> oneShort(19, 100000);
    oneShort.insert(oneShort.end(), {97151, 1});
    std::vector<int32_t> over(19, 100000);
    over.push_back(99999);
    const std::tuple<const char*, std::vector<int32_t>, int32_t> cases[] = {
        {"a thousand small samples", std::vector<int32_t>(1000, 10), 999},
        {"reaches the limit exactly", exact, 19},
        {"one byte short, then one more", oneShort, 20},
        {"passes the limit", over, 19}};
    for (const auto& [name, sizes, flushingAdd] : cases) {
        SCOPED_TRACE(name);
        FakeReader reader(sizes);
        FakeWriter writer;
        FrameBatchWriter batch;
        ASSERT_TRUE(batch.init(FrameBatchWriter::kDefaultBufferBytes, 100000));
        std::vector<std::tuple<int32_t, int32_t, bool>> expected;
        for (int32_t i = 0; i <= flushingAdd; ++i) {
            int32_t bytes = 0;
            ASSERT_EQ(writer.written.size(), 0u) << "flushed early, at add " << i;
            ASSERT_EQ(batch.addFrame(reader, i, writer, i % 25 == 0 ? 16u : 0u, bytes), AviStatus::Ok);
            EXPECT_EQ(bytes, sizes[static_cast<size_t>(i)]);
            expected.emplace_back(i, i, i % 25 == 0);
        }
        EXPECT_EQ(batch.pendingCount(), 0);
        EXPECT_EQ(batch.bufferUsed(), 0);
        EXPECT_TRUE(wrote(writer, sizes, expected));
    }
}

// Refused reads leave the batch as it was; a failed write uses up its position and drops the rest
// of its batch, and a later success does not hide it.
TEST(FrameBatchWriter, RefusedReadsAndFailedWritesLoseOnlyTheirSamples)
{
    const std::vector<int32_t> sizes = {8, 8, 500, 8, 8, 8, 0};
    FakeReader reader(sizes);
    FakeWriter writer;
    FrameBatchWriter batch;
    ASSERT_TRUE(batch.init(4096, 100));
    int32_t bytes = 0;
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
    EXPECT_EQ(writer.calls, 4);
    EXPECT_EQ(batch.outputPosition(), 4);
    EXPECT_EQ(batch.pendingCount(), 0);
    // An empty sample keeps its key flag.
    ASSERT_EQ(batch.addFrame(reader, 6, writer, 16, bytes), AviStatus::Ok);
    EXPECT_EQ(bytes, 0);
    ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
    EXPECT_TRUE(wrote(writer, sizes, {{0, 0, true}, {1, 1, false}, {2, 3, false}, {4, 6, true}}));
    EXPECT_EQ(batch.firstWriteFailure(), AviStatus::WriteFailed);
}

TEST(FrameBatchWriter, RefusesImpossibleSizesAndAddsBeforeInit)
{
    const std::tuple<int32_t, int32_t, bool> cases[] = {{4096, -1, false},  {4096, 4097, false},
                                                        {4096, 4096, true}, {4096, 0, true},
                                                        {0, 0, false},      {-5, 0, false}};
    for (const auto& [bufferBytes, maxSample, accepted] : cases) {
        FrameBatchWriter batch;
        EXPECT_EQ(batch.init(bufferBytes, maxSample), accepted) << bufferBytes << " " << maxSample;
    }
    FakeReader reader({10});
    FakeWriter writer;
    FrameBatchWriter batch;
    int32_t bytes = 7;
    EXPECT_EQ(batch.addFrame(reader, 0, writer, 0, bytes), AviStatus::BadState);
    EXPECT_EQ(bytes, 0);
}

} // namespace
