#pragma once

#include "media.h"
#include "riff_composer.h"
#include "video/avi_reader.h"
#include "video/avi_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace video_test {

// One sample as the reader reports it.
struct SampleFacts {
    int64_t size = 0;
    bool key = false;
};

// Opens bytes as an in-memory AVI; fails the test when it does not open.
inline std::unique_ptr<video::AviReader> openBytes(std::vector<uint8_t> bytes)
{
    video::AviOpenResult opened =
        video::AviReader::open(std::make_unique<test_support::MemoryFileIo>(std::move(bytes)));
    EXPECT_EQ(opened.status, video::AviStatus::Ok) << opened.errorText;
    return std::move(opened.reader);
}

// Returns every sample's size and key flag of stream.
inline std::vector<SampleFacts> sampleFacts(const video::AviReader& reader, int32_t stream)
{
    std::vector<SampleFacts> facts;
    for (int32_t i = 0; i < reader.sampleCount(stream); ++i) {
        int32_t bytes = -1;
        EXPECT_EQ(reader.sampleSize(stream, i, bytes), video::AviStatus::Ok);
        facts.push_back({bytes, reader.findKeyAtOrBefore(stream, i) == i});
    }
    return facts;
}

// Compares the reader's samples of stream with the packets another reader lists, naming the
// first difference.
inline ::testing::AssertionResult samplesEqual(const std::vector<SampleFacts>& ours,
                                               const std::vector<test_support::ProbePacket>& theirs)
{
    if (ours.size() != theirs.size())
        return ::testing::AssertionFailure() << "sample count " << ours.size() << " vs " << theirs.size();
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i].size != theirs[i].size || ours[i].key != theirs[i].key)
            return ::testing::AssertionFailure()
                   << "frame " << i << ": " << ours[i].size << (ours[i].key ? " K" : "") << " vs "
                   << theirs[i].size << (theirs[i].key ? " K" : "");
    }
    return ::testing::AssertionSuccess();
}

// Compares every sample's bytes of stream with expected(i), naming the first difference.
template <typename Expected>
::testing::AssertionResult sampleBytesEqual(video::AviReader& reader, int32_t stream, int32_t count,
                                            Expected&& expected)
{
    if (reader.sampleCount(stream) != count)
        return ::testing::AssertionFailure()
               << "sample count " << reader.sampleCount(stream) << " vs " << count;
    std::vector<uint8_t> buffer(static_cast<size_t>(reader.streamInfo(stream).dwSuggestedBufferSize));
    for (int32_t i = 0; i < count; ++i) {
        int32_t bytesRead = -1;
        const video::AviStatus status = reader.readSample(stream, i, buffer, bytesRead);
        if (status != video::AviStatus::Ok)
            return ::testing::AssertionFailure()
                   << "frame " << i << ": read status " << static_cast<int>(status);
        const std::vector<uint8_t> want = expected(i);
        if (!std::equal(want.begin(), want.end(), buffer.begin(), buffer.begin() + bytesRead) ||
            want.size() != static_cast<size_t>(bytesRead))
            return ::testing::AssertionFailure()
                   << "frame " << i << ": bytes differ (" << bytesRead << " vs " << want.size() << " bytes)";
    }
    return ::testing::AssertionSuccess();
}

// Returns the first video stream of reader, or -1.
inline int32_t videoStreamOf(const video::AviReader& reader)
{
    for (int32_t s = 0; s < reader.streamCount(); ++s) {
        if (reader.streamInfo(s).fccType == core::kStreamTypeVideo)
            return s;
    }
    return -1;
}

// Copies the first video stream of the AVI at source into a new AVI at target with the project's
// writer, sample by sample with its key flag; fails the test on any refusal.
inline void copyVideoStream(const std::string& source, const std::string& target,
                            const video::AviWriterOptions& options)
{
    auto opened = video::AviReader::open(source);
    ASSERT_EQ(opened.status, video::AviStatus::Ok) << opened.errorText;
    video::AviReader& reader = *opened.reader;
    const int32_t stream = videoStreamOf(reader);
    ASSERT_GE(stream, 0);
    auto created = video::AviWriter::create(target, options);
    ASSERT_EQ(created.status, video::AviStatus::Ok) << created.errorText;
    video::AviWriter& writer = *created.writer;
    ASSERT_EQ(writer.createStream(reader.streamInfo(stream)), video::AviStatus::Ok);
    ASSERT_EQ(writer.setFormat(reader.streamFormat(stream)), video::AviStatus::Ok);
    std::vector<uint8_t> buffer(reader.streamInfo(stream).dwSuggestedBufferSize);
    for (int32_t i = 0; i < reader.sampleCount(stream); ++i) {
        int32_t bytes = 0;
        ASSERT_EQ(reader.readSample(stream, i, buffer, bytes), video::AviStatus::Ok);
        ASSERT_EQ(writer.writeSample(i, std::span(buffer).first(static_cast<size_t>(bytes)),
                                     reader.findKeyAtOrBefore(stream, i) == i),
                  video::AviStatus::Ok);
    }
    ASSERT_EQ(writer.finish(), video::AviStatus::Ok) << writer.errorText();
}

// Overwrites the first occurrence of the four characters id in bytes with replacement.
inline bool renameFirst(std::vector<uint8_t>& bytes, const std::string& id, const std::string& replacement)
{
    const auto at = std::search(bytes.begin(), bytes.end(), id.begin(), id.end());
    if (at == bytes.end())
        return false;
    std::copy(replacement.begin(), replacement.end(), at);
    return true;
}

} // namespace video_test
