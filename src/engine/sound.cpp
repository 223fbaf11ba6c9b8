#include "engine/sound.h"

#include "core/messages.h"
#include "video/avi_layout.h"
#include "video/riff.h"

#include <cmath>

namespace engine {

std::unique_ptr<media::SoundFile> openSound(const std::string& path, core::UiPort& ui)
{
    return takeSound(media::SoundFile::open(path), path, ui);
}

std::unique_ptr<media::SoundFile> takeSound(media::OpenedSound opened, const std::string& path, core::UiPort& ui)
{
    switch (opened.status) {
    case media::SoundStatus::Ok:
        return std::move(opened.sound);
    case media::SoundStatus::CannotOpen:
    case media::SoundStatus::ReadFailed:
        ui.showMessage(core::messages::soundOpenFailed(path, opened.detail));
        break;
    case media::SoundStatus::NoAudioStream:
        ui.showMessage(core::messages::soundHasNoAudio(path));
        break;
    case media::SoundStatus::Refused:
        ui.showMessage(core::messages::soundCodecRefused(opened.detail));
        break;
    }
    return nullptr;
}

video::AudioTrack finalTrack(const media::SoundFile& sound, int64_t videoFrames,
                             const core::AviStreamInfo& video)
{
    video::AudioTrack track = sound.track();
    video::cutAudioTrack(track, videoFrames, video);
    return track;
}

int64_t soundBytes(const video::AudioTrack& track, const video::AviWriterOptions& options)
{
    int64_t bytes = 12 + video::riff::chunkSpan(56) +
                    video::riff::chunkSpan(static_cast<uint32_t>(track.format.size())) + 8 +
                    video::avi_layout::superIndexBytes(options);
    for (const uint32_t size : track.chunkBytes)
        bytes += video::riff::chunkSpan(size) + 16;
    return bytes;
}

int32_t soundKbps(const media::SoundFile& sound)
{
    return static_cast<int32_t>(std::ceil(sound.kbps()));
}

} // namespace engine
