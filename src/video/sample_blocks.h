#pragma once

#include "video/avi_status.h"
#include "video/source.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

namespace video {

// Reads samples of one source in file order through blocks of whole samples, so a run of
// neighbouring samples costs one system read per block and each sample is handed out where it
// lies, without a copy. While the caller works on one block, a helper thread reads the next one
// of the run. Only the calling thread touches the source's index; the helper only reads file
// bytes.
class SampleBlocks {
public:
    // Small enough that a block just read is still in the processor's cache when it is used.
    static constexpr int64_t kDefaultBlockBytes = 512 * 1024;

    explicit SampleBlocks(Source& source, int64_t blockBytes = kDefaultBlockBytes);
    ~SampleBlocks();
    SampleBlocks(const SampleBlocks&) = delete;
    SampleBlocks& operator=(const SampleBlocks&) = delete;

    // Stores in bytes the data of sample pos, valid until the next call. runEnd is the position
    // after the last sample of the run the caller reads in order (pos .. runEnd - 1): no block
    // reaches past that run. Returns BadPosition outside the stream and ReadFailed when the file
    // cannot give the bytes (bytes is then empty).
    [[nodiscard]] AviStatus sample(int32_t pos, int32_t runEnd, std::span<const uint8_t>& bytes);

private:
    // File bytes [start, end) holding whole samples first .. next - 1.
    struct Block {
        std::unique_ptr<uint8_t[]> bytes;
        int64_t capacity = 0;
        int64_t start = 0;
        int64_t end = 0; // bytes actually held end here
        int32_t next = -1;
        int32_t runEnd = -1;
        bool failed = false;
    };

    // Returns the block from sample pos's start to the end of the last whole sample of the run
    // within blockBytes (at least sample pos).
    Block extentFrom(int32_t pos, int32_t runEnd) const;
    // Reads block.start .. block's wanted end into block, growing its buffer.
    void read(Block& block, int64_t wantedEnd);
    // Hands the block after `current` in its run to the helper thread.
    void readAhead();
    void runHelper(std::stop_token stop);

    Source& m_source;
    int64_t m_blockBytes;
    Block m_current;
    Block m_ahead;             // read by the helper while m_aheadPending
    int64_t m_aheadWanted = 0; // the end the helper reads up to
    bool m_aheadPending = false;
    bool m_aheadRequested = false; // guarded by m_mutex: the helper has work
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::jthread m_helper;
};

} // namespace video
