#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace media {

enum class SoundEncodeStatus {
    Ok,
    Failed,  // the file does not open, holds no sound, or decoding, encoding or writing failed; see detail
    Aborted, // progress returned false
};

struct SoundEncodeResult {
    SoundEncodeStatus status = SoundEncodeStatus::Ok;
    std::string detail; // FFmpeg's or the system's text of the failure
};

// Decodes the first sound stream of sourcePath and writes it to mp3Path as a constant-bitrate MP3
// of kbps Kbps (1000 bits per second) through libmp3lame: the sample rate kept when MP3 has it
// (else 48 kHz), at most two channels (more are mixed down to two). progress is called with the
// fraction done and aborts when it returns false. On a failure or an abort mp3Path is removed.
SoundEncodeResult encodeSoundToMp3(const std::string& sourcePath, const std::string& mp3Path, int32_t kbps,
                                   const std::function<bool(double)>& progress);

} // namespace media
