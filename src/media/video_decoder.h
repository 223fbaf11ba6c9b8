#pragma once

#include "media/picture.h"

#include <cstdint>
#include <memory>
#include <string>

namespace media {

// What a film's first video stream says of itself.
struct FilmInfo {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t rate = 0;      // frames per second as rate / scale, reduced
    uint32_t scale = 0;
    int64_t frameCount = 0; // from the container, or counted packet by packet when it keeps none
    std::string codecName;  // FFmpeg's name of the stream's codec
};

enum class DecodeStatus { Ok, End, Failed };

// Decodes a film's first video stream frame by frame at the stream's constant rate: a frame the
// stream leaves out (a gap in the time stamps, an empty chunk) repeats the one before it, a frame
// with a time stamp already passed is dropped, as a constant-rate encoder needs. Holds a few
// frames at most, whatever the film's length.
class VideoDecoder {
public:
    virtual ~VideoDecoder() = default;
    virtual const FilmInfo& info() const = 0;
    // Scales every picture from now on to width x height (bicubic); the film's own size until set.
    virtual void setOutputSize(int32_t width, int32_t height) = 0;
    // Stores the next frame in picture. End after the last, Failed (see errorText) when the film
    // cannot be read or decoded on.
    [[nodiscard]] virtual DecodeStatus next(Picture& picture) = 0;
    // Frames handed out so far.
    virtual int64_t framesDecoded() const = 0;
    // FFmpeg's explanation of the last failure.
    virtual const std::string& errorText() const = 0;
};

// Opens the film at path with FFmpeg's demuxers and decoders, using their own threads; nullptr,
// with errorText set, when it cannot be read or has no video stream.
std::unique_ptr<VideoDecoder> openVideoDecoder(const std::string& path, std::string& errorText);

} // namespace media
