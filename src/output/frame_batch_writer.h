#pragma once

#include "video/avi_status.h"
#include "video/sample_io.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace output {

// Copies compressed samples from sources to one output in batches: samples are read one at a
// time into one buffer and written, in read order, when 1000 are pending or the buffer's free
// room has shrunk to maxSampleSize or less. Invariant between calls: fewer than 1000 entries
// pending, and the pending samples lie back to back from the buffer's start.
class FrameBatchWriter {
public:
    static constexpr int32_t kPendingEntries = 1000;
    static constexpr int32_t kDefaultBufferBytes = 2097152;
    // Index flag of a key frame.
    static constexpr uint32_t kKeyFrameFlag = 16;

    // One pending sample.
    struct PendingFrame {
        uint32_t flags = 0; // 16 (key frame) or 0
        int32_t offset = 0; // where its bytes start in the buffer
        int32_t size = 0;   // its length in bytes
    };

    // Allocates the buffer and resets the writer. Refuses (returns false) a bufferSize of 0 or
    // less, a maxSampleSize below 0 or larger than bufferSize, and a failed allocation.
    [[nodiscard]] bool init(int32_t bufferSize, int32_t maxSampleSize);
    // Reads sample frameIndex of source into the buffer and records it with flags; flushes to
    // output when the batch is full. The read is offered maxSampleSize bytes of room, never more
    // than the buffer's free space. Returns the read's status (the writer is then unchanged);
    // bytesRead holds the sample's size, 0 after a refused read.
    [[nodiscard]] video::AviStatus addFrame(video::SampleReader& source, int32_t frameIndex,
                                            video::SampleWriter& output, uint32_t flags, int32_t& bytesRead);
    // Writes every pending sample to output at the next positions; stops at the first failed
    // write (which still uses up its position) and drops the rest. Always leaves the writer empty.
    [[nodiscard]] video::AviStatus flush(video::SampleWriter& output);

    int32_t pendingCount() const { return m_pendingCount; }
    int32_t bufferUsed() const { return m_bufferUsed; }
    int32_t outputPosition() const { return m_outputPosition; }
    // The first failed write since init, also of flushes run inside addFrame; Ok when none.
    video::AviStatus firstWriteFailure() const { return m_firstWriteFailure; }

private:
    std::vector<PendingFrame> m_pending;
    int32_t m_bufferSize = 0;
    int32_t m_outputPosition = 0;
    int32_t m_maxSampleSize = 0;
    int32_t m_pendingCount = 0;
    int32_t m_bufferUsed = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::vector<video::SampleWriter::SampleRef> m_batch; // the batch handed to the output, reused
    video::AviStatus m_firstWriteFailure = video::AviStatus::Ok;
};

} // namespace output
