#include "output/frame_batch_writer.h"

#include <algorithm>
#include <new>

namespace output {

bool FrameBatchWriter::init(int32_t bufferSize, int32_t maxSampleSize)
{
    if (bufferSize <= 0 || maxSampleSize < 0 || maxSampleSize > bufferSize)
        return false;
    // Allocated without initialising: every byte is read into before it is written out.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[static_cast<size_t>(bufferSize)]);
    if (!buffer)
        return false;
    m_buffer = std::move(buffer);
    m_bufferSize = bufferSize;
    m_maxSampleSize = maxSampleSize;
    m_outputPosition = 0;
    m_pendingCount = 0;
    m_bufferUsed = 0;
    m_firstWriteFailure = video::AviStatus::Ok;
    std::vector<PendingFrame>(kPendingEntries).swap(m_pending);
    m_batch.clear();
    m_batch.reserve(kPendingEntries);
    return true;
}

video::AviStatus FrameBatchWriter::addFrame(video::SampleReader& source, int32_t frameIndex,
                                            video::SampleWriter& output, uint32_t flags, int32_t& bytesRead)
{
    bytesRead = 0;
    if (!m_buffer)
        return video::AviStatus::BadState;
    // The flush rule keeps maxSampleSize bytes free after every call; bounding the room by the
    // free space as well means no read can ever run past the buffer.
    const int32_t room = std::min(m_maxSampleSize, m_bufferSize - m_bufferUsed);
    int32_t read = 0;
    const video::AviStatus status = source.readSample(
        frameIndex, std::span<uint8_t>(m_buffer.get() + m_bufferUsed, static_cast<size_t>(room)), read);
    if (status != video::AviStatus::Ok)
        return status;
    if (read < 0 || read > room)
        return video::AviStatus::ReadFailed;

    PendingFrame& entry = m_pending[static_cast<size_t>(m_pendingCount)];
    entry.flags = flags;
    entry.offset = m_bufferUsed;
    entry.size = read;
    ++m_pendingCount;
    m_bufferUsed += read;
    bytesRead = read;

    if (m_pendingCount >= kPendingEntries || m_bufferUsed >= m_bufferSize - m_maxSampleSize)
        (void)flush(output); // a failure is kept in firstWriteFailure()
    return video::AviStatus::Ok;
}

video::AviStatus FrameBatchWriter::flush(video::SampleWriter& output)
{
    // The whole batch goes out in one call, so a file writer can write it straight from the buffer.
    m_batch.clear();
    for (int32_t i = 0; i < m_pendingCount; ++i) {
        const PendingFrame& entry = m_pending[static_cast<size_t>(i)];
        m_batch.push_back({std::span<const uint8_t>(m_buffer.get() + entry.offset, static_cast<size_t>(entry.size)),
                           (entry.flags & kKeyFrameFlag) != 0});
    }
    int32_t written = 0;
    const video::AviStatus status = output.writeSamples(m_outputPosition, m_batch, written);
    // A failed write still uses up its position, so later samples keep their places; the
    // samples behind it are dropped.
    m_outputPosition += written + (status != video::AviStatus::Ok ? 1 : 0);
    if (status != video::AviStatus::Ok && m_firstWriteFailure == video::AviStatus::Ok)
        m_firstWriteFailure = status;
    m_pendingCount = 0;
    m_bufferUsed = 0;
    return status;
}

} // namespace output
