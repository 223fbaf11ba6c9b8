#pragma once

#include "video/avi_status.h"
#include "video/source.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace video {

// Samples first .. end - 1 of a source, read in this order.
struct SampleRun {
    int32_t first = 0;
    int32_t end = 0;
};

// Reads the samples of one source along a plan of runs, in blocks of about kBlockBytes: a block
// holds the bytes of one or more runs (or parts of one), each read with one system call, and each
// sample is handed out where it lies in its block, without a copy. A helper thread reads the
// plan's next block while the caller works on the current one, so the caller waits for a read
// only when it outpaces the disk. Only the calling thread touches the source's index; the helper
// only reads file bytes.
class SampleBlocks {
public:
    static constexpr int64_t kBlockBytes = 2 * 1024 * 1024;

    // Reads source along runs, taken in order; parts past the stream's end are dropped.
    SampleBlocks(Source& source, const std::vector<SampleRun>& runs);
    ~SampleBlocks();
    SampleBlocks(const SampleBlocks&) = delete;
    SampleBlocks& operator=(const SampleBlocks&) = delete;

    // Stores in bytes the data of sample pos, valid until the next call. Samples are best asked
    // for in the plan's order; others are read on their own. Returns BadPosition outside the
    // stream and ReadFailed when the file cannot give the bytes (bytes is then empty).
    [[nodiscard]] AviStatus sample(int32_t pos, std::span<const uint8_t>& bytes);

private:
    // File bytes [start, end) stored from offset on in a block's buffer.
    struct Segment {
        int64_t start = 0;
        int64_t end = 0;
        int64_t offset = 0;
    };
    // Whole samples of the plan up to (not including) sample `next` of run `run`.
    struct Block {
        std::unique_ptr<uint8_t[]> bytes;
        int64_t capacity = 0;
        std::vector<Segment> segments;
        size_t run = 0;
        int32_t next = 0;
        bool planned = false; // the block follows the plan, so the plan goes on after it
    };

    // Lays out in block the plan's samples from sample pos of run on: whole samples, up to
    // kBlockBytes of them (sample pos at least), one segment per run.
    void layOut(Block& block, size_t run, int32_t pos) const;
    // Reads block's segments; false when a read fails. A short read shortens its segment.
    bool read(Block& block);
    // Returns where block holds the bytes [offset, offset + size), or nullptr.
    static const uint8_t* find(const Block& block, int64_t offset, int32_t size);
    // Hands the plan's block after the current one to the helper thread.
    void readAhead();
    void waitForAhead();
    void runHelper(std::stop_token stop);

    Source& m_source;
    std::vector<SampleRun> m_runs;
    Block m_current;
    Block m_ahead; // the helper's while m_aheadPending
    bool m_aheadPending = false;
    // Guarded by m_mutex: whether the helper has m_ahead to read, and how that went.
    bool m_aheadRequested = false;
    bool m_aheadRead = false;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::jthread m_helper; // last: it stops and joins before the members it uses go
};

} // namespace video
