#include "video/avi_indexer.h"

#include "video/riff.h"

#include <algorithm>
#include <array>
#include <cstring>

// Reads the stream headers and formats of the header list, and completes each stream's record.

namespace video::detail {

using riff::getI16;
using riff::getI32;
using riff::getU16;
using riff::getU32;

namespace {

// Calls visit(id, data) for every chunk in bytes (a list's children), LISTs included.
template <typename Visit> void forEachChunk(std::span<const uint8_t> bytes, Visit&& visit)
{
    size_t pos = 0;
    while (pos + 8 <= bytes.size()) {
        const uint32_t id = getU32(bytes, pos);
        const uint32_t size = getU32(bytes, pos + 4);
        const size_t available = bytes.size() - pos - 8;
        const size_t length = std::min<size_t>(size, available);
        visit(id, bytes.subspan(pos + 8, length));
        if (size > available)
            break;
        pos += 8 + static_cast<size_t>(size) + (size & 1);
    }
}

} // namespace

void Indexer::parseHeaderList(std::span<const uint8_t> hdrl)
{
    forEachChunk(hdrl, [this](uint32_t id, std::span<const uint8_t> data) {
        if (id == riff::kList && data.size() >= 4 && getU32(data, 0) == riff::kStrl)
            parseStreamList(data.subspan(4));
    });
}

void Indexer::parseStreamList(std::span<const uint8_t> strl)
{
    StreamData stream;
    std::array<uint8_t, 56> strh{};
    bool haveStrh = false;
    forEachChunk(strl, [&](uint32_t id, std::span<const uint8_t> data) {
        if (id == riff::kStrh && !haveStrh) {
            std::copy_n(data.begin(), std::min(data.size(), strh.size()), strh.begin());
            haveStrh = true;
        } else if (id == riff::kStrf && stream.format.empty()) {
            stream.format.assign(data.begin(), data.end());
        } else if (id == riff::kStrn) {
            const size_t length =
                std::min<size_t>(std::find(data.begin(), data.end(), uint8_t{0}) - data.begin(), 63);
            std::fill(stream.info.szName.begin(), stream.info.szName.end(), '\0');
            std::copy_n(data.begin(), length, stream.info.szName.begin());
        } else if (id == riff::kIndx && stream.indx.empty()) {
            stream.indx.assign(data.begin(), data.end());
        }
    });
    core::AviStreamInfo& info = stream.info;
    const std::span<const uint8_t> h(strh);
    info.fccType = getU32(h, 0);
    info.fccHandler = getU32(h, 4);
    info.dwFlags = getU32(h, 8);
    info.wPriority = getU16(h, 12);
    info.wLanguage = getU16(h, 14);
    info.dwInitialFrames = getU32(h, 16);
    info.dwScale = getU32(h, 20);
    info.dwRate = getU32(h, 24);
    info.dwStart = getU32(h, 28);
    info.dwQuality = getU32(h, 40);
    info.dwSampleSize = getU32(h, 44);
    for (size_t i = 0; i < 4; ++i)
        info.rcFrame[i] = getI16(h, 48 + 2 * i);
    const std::span<const uint8_t> format(stream.format);
    if (info.fccType == core::kStreamTypeVideo && format.size() >= 12 &&
        info.rcFrame == std::array<int32_t, 4>{}) {
        const int32_t height = getI32(format, 8);
        const int32_t absHeight =
            height >= 0 ? height
                        : (height == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max()
                                                                         : -height);
        info.rcFrame = {0, 0, getI32(format, 4), absHeight};
    }
    if (info.fccType == riff::kAuds && format.size() >= 14)
        info.dwSampleSize = getU16(format, 12); // the block alignment is the audio sample size
    m_streams.push_back(std::move(stream));
}

void Indexer::finishStream(StreamData& stream)
{
    uint32_t largest = 0;
    stream.keys.resize(stream.samples.size());
    int32_t* key = stream.keys.data();
    const SampleEntry* entries = stream.samples.data();
    for (size_t i = 0; i < stream.samples.size(); ++i) {
        largest = std::max(largest, entries[i].size);
        if (entries[i].key != 0)
            *key++ = static_cast<int32_t>(i);
    }
    stream.keys.resize(static_cast<size_t>(key - stream.keys.data()));
    stream.info.dwLength = static_cast<uint32_t>(stream.samples.size());
    stream.info.dwSuggestedBufferSize = largest;
}

} // namespace video::detail
