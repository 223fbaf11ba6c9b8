#pragma once

#include "media/video_decoder.h"
#include "media/video_encoder.h"

#include <memory>
#include <string>

namespace media {

// The door through which the engine decodes films and encodes pictures, so its tests can put
// other decoders and encoders in place of FFmpeg's.
class VideoMedia {
public:
    virtual ~VideoMedia() = default;
    // See openVideoDecoder.
    virtual std::unique_ptr<VideoDecoder> openDecoder(const std::string& path, std::string& errorText) = 0;
    // See openVideoEncoder.
    virtual std::unique_ptr<VideoEncoder> openEncoder(const EncoderSettings& settings, std::string& errorText) = 0;
};

// FFmpeg's decoders and encoders.
VideoMedia& ffmpegMedia();

} // namespace media
