#include "output/frame_batch_writer.h"

#include <algorithm>

namespace output {

bool FrameBatchWriter::init(int32_t bufferSize, int32_t maxSampleSize)
{
    if (bufferSize <= 0 || maxSampleSize < 0 || maxSampleSize > bufferSize)
        return false;
    m_bufferSize = bufferSize;
    m_maxSampleSize = maxSampleSize;
    m_outputPosition = 0;
    m_pendingCount = 0;
    m_bufferUsed = 0;
    m_firstWriteFailure = video::AviStatus::Ok;
    std::vector<video::SampleWriter::SampleRef>(kPendingEntries).swap(m_pending);
    m_holders.clear();
    m_holders.reserve(kPendingEntries);
    m_loan = {};
    return true;
}

video::AviStatus FrameBatchWriter::addFrame(video::SampleReader& source, int32_t frameIndex,
                                            video::SampleWriter& output, uint32_t flags, int32_t& bytesRead)
{
    bytesRead = 0;
    if (m_pending.empty())
        return video::AviStatus::BadState;
    // The flush rule keeps maxSampleSize bytes free after every call; bounding the room by what
    // the batch has left as well keeps every batch within its size.
    const auto room = [this] { return std::min(m_maxSampleSize, m_bufferSize - m_bufferUsed); };
    // The last loan is handed in again: a sample from the same block then costs no reference.
    video::AviStatus status = source.lendSample(frameIndex, room(), m_loan);
    if (status == video::AviStatus::BlocksInUse && m_pendingCount > 0) {
        // The source reads on only into a block this batch no longer holds.
        (void)flush(output); // a failure is kept in firstWriteFailure()
        status = source.lendSample(frameIndex, room(), m_loan);
    }
    if (status != video::AviStatus::Ok)
        return status;
    const auto size = static_cast<int32_t>(m_loan.data.size());
    if (m_loan.data.size() > static_cast<size_t>(room()))
        return video::AviStatus::ReadFailed;

    m_pending[static_cast<size_t>(m_pendingCount)] = {m_loan.data, (flags & kKeyFrameFlag) != 0};
    // Neighbouring samples mostly share a block: each block is held once per run of them.
    if (m_loan.holder && (m_holders.empty() || m_holders.back() != m_loan.holder))
        m_holders.push_back(m_loan.holder);
    ++m_pendingCount;
    m_bufferUsed += size;
    bytesRead = size;

    if (m_pendingCount >= kPendingEntries || m_bufferUsed >= m_bufferSize - m_maxSampleSize)
        (void)flush(output); // a failure is kept in firstWriteFailure()
    return video::AviStatus::Ok;
}

video::AviStatus FrameBatchWriter::flush(video::SampleWriter& output)
{
    // The whole batch goes out in one call, so a file writer writes it straight from the blocks.
    int32_t written = 0;
    const video::AviStatus status = output.writeSamples(
        m_outputPosition, std::span(m_pending.data(), static_cast<size_t>(m_pendingCount)), written);
    // A failed write still uses up its position, so later samples keep their places; the
    // samples behind it are dropped.
    m_outputPosition += written + (status != video::AviStatus::Ok ? 1 : 0);
    if (status != video::AviStatus::Ok && m_firstWriteFailure == video::AviStatus::Ok)
        m_firstWriteFailure = status;
    m_pendingCount = 0;
    m_bufferUsed = 0;
    m_holders.clear();
    m_loan = {};
    return status;
}

} // namespace output
