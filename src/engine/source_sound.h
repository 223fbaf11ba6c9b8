#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace engine {

enum class SourceSoundStatus {
    NoSound,     // the film holds no sound: the Final AVI has none
    SourceItself, // the film's first sound stream is copied as it is: path is the film
    Encoded,     // the first sound stream was encoded to an MP3 file in the work folder: path
    Failed,      // the film does not open, or its sound cannot be decoded or encoded; detail says why
    Aborted,     // progress returned false; nothing is left in the work folder
};

struct SourceSound {
    SourceSoundStatus status = SourceSoundStatus::NoSound;
    std::string path;   // the job's sound file (SourceItself, Encoded); empty otherwise
    std::string detail; // Failed: FFmpeg's or the system's text
};

// Called with the fraction done (0..1) while the sound is encoded; returning false aborts.
using SoundProgress = std::function<bool(double fraction)>;

// Prepares the sound of the film at sourcePath for a Final AVI: none when it has no sound, the film
// itself when an AVI carries its first sound stream as it is (MP3, MP2, AC-3, DTS, PCM), otherwise
// that stream decoded and encoded to a constant-bitrate MP3 of kbps Kbps (1000 bits per second),
// 44.1 or 48 kHz and at most two channels, written to workFolder/sound.mp3 (replaced if there).
SourceSound prepareSourceSound(const std::string& sourcePath, int32_t kbps, const std::string& workFolder,
                               const SoundProgress& progress = {});

} // namespace engine
