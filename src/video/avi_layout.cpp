#include "video/avi_layout.h"

#include "video/riff.h"

#include <algorithm>

namespace video::avi_layout {

int64_t superIndexBytes(const AviWriterOptions& options)
{
    return 24 + 16LL * std::max(options.superIndexEntries, 1);
}

size_t streamNameBytes(const core::AviStreamInfo& info)
{
    const auto end = std::find(info.szName.begin(), info.szName.end(), '\0');
    return static_cast<size_t>(end - info.szName.begin());
}

int64_t firstChunkPos(const core::AviStreamInfo& info, size_t formatBytes, const AviWriterOptions& options,
                      std::optional<size_t> audioFormatBytes)
{
    constexpr int64_t kListHeader = 12;
    int64_t pos = 12 + kListHeader + riff::chunkSpan(56); // RIFF 'AVI ', LIST 'hdrl', avih
    pos += kListHeader + riff::chunkSpan(56);             // LIST 'strl', strh
    pos += riff::chunkSpan(static_cast<uint32_t>(formatBytes));
    if (const size_t name = streamNameBytes(info); name > 0)
        pos += riff::chunkSpan(static_cast<uint32_t>(name + 1)); // with its NUL
    pos += 8 + superIndexBytes(options);
    if (audioFormatBytes) // the sound's LIST 'strl': strh, strf and its super index placeholder
        pos += kListHeader + riff::chunkSpan(56) + riff::chunkSpan(static_cast<uint32_t>(*audioFormatBytes)) +
               8 + superIndexBytes(options);
    pos += 8 + kOdmlPlaceholderBytes;
    // A JUNK chunk (at least its header) fills up to the boundary on which the first chunk starts.
    const int64_t unaligned = pos + 8 + kListHeader;
    return unaligned + (kMoviAlignment - unaligned % kMoviAlignment) % kMoviAlignment;
}

int64_t partClosingBytes(const PartSamples& samples, bool firstPart, bool openDml)
{
    int64_t bytes = 0;
    if (openDml) {
        bytes += 8 + 24 + 8 * samples.video;
        if (samples.hasAudio)
            bytes += 8 + 24 + 8 * samples.audio;
    }
    if (firstPart)
        bytes += 8 + 16 * samples.total();
    return bytes;
}

bool startsNewPart(int64_t partBytes, const PartSamples& samples, int64_t chunkBytes, bool audio,
                   bool firstPart, int32_t partCount, const AviWriterOptions& options)
{
    // While a file has one part nobody knows whether it will stay AVI 1.0, so room for the
    // standard indexes is kept in every part.
    PartSamples grown = samples;
    ++(audio ? grown.audio : grown.video);
    const int64_t projected = partBytes + chunkBytes + partClosingBytes(grown, firstPart, true);
    return samples.total() > 0 && projected > options.partBytes &&
           partCount < std::max(options.superIndexEntries, 1);
}

SizeCounter::SizeCounter(const core::AviStreamInfo& info, size_t formatBytes, const AviWriterOptions& options,
                         const AudioTrack* audio)
    : m_options(options), m_audio(audio),
      m_partBytes(firstChunkPos(info, formatBytes, options,
                                audio ? std::optional<size_t>(audio->format.size()) : std::nullopt))
{
    if (audio) {
        m_schedule.emplace(*audio, info);
        m_partSamples.hasAudio = true;
    }
}

void SizeCounter::addChunk(uint32_t sizeBytes, bool audio)
{
    const int64_t chunkBytes = riff::chunkSpan(sizeBytes);
    const bool firstPart = m_partCount == 1;
    if (startsNewPart(m_partBytes, m_partSamples, chunkBytes, audio, firstPart, m_partCount, m_options)) {
        m_closedBytes += m_partBytes + partClosingBytes(m_partSamples, firstPart, true);
        m_partBytes = kNextPartHeaderBytes;
        m_partSamples.video = 0;
        m_partSamples.audio = 0;
        ++m_partCount;
    }
    m_partBytes += chunkBytes;
    ++(audio ? m_partSamples.audio : m_partSamples.video);
}

void SizeCounter::addAudioUpTo(int32_t chunks)
{
    for (; m_audioChunks < chunks; ++m_audioChunks)
        addChunk(m_audio->chunkBytes[static_cast<size_t>(m_audioChunks)], true);
}

void SizeCounter::addSample(uint32_t sizeBytes)
{
    if (m_schedule)
        addAudioUpTo(m_schedule->chunksBefore(m_videoSamples));
    addChunk(sizeBytes, false);
    ++m_videoSamples;
}

int64_t SizeCounter::fileBytes() const
{
    return m_closedBytes + m_partBytes + partClosingBytes(m_partSamples, m_partCount == 1, m_partCount > 1);
}

} // namespace video::avi_layout
