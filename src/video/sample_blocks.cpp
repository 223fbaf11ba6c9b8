#include "video/sample_blocks.h"

#include <algorithm>
#include <utility>

namespace video {

SampleBlocks::SampleBlocks(Source& source, const std::vector<SampleRun>& runs, bool readAhead)
    : m_source(source), m_blockBytes(readAhead ? kReadAheadBlockBytes : kBlockBytes)
{
    for (SampleRun run : runs) {
        run.first = std::max(run.first, 0);
        run.end = std::min(run.end, source.sampleCount());
        if (run.first < run.end)
            m_runs.push_back(run);
    }
    m_source.adviseSequential();
    if (readAhead)
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
        const SampleLocation sample = m_source.sampleLocation(q);
        return sample.offset + sample.size;
    };
    block.segments.clear();
    block.planned = true;
    int64_t used = 0;
    while (run < m_runs.size()) {
        const int64_t start = m_source.sampleLocation(pos).offset;
        const int64_t budget = m_blockBytes - used;
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
    int64_t total = 0;
    for (const Segment& segment : block.segments)
        total = std::max(total, segment.offset + segment.end - segment.start);
    if (total > block.capacity) {
        block.bytes = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(total));
        block.capacity = total;
    }
    for (Segment& segment : block.segments) {
        const int64_t got = m_source.readFileBytes(
            segment.start, std::span<uint8_t>(block.bytes.get() + segment.offset,
                                              static_cast<size_t>(segment.end - segment.start)));
        if (got < 0) {
            block.segments.clear();
            return false;
        }
        segment.end = segment.start + got;
    }
    return true;
}

bool SampleBlocks::covers(const Block& block, int64_t offset, int32_t size)
{
    return std::any_of(block.segments.begin(), block.segments.end(), [&](const Segment& segment) {
        return offset >= segment.start && offset + size <= segment.end;
    });
}

const uint8_t* SampleBlocks::find(const Block& block, int64_t offset, int32_t size)
{
    for (const Segment& segment : block.segments) {
        if (offset >= segment.start && offset + size <= segment.end)
            return block.bytes.get() + segment.offset + (offset - segment.start);
    }
    return nullptr;
}

bool SampleBlocks::takeNext()
{
    if (m_nextRequested) {
        m_nextRequested = false;
        std::swap(m_current, m_next);
        return m_helperRead;
    }
    // Only the layout moves, so m_next never needs a buffer of its own.
    m_current.segments.swap(m_next.segments);
    m_current.run = m_next.run;
    m_current.next = m_next.next;
    m_current.planned = true;
    return read(m_current);
}

void SampleBlocks::waitForHelper()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_helperBusy; });
}

void SampleBlocks::runHelper(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    while (m_changed.wait(lock, stop, [this] { return m_helperBusy; })) {
        lock.unlock();
        const bool read = this->read(m_next);
        lock.lock();
        m_helperRead = read;
        m_helperBusy = false;
        m_changed.notify_all();
    }
}

AviStatus SampleBlocks::sample(int32_t pos, std::span<const uint8_t>& bytes)
{
    bytes = {};
    const SampleLocation sample = m_source.sampleLocation(pos);
    const int64_t offset = sample.offset;
    const int32_t size = sample.size;
    if (offset < 0)
        return AviStatus::BadPosition;
    const uint8_t* data = find(m_current, offset, size);
    if (data != nullptr) {
        bytes = std::span<const uint8_t>(data, static_cast<size_t>(size));
        return AviStatus::Ok;
    }
    // The helper's block is looked at only once its read is over.
    if (m_nextRequested)
        waitForHelper();
    bool read = false;
    if (m_next.planned && covers(m_next, offset, size)) {
        read = takeNext();
    } else {
        m_nextRequested = false; // the block read ahead is of no use: the caller left the plan
        const auto after = std::upper_bound(m_runs.begin(), m_runs.end(), pos,
                                            [](int32_t p, const SampleRun& run) { return p < run.first; });
        const size_t run = static_cast<size_t>(after - m_runs.begin()) - 1;
        if (after != m_runs.begin() && pos < m_runs[run].end) {
            layOut(m_current, run, pos);
        } else {
            m_current.segments.assign(1, {offset, offset + size, 0});
            m_current.planned = false;
        }
        read = this->read(m_current);
    }
    if (!read || (data = find(m_current, offset, size)) == nullptr)
        return AviStatus::ReadFailed;

    m_next.planned = false;
    if (m_current.planned && m_current.run < m_runs.size()) {
        layOut(m_next, m_current.run, m_current.next);
        if (m_helper.joinable()) {
            std::lock_guard lock(m_mutex);
            m_helperBusy = true;
            m_nextRequested = true;
            m_changed.notify_all();
        }
    }
    bytes = std::span<const uint8_t>(data, static_cast<size_t>(size));
    return AviStatus::Ok;
}

} // namespace video
