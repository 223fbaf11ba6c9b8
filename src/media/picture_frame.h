#pragma once

// The FFmpeg side of a Picture, for this folder's .cpp files only.

#include "media/ffmpeg_owners.h"
#include "media/picture.h"

#include <array>
#include <cstdint>

namespace media {

struct Picture::Impl {
    Frame frame = makeFrame();
};

// Sums the squared differences of two pictures of the same size and format, per plane.
std::array<uint64_t, 3> squaredError(const AVFrame& a, const AVFrame& b);

// Returns a picture that takes frame over.
Picture pictureOf(Frame frame);

} // namespace media
