#include "engine/source_sound.h"

#include "media/sound_encoder.h"
#include "media/sound_file.h"

#include <filesystem>

namespace engine {

SourceSound prepareSourceSound(const std::string& sourcePath, int32_t kbps, const std::string& workFolder,
                               const SoundProgress& progress)
{
    SourceSound result;
    const media::SoundStatus status = media::SoundFile::probe(sourcePath, result.detail);
    switch (status) {
    case media::SoundStatus::NoAudioStream:
        result.status = SourceSoundStatus::NoSound;
        return result;
    case media::SoundStatus::Ok:
        result.status = SourceSoundStatus::SourceItself;
        result.path = sourcePath;
        return result;
    case media::SoundStatus::CannotOpen:
    case media::SoundStatus::ReadFailed:
        result.status = SourceSoundStatus::Failed;
        return result;
    case media::SoundStatus::Refused:
        break;
    }
    const std::string mp3Path = (std::filesystem::path(workFolder) / "sound.mp3").string();
    const media::SoundEncodeResult encoded = media::encodeSoundToMp3(sourcePath, mp3Path, kbps, progress);
    result.detail = encoded.detail;
    switch (encoded.status) {
    case media::SoundEncodeStatus::Ok:
        result.status = SourceSoundStatus::Encoded;
        result.path = mp3Path;
        break;
    case media::SoundEncodeStatus::Failed:
        result.status = SourceSoundStatus::Failed;
        break;
    case media::SoundEncodeStatus::Aborted:
        result.status = SourceSoundStatus::Aborted;
        break;
    }
    return result;
}

} // namespace engine
