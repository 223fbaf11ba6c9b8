#include "output/frame_batch_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace {

using output::FrameBatchWriter;
using video::AviStatus;

// Sample i has sizes[i] bytes, each byte (i * 7 + offset) & 0xff; positions outside are refused.
class FakeReader : public video::SampleReader {
public:
    explicit FakeReader(std::vector<int32_t> sizes) : m_sizes(std::move(sizes)) {}

    AviStatus readSample(int32_t pos, std::span<uint8_t> buffer, int32_t& bytesRead) override
    {
        bytesRead = 0;
        roomsOffered.push_back(static_cast<int64_t>(buffer.size()));
        if (pos < 0 || pos >= static_cast<int32_t>(m_sizes.size()))
            return AviStatus::BadPosition;
        const int32_t size = m_sizes[static_cast<size_t>(pos)];
        if (static_cast<size_t>(size) > buffer.size())
            return AviStatus::BufferTooSmall;
        for (int32_t i = 0; i < size; ++i)
            buffer[static_cast<size_t>(i)] = bytesOf(pos, i);
        bytesRead = size;
        return AviStatus::Ok;
    }

    static uint8_t bytesOf(int32_t pos, int32_t offset)
    {
        return static_cast<uint8_t>((pos * 7 + offset) & 0xff);
    }

    std::vector<int64_t> roomsOffered;

private:
    std::vector<int32_t> m_sizes;
};

struct WrittenSample {
    int32_t pos = 0;
    std::vector<uint8_t> data;
    bool key = false;
};

// Records every write; the write with number failAtWrite (0-based, counted over all writes) fails.
class FakeWriter : public video::SampleWriter {
public:
    AviStatus writeSample(int32_t pos, std::span<const uint8_t> data, bool key) override
    {
        const int32_t number = writeCalls++;
        if (number == failAtWrite)
            return AviStatus::WriteFailed;
        written.push_back({pos, std::vector<uint8_t>(data.begin(), data.end()), key});
        return AviStatus::Ok;
    }

    int32_t failAtWrite = -1;
    int32_t writeCalls = 0;
    std::vector<WrittenSample> written;
};

::testing::AssertionResult holdsSample(const WrittenSample& sample, int32_t expectedPos, int32_t sourcePos,
                                       int32_t size, bool key)
{
    if (sample.pos != expectedPos)
        return ::testing::AssertionFailure() << "written at " << sample.pos << ", expected " << expectedPos;
    if (sample.key != key)
        return ::testing::AssertionFailure() << "position " << sample.pos << ": key flag " << sample.key;
    if (static_cast<int32_t>(sample.data.size()) != size)
        return ::testing::AssertionFailure()
               << "position " << sample.pos << ": " << sample.data.size() << " vs " << size << " bytes";
    for (int32_t i = 0; i < size; ++i) {
        if (sample.data[static_cast<size_t>(i)] != FakeReader::bytesOf(sourcePos, i))
            return ::testing::AssertionFailure() << "position " << sample.pos << ": byte " << i << " differs";
    }
    return ::testing::AssertionSuccess();
}

TEST(FrameBatchWriter, ThousandthAddFlushesWithNearlyEmptyBuffer)
{
    FakeReader reader(std::vector<int32_t>(2500, 10));
    FakeWriter writer;
    FrameBatchWriter batch;
    ASSERT_TRUE(batch.init(FrameBatchWriter::kDefaultBufferBytes, 100000));
    int32_t bytes = 0;
    for (int32_t i = 0; i < 999; ++i)
        ASSERT_EQ(batch.addFrame(reader, i, writer, i % 25 == 0 ? 16u : 0u, bytes), AviStatus::Ok);
    EXPECT_TRUE(writer.written.empty());
    EXPECT_EQ(batch.pendingCount(), 999);
    EXPECT_EQ(batch.bufferUsed(), 9990);

    ASSERT_EQ(batch.addFrame(reader, 999, writer, 0, bytes), AviStatus::Ok);
    EXPECT_EQ(bytes, 10);
    ASSERT_EQ(writer.written.size(), 1000u);
    EXPECT_EQ(batch.pendingCount(), 0);
    EXPECT_EQ(batch.bufferUsed(), 0);
    EXPECT_EQ(batch.outputPosition(), 1000);
    for (int32_t i = 0; i < 1000; ++i)
        ASSERT_TRUE(holdsSample(writer.written[static_cast<size_t>(i)], i, i, 10, i % 25 == 0))
            << "sample " << i;

    // The next batch starts empty and continues the positions.
    ASSERT_EQ(batch.addFrame(reader, 2000, writer, 16, bytes), AviStatus::Ok);
    ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
    ASSERT_EQ(writer.written.size(), 1001u);
    EXPECT_TRUE(holdsSample(writer.written.back(), 1000, 2000, 10, true));
}

TEST(FrameBatchWriter, FlushesWhenFreeRoomShrinksToMaxSampleSize)
{
    // 2,097,152 - 100,000 = 1,997,152: the add reaching it flushes, none before.
    struct Case {
        const char* name;
        std::vector<int32_t> sizes;
        int32_t flushingAdd; // index of the add that flushes
    };
    std::vector<int32_t> exact(19, 100000);
    exact.push_back(97152); // 1,900,000 + 97,152 = 1,997,152
    std::vector<int32_t> oneShort(19, 100000);
    oneShort.push_back(97151);
    oneShort.push_back(1);
    std::vector<int32_t> over(19, 100000);
    over.push_back(99999);
    const Case cases[] = {{"reaches the limit exactly", exact, 19},
                          {"one byte short, then one more", oneShort, 20},
                          {"passes the limit", over, 19}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeReader reader(c.sizes);
        FakeWriter writer;
        FrameBatchWriter batch;
        ASSERT_TRUE(batch.init(FrameBatchWriter::kDefaultBufferBytes, 100000));
        int64_t used = 0;
        for (int32_t i = 0; i < static_cast<int32_t>(c.sizes.size()); ++i) {
            int32_t bytes = 0;
            ASSERT_EQ(batch.addFrame(reader, i, writer, 0, bytes), AviStatus::Ok);
            used += bytes;
            if (i < c.flushingAdd) {
                ASSERT_TRUE(writer.written.empty())
                    << "flushed early at add " << i << " with " << used << " bytes";
                ASSERT_EQ(batch.bufferUsed(), used);
            } else if (i == c.flushingAdd) {
                EXPECT_GE(used, 1997152);
                ASSERT_EQ(writer.written.size(), static_cast<size_t>(i + 1));
                EXPECT_EQ(batch.bufferUsed(), 0);
            }
        }
        for (size_t i = 0; i < writer.written.size(); ++i)
            ASSERT_TRUE(holdsSample(writer.written[i], static_cast<int32_t>(i), static_cast<int32_t>(i),
                                    c.sizes[i], false));
    }
}

TEST(FrameBatchWriter, FlushWithNothingPendingWritesNothing)
{
    FakeReader reader({5, 5});
    FakeWriter writer;
    FrameBatchWriter batch;
    ASSERT_TRUE(batch.init(4096, 100));
    EXPECT_EQ(batch.flush(writer), AviStatus::Ok);
    EXPECT_EQ(writer.writeCalls, 0);
    EXPECT_EQ(batch.outputPosition(), 0);

    int32_t bytes = 0;
    ASSERT_EQ(batch.addFrame(reader, 0, writer, 16, bytes), AviStatus::Ok);
    ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
    EXPECT_EQ(batch.flush(writer), AviStatus::Ok);
    EXPECT_EQ(writer.writeCalls, 1);
    EXPECT_EQ(batch.outputPosition(), 1);
}

TEST(FrameBatchWriter, EmptySampleIsWrittenWithItsFlags)
{
    FakeReader reader({0, 3, 0});
    FakeWriter writer;
    FrameBatchWriter batch;
    ASSERT_TRUE(batch.init(4096, 100));
    const uint32_t flags[] = {16, 0, 0};
    for (int32_t i = 0; i < 3; ++i) {
        int32_t bytes = -1;
        ASSERT_EQ(batch.addFrame(reader, i, writer, flags[i], bytes), AviStatus::Ok);
        EXPECT_EQ(bytes, i == 1 ? 3 : 0);
    }
    EXPECT_EQ(batch.pendingCount(), 3);
    EXPECT_EQ(batch.bufferUsed(), 3);
    ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
    ASSERT_EQ(writer.written.size(), 3u);
    EXPECT_TRUE(holdsSample(writer.written[0], 0, 0, 0, true));
    EXPECT_TRUE(holdsSample(writer.written[1], 1, 1, 3, false));
    EXPECT_TRUE(holdsSample(writer.written[2], 2, 2, 0, false));
}

TEST(FrameBatchWriter, RefusedReadLeavesWriterUnchanged)
{
    struct Case {
        const char* name;
        int32_t position;
        AviStatus expected;
    };
    const Case cases[] = {{"past the end", 4, AviStatus::BadPosition},
                          {"below zero", -1, AviStatus::BadPosition},
                          {"larger than the room", 2, AviStatus::BufferTooSmall}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeReader reader({10, 20, 500, 30});
        FakeWriter writer;
        FrameBatchWriter batch;
        ASSERT_TRUE(batch.init(4096, 100));
        int32_t bytes = 0;
        ASSERT_EQ(batch.addFrame(reader, 0, writer, 16, bytes), AviStatus::Ok);
        ASSERT_EQ(batch.addFrame(reader, 1, writer, 0, bytes), AviStatus::Ok);
        EXPECT_EQ(batch.addFrame(reader, c.position, writer, 0, bytes), c.expected);
        EXPECT_EQ(bytes, 0);
        EXPECT_EQ(batch.pendingCount(), 2);
        EXPECT_EQ(batch.bufferUsed(), 30);
        EXPECT_EQ(batch.outputPosition(), 0);
        ASSERT_EQ(batch.addFrame(reader, 3, writer, 0, bytes), AviStatus::Ok);
        ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
        ASSERT_EQ(writer.written.size(), 3u);
        EXPECT_TRUE(holdsSample(writer.written[0], 0, 0, 10, true));
        EXPECT_TRUE(holdsSample(writer.written[1], 1, 1, 20, false));
        EXPECT_TRUE(holdsSample(writer.written[2], 2, 3, 30, false));
    }
}

TEST(FrameBatchWriter, FailedWriteUsesUpItsPositionAndDropsTheRest)
{
    FakeReader reader(std::vector<int32_t>(20, 8));
    FakeWriter writer;
    FrameBatchWriter batch;
    ASSERT_TRUE(batch.init(4096, 100));
    int32_t bytes = 0;
    // One sample first, so the batch starts at p = 1.
    ASSERT_EQ(batch.addFrame(reader, 0, writer, 16, bytes), AviStatus::Ok);
    ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
    EXPECT_EQ(batch.firstWriteFailure(), AviStatus::Ok);

    writer.failAtWrite = 3; // the third write of the next five
    for (int32_t i = 1; i <= 5; ++i)
        ASSERT_EQ(batch.addFrame(reader, i, writer, 0, bytes), AviStatus::Ok);
    EXPECT_EQ(batch.flush(writer), AviStatus::WriteFailed);
    EXPECT_EQ(batch.pendingCount(), 0);
    EXPECT_EQ(batch.bufferUsed(), 0);
    EXPECT_EQ(batch.outputPosition(), 4);
    EXPECT_EQ(writer.writeCalls, 4);
    EXPECT_EQ(batch.firstWriteFailure(), AviStatus::WriteFailed);

    ASSERT_EQ(batch.addFrame(reader, 6, writer, 16, bytes), AviStatus::Ok);
    ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
    ASSERT_EQ(writer.written.size(), 4u);
    EXPECT_TRUE(holdsSample(writer.written[1], 1, 1, 8, false));
    EXPECT_TRUE(holdsSample(writer.written[2], 2, 2, 8, false));
    EXPECT_TRUE(holdsSample(writer.written[3], 4, 6, 8, true));
    // A later success does not hide the earlier failure.
    EXPECT_EQ(batch.firstWriteFailure(), AviStatus::WriteFailed);
}

TEST(FrameBatchWriter, FailureOfFlushInsideAddFrameIsRecorded)
{
    FakeReader reader(std::vector<int32_t>(1200, 1));
    FakeWriter writer;
    writer.failAtWrite = 500;
    FrameBatchWriter batch;
    ASSERT_TRUE(batch.init(FrameBatchWriter::kDefaultBufferBytes, 1000));
    int32_t bytes = 0;
    for (int32_t i = 0; i < 1000; ++i)
        ASSERT_EQ(batch.addFrame(reader, i, writer, 0, bytes), AviStatus::Ok);
    EXPECT_EQ(writer.written.size(), 500u);
    EXPECT_EQ(batch.outputPosition(), 501);
    EXPECT_EQ(batch.firstWriteFailure(), AviStatus::WriteFailed);
}

TEST(FrameBatchWriter, DestructionWritesNothing)
{
    FakeReader reader({10, 10, 10});
    FakeWriter writer;
    {
        FrameBatchWriter batch;
        ASSERT_TRUE(batch.init(4096, 100));
        int32_t bytes = 0;
        for (int32_t i = 0; i < 3; ++i)
            ASSERT_EQ(batch.addFrame(reader, i, writer, 0, bytes), AviStatus::Ok);
    }
    EXPECT_EQ(writer.writeCalls, 0);
}

TEST(FrameBatchWriter, InitRefusesImpossibleSizes)
{
    struct Case {
        const char* name;
        int32_t bufferSize;
        int32_t maxSampleSize;
        bool accepted;
    };
    const Case cases[] = {{"negative sample size", 4096, -1, false},
                          {"sample larger than the buffer", 4096, 4097, false},
                          {"sample as large as the buffer", 4096, 4096, true},
                          {"zero sample size", 4096, 0, true},
                          {"no buffer", 0, 0, false},
                          {"negative buffer", -5, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameBatchWriter batch;
        EXPECT_EQ(batch.init(c.bufferSize, c.maxSampleSize), c.accepted);
    }
}

TEST(FrameBatchWriter, AddFrameBeforeInitIsRefused)
{
    FakeReader reader({10});
    FakeWriter writer;
    FrameBatchWriter batch;
    int32_t bytes = 7;
    EXPECT_EQ(batch.addFrame(reader, 0, writer, 0, bytes), AviStatus::BadState);
    EXPECT_EQ(bytes, 0);
    EXPECT_TRUE(reader.roomsOffered.empty());
}

TEST(FrameBatchWriter, RoomNeverExceedsFreeSpace)
{
    struct Case {
        const char* name;
        int32_t bufferSize;
        int32_t maxSampleSize;
        int32_t sampleSize;
    };
    const Case cases[] = {{"sample size equals the buffer", 1000, 1000, 300},
                          {"large room, small samples", 1000, 900, 50},
                          {"full-size samples", 1000, 1000, 1000},
                          {"zero room", 1000, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeReader reader(std::vector<int32_t>(50, c.sampleSize));
        FakeWriter writer;
        FrameBatchWriter batch;
        ASSERT_TRUE(batch.init(c.bufferSize, c.maxSampleSize));
        for (int32_t i = 0; i < 50; ++i) {
            const int32_t freeBytes = c.bufferSize - batch.bufferUsed();
            int32_t bytes = 0;
            ASSERT_EQ(batch.addFrame(reader, i, writer, 0, bytes), AviStatus::Ok);
            ASSERT_LE(reader.roomsOffered.back(), freeBytes) << "add " << i;
            ASSERT_EQ(reader.roomsOffered.back(), c.maxSampleSize) << "add " << i;
        }
        ASSERT_EQ(batch.flush(writer), AviStatus::Ok);
        ASSERT_EQ(writer.written.size(), 50u);
        for (int32_t i = 0; i < 50; ++i)
            ASSERT_TRUE(holdsSample(writer.written[static_cast<size_t>(i)], i, i, c.sampleSize, false));
    }
}

} // namespace
