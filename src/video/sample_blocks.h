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

// Reads the samples of one source along a plan of runs, in blocks: a block holds the bytes of one
// or more runs (or part of one), each run read with one system call, and each sample is handed
// out where it lies in its block, without a copy. The system reads the file ahead as a file read
// front to back. With readAhead, a helper thread also reads the plan's next block while the caller
// works on the current one; only the calling thread touches the source's index, the helper only
// reads file bytes.
class SampleBlocks {
public:
    // Small enough that a block just read is still in the processor's cache when it is used.
    static constexpr int64_t kBlockBytes = 512 * 1024;
    // Blocks read ahead are larger, as each one costs the two threads a hand-over.
    static constexpr int64_t kReadAheadBlockBytes = 1024 * 1024;

    // Reads source along runs, taken in order; parts past the stream's end are dropped.
    SampleBlocks(Source& source, const std::vector<SampleRun>& runs, bool readAhead = false);
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
    // m_blockBytes of them (sample pos at least), one segment per run.
    void layOut(Block& block, size_t run, int32_t pos) const;
    // Reads block's segments; false when a read fails. A short read shortens its segment.
    bool read(Block& block);
    // True when block's layout takes in the bytes [offset, offset + size).
    static bool covers(const Block& block, int64_t offset, int32_t size);
    // Returns where block holds the bytes [offset, offset + size), or nullptr.
    static const uint8_t* find(const Block& block, int64_t offset, int32_t size);
    // Makes the plan's next block the current one and reads it, or takes the helper's finished
    // read; false when it cannot be read.
    bool takeNext();
    void waitForHelper();
    void runHelper(std::stop_token stop);

    Source& m_source;
    std::vector<SampleRun> m_runs;
    int64_t m_blockBytes;
    Block m_current;
    Block m_next; // the plan's block after m_current: laid out, and with readAhead read by the helper
    bool m_nextRequested = false; // m_next was handed to the helper
    // Guarded by m_mutex: the helper's work and how its read went.
    bool m_helperBusy = false;
    bool m_helperRead = false;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::jthread m_helper; // last: it stops and joins before the members it uses go
};

} // namespace video
