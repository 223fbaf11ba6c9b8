#pragma once

#include "core/stream_info.h"
#include "video/audio_track.h"
#include "video/avi_status.h"
#include "video/file_io.h"
#include "video/sample_io.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace video {

class AviWriter;

// Limits that shape the file; production defaults, small values let tests reach every path.
struct AviWriterOptions {
    // Largest size of one RIFF part; a file that would grow past it continues in OpenDML 'AVIX'
    // parts, with 'indx'/'ix00' indexes and 'dmlh'.
    int64_t partBytes = 1000LL * 1000 * 1000;
    // Entries reserved in the OpenDML super index: the most RIFF parts a file can have.
    int32_t superIndexEntries = 256;
    // Bytes the writer gathers before it hands them to the system.
    int32_t writeBufferBytes = 4 * 1024 * 1024;
};

struct AviCreateResult {
    AviStatus status = AviStatus::Ok;
    std::unique_ptr<AviWriter> writer; // set when status is Ok
    std::string errorText;             // the system's error text otherwise
};

// Writes an AVI file with one video stream and, when given, a sound stream after it. Up to partBytes it is
// AVI 1.0 with 'idx1'; beyond, OpenDML, still with 'idx1' for the first part. The file is complete after
// finish() (or the destructor, which finishes an unfinished file and ignores the outcome).
class AviWriter : public SampleWriter {
public:
    // Creates (or truncates) the file at path.
    [[nodiscard]] static AviCreateResult create(const std::string& path, const AviWriterOptions& options = {});
    // Writes into an already opened file (tests inject failing files this way).
    [[nodiscard]] static AviCreateResult create(std::unique_ptr<FileIo> file, const AviWriterOptions& options = {});

    ~AviWriter() override;
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates the video stream. Its header takes info unchanged except dwLength and
    // dwSuggestedBufferSize, which the writer recomputes, as it does the 'avih' totals.
    [[nodiscard]] AviStatus createStream(const core::AviStreamInfo& info);
    // Sets the stream's format ('strf'), stored byte for byte.
    [[nodiscard]] AviStatus setFormat(std::span<const uint8_t> format);
    // Adds the sound stream ('auds', stream 1) after createStream and before the first sample.
    // Its chunks are read from reader (kept alive by the caller until finish) and written before
    // the video frame they play with, as AudioSchedule says; chunks that start after the last
    // frame ends are left out, so an aborted copy holds the sound of the frames it holds.
    [[nodiscard]] AviStatus addAudio(const AudioTrack& track, AudioChunkReader& reader);
    // Appends sample pos (see SampleWriter::writeSample); an empty sample is an empty chunk.
    [[nodiscard]] AviStatus writeSample(int32_t pos, std::span<const uint8_t> data, bool key) override;
    // Appends the samples from pos on, writing straight from the caller's memory: they reach the
    // file before the call returns, without being copied.
    [[nodiscard]] AviStatus writeSamples(int32_t pos, std::span<const SampleRef> samples, int32_t& written) override;
    // Writes the indexes and headers and closes the file.
    [[nodiscard]] AviStatus finish();
    // Samples written so far.
    int32_t sampleCount() const;
    // The system's error text of the last failure.
    const std::string& errorText() const;

private:
    struct Impl;
    explicit AviWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace video
