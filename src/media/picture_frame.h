#pragma once

// The FFmpeg side of a Picture, for this folder's .cpp files only.

#include "media/ffmpeg_owners.h"
#include "media/picture.h"

namespace media {

struct Picture::Impl {
    Frame frame = makeFrame();
};

// Returns a picture that takes frame over.
Picture pictureOf(Frame frame);

} // namespace media
