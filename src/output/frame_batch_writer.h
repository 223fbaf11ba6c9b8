#pragma once

#include "video/avi_status.h"
#include "video/sample_io.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace output {

// Copies compressed samples from sources to one output in batches. Each sample is lent by its
// source, never copied in memory, and the batch is written in read order straight from the
// sources' read blocks when 1000 samples are pending or their bytes reached the batch size less
// maxSampleSize; also, before the next sample, when its source has lent out every block it reads
// into. Invariant between calls: fewer than 1000 entries pending, and the blocks holding their
// bytes are kept until they are written.
class FrameBatchWriter {
public:
    static constexpr int32_t kPendingEntries = 1000;
    static constexpr int32_t kDefaultBufferBytes = 2097152;
    // Index flag of a key frame.
    static constexpr uint32_t kKeyFrameFlag = 16;

    // Sets the batch size in bytes and the largest sample accepted, allocates the table of
    // pending samples and resets the writer. Refuses (returns false) a bufferSize of 0 or less
    // and a maxSampleSize below 0 or larger than bufferSize.
    [[nodiscard]] bool init(int32_t bufferSize, int32_t maxSampleSize);
    // Borrows sample frameIndex of source and records it with flags; flushes to output when the
    // batch is full. The sample is offered maxSampleSize bytes of room, never more than what the
    // batch has left. Returns the lend's status (the writer is then unchanged, unless the source
    // had no free block: the batch was then flushed); bytesRead holds the sample's size, 0 after a
    // refusal.
    [[nodiscard]] video::AviStatus addFrame(video::SampleReader& source, int32_t frameIndex,
                                            video::SampleWriter& output, uint32_t flags, int32_t& bytesRead);
    // Writes every pending sample to output at the next positions; stops at the first failed
    // write (which still uses up its position) and drops the rest. Always leaves the writer empty
    // and releases the blocks the samples were lent from.
    [[nodiscard]] video::AviStatus flush(video::SampleWriter& output);

    int32_t pendingCount() const { return m_pendingCount; }
    // Bytes of the pending samples.
    int32_t bufferUsed() const { return m_bufferUsed; }
    int32_t outputPosition() const { return m_outputPosition; }
    // The first failed write since init, also of flushes run inside addFrame; Ok when none.
    video::AviStatus firstWriteFailure() const { return m_firstWriteFailure; }

private:
    std::vector<video::SampleWriter::SampleRef> m_pending; // kPendingEntries from init on
    std::vector<std::shared_ptr<const void>> m_holders;    // keep the pending samples' blocks
    video::SampleLoan m_loan; // the last loan; its holder is one of m_holders while it is set
    int32_t m_bufferSize = 0;
    int32_t m_outputPosition = 0;
    int32_t m_maxSampleSize = 0;
    int32_t m_pendingCount = 0;
    int32_t m_bufferUsed = 0;
    video::AviStatus m_firstWriteFailure = video::AviStatus::Ok;
};

} // namespace output
