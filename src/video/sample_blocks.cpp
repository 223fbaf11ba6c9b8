#include "video/sample_blocks.h"

#include <algorithm>

namespace video {

SampleBlocks::SampleBlocks(Source& source, int64_t blockBytes)
    : m_source(source), m_blockBytes(std::max<int64_t>(blockBytes, 1))
{
}

AviStatus SampleBlocks::sample(int32_t pos, int32_t runEnd, std::span<const uint8_t>& bytes)
{
    bytes = {};
    int32_t size = 0;
    const int64_t offset = m_source.sampleOffset(pos);
    if (offset < 0 || m_source.sampleSize(pos, size) != AviStatus::Ok)
        return AviStatus::BadPosition;
    const int64_t end = offset + size;
    if (offset < m_blockStart || end > m_blockEnd) {
        // The run's samples lie back to back but for chunk headers: reading up to the run's last
        // byte, and no further, takes nothing the caller skips.
        int64_t runBytesEnd = end;
        const int32_t last = std::min(runEnd, m_source.sampleCount()) - 1;
        int32_t lastSize = 0;
        if (last > pos && m_source.sampleSize(last, lastSize) == AviStatus::Ok)
            runBytesEnd = std::max(end, m_source.sampleOffset(last) + lastSize);
        const int64_t want = std::max<int64_t>(std::min(runBytesEnd - offset, m_blockBytes), size);
        m_block.resize(static_cast<size_t>(std::max<int64_t>(want, static_cast<int64_t>(m_block.size()))));
        const int64_t got = m_source.readFileBytes(offset, std::span<uint8_t>(m_block.data(), static_cast<size_t>(want)));
        if (got < size) {
            m_blockStart = m_blockEnd = 0;
            return AviStatus::ReadFailed;
        }
        m_blockStart = offset;
        m_blockEnd = offset + got;
        if (runBytesEnd > m_blockEnd)
            m_source.adviseFileBytes(m_blockEnd, std::min(runBytesEnd - m_blockEnd, m_blockBytes));
    }
    bytes = std::span<const uint8_t>(m_block.data() + (offset - m_blockStart), static_cast<size_t>(size));
    return AviStatus::Ok;
}

} // namespace video
