#include "video/sample_blocks.h"

#include <algorithm>
#include <utility>

namespace video {

SampleBlocks::SampleBlocks(Source& source, int64_t blockBytes)
    : m_source(source), m_blockBytes(std::max<int64_t>(blockBytes, 1)),
      m_helper([this](std::stop_token stop) { runHelper(stop); })
{
}

SampleBlocks::~SampleBlocks()
{
    // Ask for the stop under the lock, so the helper cannot miss it between its check and its wait.
    std::lock_guard lock(m_mutex);
    m_helper.request_stop();
} // m_helper, the last member, joins first

SampleBlocks::Block SampleBlocks::extentFrom(int32_t pos, int32_t runEnd) const
{
    const auto endOf = [this](int32_t q) {
        int32_t size = 0;
        (void)m_source.sampleSize(q, size); // q lies inside the stream
        return m_source.sampleOffset(q) + size;
    };
    Block extent;
    extent.start = m_source.sampleOffset(pos);
    extent.runEnd = runEnd;
    const int64_t limit = extent.start + m_blockBytes;
    // The run's samples follow each other in the file, so their ends rise: the last whole sample
    // within the limit is found by halving.
    int32_t low = pos;
    int32_t high = std::max(std::min(runEnd, m_source.sampleCount()) - 1, pos);
    while (low < high) {
        const int32_t middle = low + (high - low + 1) / 2;
        if (endOf(middle) <= limit)
            low = middle;
        else
            high = middle - 1;
    }
    extent.end = std::max(endOf(low), endOf(pos));
    extent.next = low + 1;
    return extent;
}

void SampleBlocks::read(Block& block, int64_t wantedEnd)
{
    const int64_t want = std::max<int64_t>(wantedEnd - block.start, 0);
    if (want > block.capacity) {
        block.bytes = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(want));
        block.capacity = want;
    }
    const int64_t got = m_source.readFileBytes(block.start, std::span<uint8_t>(block.bytes.get(), static_cast<size_t>(want)));
    block.failed = got < 0;
    block.end = block.start + std::max<int64_t>(got, 0);
}

void SampleBlocks::readAhead()
{
    if (m_current.failed || m_current.next < 0 || m_current.next >= std::min(m_current.runEnd, m_source.sampleCount()))
        return;
    const Block extent = extentFrom(m_current.next, m_current.runEnd);
    m_ahead.start = extent.start;
    m_ahead.end = extent.start;
    m_ahead.next = extent.next;
    m_ahead.runEnd = extent.runEnd;
    std::lock_guard lock(m_mutex);
    m_aheadWanted = extent.end;
    m_aheadRequested = true;
    m_aheadPending = true;
    m_changed.notify_all();
}

void SampleBlocks::runHelper(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    while (m_changed.wait(lock, stop, [this] { return m_aheadRequested; })) {
        const int64_t wanted = m_aheadWanted;
        lock.unlock();
        read(m_ahead, wanted);
        lock.lock();
        m_aheadRequested = false;
        m_changed.notify_all();
    }
}

AviStatus SampleBlocks::sample(int32_t pos, int32_t runEnd, std::span<const uint8_t>& bytes)
{
    bytes = {};
    int32_t size = 0;
    const int64_t offset = m_source.sampleOffset(pos);
    if (offset < 0 || m_source.sampleSize(pos, size) != AviStatus::Ok)
        return AviStatus::BadPosition;
    const auto holds = [&](const Block& block) {
        return !block.failed && offset >= block.start && offset + size <= block.end;
    };
    if (!holds(m_current)) {
        if (m_aheadPending) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_aheadRequested; });
            m_aheadPending = false;
        }
        if (holds(m_ahead)) {
            std::swap(m_current, m_ahead);
        } else {
            const Block extent = extentFrom(pos, runEnd);
            m_current.start = extent.start;
            m_current.next = extent.next;
            m_current.runEnd = extent.runEnd;
            read(m_current, extent.end);
            if (!holds(m_current))
                return AviStatus::ReadFailed;
        }
        readAhead();
    }
    bytes = std::span<const uint8_t>(m_current.bytes.get() + (offset - m_current.start), static_cast<size_t>(size));
    return AviStatus::Ok;
}

} // namespace video
