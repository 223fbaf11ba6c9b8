#include "video/sample_blocks.h"

#include <algorithm>
#include <utility>

namespace video {

SampleBlocks::SampleBlocks(Source& source, const std::vector<SampleRun>& runs) : m_source(source)
{
    for (SampleRun run : runs) {
        run.first = std::max(run.first, 0);
        run.end = std::min(run.end, source.sampleCount());
        if (run.first < run.end)
            m_runs.push_back(run);
    }
    m_helper = std::jthread([this](std::stop_token stop) { runHelper(stop); });
}

SampleBlocks::~SampleBlocks()
{
    // Asked under the lock, so the helper cannot miss the stop between its check and its wait.
    std::lock_guard lock(m_mutex);
    m_helper.request_stop();
}

void SampleBlocks::layOut(Block& block, size_t run, int32_t pos) const
{
    const auto endOf = [this](int32_t q) {
        int32_t size = 0;
        (void)m_source.sampleSize(q, size); // q lies inside the stream
        return m_source.sampleOffset(q) + size;
    };
    block.segments.clear();
    block.planned = true;
    int64_t used = 0;
    while (run < m_runs.size()) {
        const int64_t start = m_source.sampleOffset(pos);
        const int64_t budget = kBlockBytes - used;
        if (!block.segments.empty() && endOf(pos) - start > budget)
            break; // the next run starts the next block
        // A run's samples follow each other in the file, so their ends rise: the last whole sample
        // within the budget is found by halving.
        int32_t low = pos;
        int32_t high = m_runs[run].end - 1;
        while (low < high) {
            const int32_t middle = low + (high - low + 1) / 2;
            if (endOf(middle) - start <= budget)
                low = middle;
            else
                high = middle - 1;
        }
        const int64_t end = std::max(endOf(low), endOf(pos));
        block.segments.push_back({start, end, used});
        used += end - start;
        if (low + 1 < m_runs[run].end) {
            pos = low + 1;
            break;
        }
        if (++run < m_runs.size())
            pos = m_runs[run].first;
    }
    block.run = run;
    block.next = pos;
}

bool SampleBlocks::read(Block& block)
{
    const int64_t total = block.segments.empty() ? 0 : block.segments.back().offset + block.segments.back().end -
                                                            block.segments.back().start;
    if (total > block.capacity) {
        block.bytes = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(total));
        block.capacity = total;
    }
    for (Segment& segment : block.segments) {
        const int64_t got = m_source.readFileBytes(
            segment.start,
            std::span<uint8_t>(block.bytes.get() + segment.offset, static_cast<size_t>(segment.end - segment.start)));
        if (got < 0) {
            block.segments.clear();
            return false;
        }
        segment.end = segment.start + got;
    }
    return true;
}

const uint8_t* SampleBlocks::find(const Block& block, int64_t offset, int32_t size)
{
    for (const Segment& segment : block.segments) {
        if (offset >= segment.start && offset + size <= segment.end)
            return block.bytes.get() + segment.offset + (offset - segment.start);
    }
    return nullptr;
}

void SampleBlocks::readAhead()
{
    if (!m_current.planned || m_current.run >= m_runs.size())
        return;
    layOut(m_ahead, m_current.run, m_current.next);
    std::lock_guard lock(m_mutex);
    m_aheadRequested = true;
    m_aheadPending = true;
    m_changed.notify_all();
}

void SampleBlocks::waitForAhead()
{
    if (!m_aheadPending)
        return;
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_aheadRequested; });
    m_aheadPending = false;
    if (!m_aheadRead)
        m_ahead.segments.clear();
}

void SampleBlocks::runHelper(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    while (m_changed.wait(lock, stop, [this] { return m_aheadRequested; })) {
        lock.unlock();
        const bool read = this->read(m_ahead);
        lock.lock();
        m_aheadRead = read;
        m_aheadRequested = false;
        m_changed.notify_all();
    }
}

AviStatus SampleBlocks::sample(int32_t pos, std::span<const uint8_t>& bytes)
{
    bytes = {};
    int32_t size = 0;
    const int64_t offset = m_source.sampleOffset(pos);
    if (offset < 0 || m_source.sampleSize(pos, size) != AviStatus::Ok)
        return AviStatus::BadPosition;
    const uint8_t* data = find(m_current, offset, size);
    if (data == nullptr) {
        waitForAhead();
        data = find(m_ahead, offset, size);
        if (data != nullptr) {
            std::swap(m_current, m_ahead);
        } else {
            // Off the plan, or the plan's block could not be read: start again from this sample.
            const auto after = std::upper_bound(m_runs.begin(), m_runs.end(), pos,
                                                [](int32_t p, const SampleRun& run) { return p < run.first; });
            const size_t run = static_cast<size_t>(after - m_runs.begin()) - 1;
            if (after != m_runs.begin() && pos < m_runs[run].end) {
                layOut(m_current, run, pos);
            } else {
                m_current.segments.assign(1, {offset, offset + size, 0});
                m_current.planned = false;
            }
            if (!read(m_current) || (data = find(m_current, offset, size)) == nullptr)
                return AviStatus::ReadFailed;
        }
        readAhead();
    }
    bytes = std::span<const uint8_t>(data, static_cast<size_t>(size));
    return AviStatus::Ok;
}

} // namespace video
