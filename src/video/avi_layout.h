#pragma once

#include "core/stream_info.h"
#include "video/audio_track.h"
#include "video/avi_writer.h"

#include <optional>

#include <cstddef>
#include <cstdint>

namespace video {

// The byte layout of the files AviWriter writes, as pure arithmetic: the writer takes its
// decisions (header size, where a part ends, what closes it) from these functions, and the
// exact-size prediction counts a file with them before it exists.
namespace avi_layout {

// The first sample chunk starts on this boundary, as players that read in sectors expect.
inline constexpr int64_t kMoviAlignment = 2048;
// Data bytes of the LIST 'odml' placeholder: 'odml' + 'dmlh' header + dmlh data.
inline constexpr uint32_t kOdmlPlaceholderBytes = 4 + 8 + 248;
// Bytes that open every part after the first: 'RIFF' size 'AVIX' 'LIST' size 'movi'.
inline constexpr int64_t kNextPartHeaderBytes = 24;

// Returns the data bytes of the OpenDML super index placeholder for the options' part count.
int64_t superIndexBytes(const AviWriterOptions& options);

// Returns the length of the stream's name (info.szName up to its NUL); 0 writes no 'strn'.
size_t streamNameBytes(const core::AviStreamInfo& info);

// Returns the position of the first sample chunk of a file with this stream and format size (and
// the sound whose format has audioFormatBytes, when given): every header, placeholder and the
// alignment JUNK lie before it, the first 'LIST movi' header ends there.
int64_t firstChunkPos(const core::AviStreamInfo& info, size_t formatBytes, const AviWriterOptions& options,
                      std::optional<size_t> audioFormatBytes = std::nullopt);

// The chunks one part holds, per stream.
struct PartSamples {
    int64_t video = 0;
    int64_t audio = 0;
    bool hasAudio = false; // the file has a sound stream, which gets its own 'ix01'

    int64_t total() const { return video + audio; }
};

// Returns the bytes that close a part holding samples: its 'ix00' (and 'ix01' with a sound) when
// the file is OpenDML, and 'idx1' when it is the first part.
int64_t partClosingBytes(const PartSamples& samples, bool firstPart, bool openDml);

// True when a chunk of chunkBytes of the video (or, audio set, the sound) must open a new part
// instead of joining the current one, which holds samples in partBytes bytes (its headers
// included); partCount parts exist so far. A part would then grow past options.partBytes with its
// closing bytes counted as for an OpenDML file; a part always takes its first sample, and the
// file never has more parts than the super index holds.
bool startsNewPart(int64_t partBytes, const PartSamples& samples, int64_t chunkBytes, bool audio,
                   bool firstPart, int32_t partCount, const AviWriterOptions& options);

// Counts the size of a file sample by sample, as the writer lays it out: with a sound, its
// chunks go in where AudioSchedule puts them; those that start after the last frame ends are left
// out.
class SizeCounter {
public:
    // Counts a file without sound, or with audio (kept alive and unchanged by the caller).
    SizeCounter(const core::AviStreamInfo& info, size_t formatBytes, const AviWriterOptions& options,
                const AudioTrack* audio = nullptr);

    // Appends one video sample of sizeBytes, after the sound that plays before it ends.
    void addSample(uint32_t sizeBytes);
    // Returns the size of the finished file with the samples added so far.
    int64_t fileBytes() const;
    int32_t partCount() const { return m_partCount; }

private:
    void addChunk(uint32_t sizeBytes, bool audio);
    void addAudioUpTo(int32_t chunks);

    AviWriterOptions m_options;
    const AudioTrack* m_audio = nullptr;
    std::optional<AudioSchedule> m_schedule;
    int32_t m_audioChunks = 0; // sound chunks counted so far
    int64_t m_videoSamples = 0;
    int64_t m_closedBytes = 0; // bytes of the parts before the current one, closing bytes included
    int64_t m_partBytes = 0;   // bytes of the current part so far
    PartSamples m_partSamples;
    int32_t m_partCount = 1;
};

} // namespace avi_layout

} // namespace video
