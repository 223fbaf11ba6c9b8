#include "video/audio_track.h"

#include <numeric>

namespace video {

namespace {

__extension__ typedef __int128 Wide; // start times compared exactly, whatever the rates

// True when a track position of units starts before the moment frames video frames end.
bool startsBefore(int64_t units, const AudioTrack& track, int64_t frames, uint32_t videoScale,
                  uint32_t videoRate)
{
    // units * scale / rate < frames * videoScale / videoRate, multiplied out.
    return Wide{units} * track.scale * videoRate < Wide{frames} * videoScale * track.rate;
}

int64_t unitsOf(int64_t bytes, int64_t chunks, const AudioTrack& track)
{
    return track.sampleSize > 0 ? bytes / track.sampleSize : chunks;
}

} // namespace

int64_t AudioTrack::lengthUnits() const
{
    const int64_t bytes = std::accumulate(chunkBytes.begin(), chunkBytes.end(), int64_t{0});
    return unitsOf(bytes, static_cast<int64_t>(chunkBytes.size()), *this);
}

AudioSchedule::AudioSchedule(const AudioTrack& track, const core::AviStreamInfo& video)
    : m_track(&track), m_videoScale(video.dwScale), m_videoRate(video.dwRate)
{
}

int32_t AudioSchedule::chunksBefore(int64_t frame)
{
    const auto count = static_cast<int32_t>(m_track->chunkBytes.size());
    while (m_next < count && startsBefore(m_nextStart, *m_track, frame + 1, m_videoScale, m_videoRate)) {
        m_nextBytes += m_track->chunkBytes[static_cast<size_t>(m_next)];
        ++m_next;
        m_nextStart = unitsOf(m_nextBytes, m_next, *m_track);
    }
    return m_next;
}

void cutAudioTrack(AudioTrack& track, int64_t videoFrames, const core::AviStreamInfo& video)
{
    if (track.rate == 0 || video.dwRate == 0)
        return;
    int64_t bytes = 0;
    for (size_t i = 0; i < track.chunkBytes.size(); ++i) {
        const int64_t start = unitsOf(bytes, static_cast<int64_t>(i), track);
        if (!startsBefore(start, track, videoFrames, video.dwScale, video.dwRate)) {
            track.chunkBytes.resize(i);
            return;
        }
        if (track.splittable && track.sampleSize > 0) {
            // Keep the units of this chunk that start before the end: those below the end's
            // position in units, rounded up.
            const Wide num = Wide{videoFrames} * video.dwScale * track.rate;
            const Wide den = Wide{video.dwRate} * track.scale;
            const auto endUnits = static_cast<int64_t>((num + den - 1) / den);
            const int64_t units = track.chunkBytes[i] / track.sampleSize;
            if (endUnits - start < units) {
                track.chunkBytes[i] = static_cast<uint32_t>((endUnits - start) * track.sampleSize);
                track.chunkBytes.resize(i + 1);
                return;
            }
        }
        bytes += track.chunkBytes[i];
    }
}

} // namespace video
