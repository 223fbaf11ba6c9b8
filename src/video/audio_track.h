#pragma once

#include "core/stream_info.h"

#include <cstdint>
#include <string>
#include <vector>

namespace video {

// A sound stream written beside the video: its 'strh' time base, its 'strf' (a WAVEFORMATEX) and
// the byte size of every chunk in playing order. A byte stream (sampleSize > 0) counts its time
// in bytes / sampleSize; otherwise every chunk is one unit of scale / rate seconds.
struct AudioTrack {
    uint32_t scale = 1;
    uint32_t rate = 0;
    uint32_t sampleSize = 0; // bytes per unit of a byte stream; 0 for one chunk per unit
    bool splittable = false; // PCM: a chunk may be cut at any multiple of sampleSize
    std::vector<uint8_t> format;
    std::vector<uint32_t> chunkBytes;

    // Returns the units (of scale / rate seconds) the stream holds.
    int64_t lengthUnits() const;
};

// Hands out the bytes of a track's chunks, in any order.
class AudioChunkReader {
public:
    virtual ~AudioChunkReader() = default;
    // Stores chunk's bytes (at least the track's size for it) in bytes; false after a failed read.
    [[nodiscard]] virtual bool readChunk(int32_t chunk, std::vector<uint8_t>& bytes) = 0;
    // The system's text of the last failed read.
    virtual std::string errorText() const = 0;
};

// Says which chunks of a track play with which video frame: the chunks written before a frame
// are those that start before the frame ends, so the sound of the first frame comes first and
// every chunk lies within one frame of the video it plays with.
class AudioSchedule {
public:
    // Uses track and the video's dwScale / dwRate; the caller keeps track alive and unchanged.
    AudioSchedule(const AudioTrack& track, const core::AviStreamInfo& video);
    // Returns how many chunks (from the first) start before video frame `frame` ends.
    int32_t chunksBefore(int64_t frame);

private:
    const AudioTrack* m_track;
    uint32_t m_videoScale;
    uint32_t m_videoRate;
    int32_t m_next = 0;      // chunks known to start before the last frame asked for
    int64_t m_nextStart = 0; // start of chunk m_next in units
    int64_t m_nextBytes = 0; // bytes before chunk m_next
};

// Cuts track after the last chunk that starts before a video of videoFrames frames ends; a
// splittable chunk is cut at the first unit that starts at or after the end. A shorter track
// stays as it is.
void cutAudioTrack(AudioTrack& track, int64_t videoFrames, const core::AviStreamInfo& video);

} // namespace video
