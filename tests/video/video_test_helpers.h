#pragma once

#include "avi_builder.h"
#include "media.h"
#include "riff_composer.h"
#include "video/avi_reader.h"
#include "video/avi_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace test_support {
inline void PrintTo(const ProbePacket& p, std::ostream* out)
{
    *out << p.size << (p.key ? "K" : "");
}
} // namespace test_support

namespace video_test {

using Packets = std::vector<test_support::ProbePacket>;
using Samples = std::vector<std::vector<uint8_t>>;

// Opens bytes as an in-memory AVI; fails the test when it does not open.
inline std::unique_ptr<video::AviReader> openBytes(std::vector<uint8_t> bytes)
{
    auto opened = video::AviReader::open(std::make_unique<test_support::MemoryFileIo>(std::move(bytes)));
    EXPECT_EQ(opened.status, video::AviStatus::Ok) << opened.errorText;
    return std::move(opened.reader);
}

// Every sample's size and key flag of stream, as ffprobe lists packets.
inline Packets packetsOf(const video::AviReader& reader, int32_t stream)
{
    Packets packets;
    for (int32_t i = 0; i < reader.sampleCount(stream); ++i) {
        int32_t bytes = -1;
        EXPECT_EQ(reader.sampleSize(stream, i, bytes), video::AviStatus::Ok);
        packets.push_back({reader.findKeyAtOrBefore(stream, i) == i, bytes});
    }
    return packets;
}

// Every sample's bytes of stream; the first `advised` samples are announced to be read first.
inline Samples samplesOf(video::AviReader& reader, int32_t stream, int32_t advised = 0)
{
    reader.adviseWillRead(stream, 0, advised);
    Samples samples;
    std::vector<uint8_t> buffer(reader.streamInfo(stream).dwSuggestedBufferSize);
    for (int32_t i = 0; i < reader.sampleCount(stream); ++i) {
        int32_t bytes = -1;
        EXPECT_EQ(reader.readSample(stream, i, buffer, bytes), video::AviStatus::Ok) << i;
        samples.emplace_back(buffer.begin(), buffer.begin() + std::max(bytes, 0));
    }
    return samples;
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

// Writes bytes to a fresh file named name and returns its path.
inline std::string writeFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::string path = test_support::freshTempDir("video_" + name) + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

} // namespace video_test
