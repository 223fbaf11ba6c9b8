#pragma once

#include "core/job.h"
#include "core/user_interface_port.h"
#include "media/sound_file.h"
#include "video/audio_track.h"
#include "video/avi_writer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

// Opens the sound file at path. Shows why it cannot be used (it does not open, holds no sound,
// or its codec is refused) and returns nullptr then.
std::unique_ptr<media::SoundFile> openSound(const std::string& path, core::UiPort& ui);

// Takes the sound out of opened (media::SoundFile::open of path), showing openSound's messages
// and returning nullptr when it cannot be used.
std::unique_ptr<media::SoundFile> takeSound(media::OpenedSound opened, const std::string& path, core::UiPort& ui);

// Returns the sound a Final AVI of videoFrames frames with the video stream video carries: the
// sound's track, cut after the last chunk that starts before the video ends.
video::AudioTrack finalTrack(const media::SoundFile& sound, int64_t videoFrames,
                             const core::AviStreamInfo& video);

// Returns the bytes the sound adds to a Final AVI: its stream header list, its chunks with their
// headers and pads, and their 'idx1' entries.
int64_t soundBytes(const video::AudioTrack& track, const video::AviWriterOptions& options);

// Returns the sound's average Kbps rounded up, as the estimate counts it in place of the reserve.
int32_t soundKbps(const media::SoundFile& sound);

} // namespace engine
