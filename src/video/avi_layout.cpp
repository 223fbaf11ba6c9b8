#include "video/avi_layout.h"

#include "video/riff.h"

#include <algorithm>

namespace video::avi_layout {

int64_t superIndexBytes(const AviWriterOptions& options)
{
    return 24 + 16LL * std::max(options.superIndexEntries, 1);
}

size_t streamNameBytes(const core::AviStreamInfo& info)
{
    const auto end = std::find(info.szName.begin(), info.szName.end(), '\0');
    return static_cast<size_t>(end - info.szName.begin());
}

int64_t firstChunkPos(const core::AviStreamInfo& info, size_t formatBytes, const AviWriterOptions& options)
{
    constexpr int64_t kListHeader = 12;
    int64_t pos = 12 + kListHeader + riff::chunkSpan(56); // RIFF 'AVI ', LIST 'hdrl', avih
    pos += kListHeader + riff::chunkSpan(56);             // LIST 'strl', strh
    pos += riff::chunkSpan(static_cast<uint32_t>(formatBytes));
    if (const size_t name = streamNameBytes(info); name > 0)
        pos += riff::chunkSpan(static_cast<uint32_t>(name + 1)); // with its NUL
    pos += 8 + superIndexBytes(options) + 8 + kOdmlPlaceholderBytes;
    // A JUNK chunk (at least its header) fills up to the boundary on which the first chunk starts.
    const int64_t unaligned = pos + 8 + kListHeader;
    return unaligned + (kMoviAlignment - unaligned % kMoviAlignment) % kMoviAlignment;
}

int64_t partClosingBytes(int64_t samples, bool firstPart, bool openDml)
{
    int64_t bytes = openDml ? 8 + 24 + 8 * samples : 0;
    if (firstPart)
        bytes += 8 + 16 * samples;
    return bytes;
}

bool startsNewPart(int64_t partBytes, int64_t partSamples, int64_t chunkBytes, bool firstPart,
                   int32_t partCount, const AviWriterOptions& options)
{
    // While a file has one part nobody knows whether it will stay AVI 1.0, so room for an
    // 'ix00' is kept in every part.
    const int64_t projected = partBytes + chunkBytes + partClosingBytes(partSamples + 1, firstPart, true);
    return partSamples > 0 && projected > options.partBytes &&
           partCount < std::max(options.superIndexEntries, 1);
}

SizeCounter::SizeCounter(const core::AviStreamInfo& info, size_t formatBytes, const AviWriterOptions& options)
    : m_options(options), m_partBytes(firstChunkPos(info, formatBytes, options))
{
}

void SizeCounter::addSample(uint32_t sizeBytes)
{
    const int64_t chunkBytes = riff::chunkSpan(sizeBytes);
    const bool firstPart = m_partCount == 1;
    if (startsNewPart(m_partBytes, m_partSamples, chunkBytes, firstPart, m_partCount, m_options)) {
        m_closedBytes += m_partBytes + partClosingBytes(m_partSamples, firstPart, true);
        m_partBytes = kNextPartHeaderBytes;
        m_partSamples = 0;
        ++m_partCount;
    }
    m_partBytes += chunkBytes;
    ++m_partSamples;
}

int64_t SizeCounter::fileBytes() const
{
    return m_closedBytes + m_partBytes + partClosingBytes(m_partSamples, m_partCount == 1, m_partCount > 1);
}

} // namespace video::avi_layout
