#pragma once

// Converts decoded frames to the encoders' size and pixel format, for this folder's .cpp files.

#include "media/ffmpeg_owners.h"

#include <string>

namespace media {

// The pixel format every encoder of this folder takes.
constexpr AVPixelFormat kEncoderPixelFormat = AV_PIX_FMT_YUV420P;

// Turns frames of any size and pixel format into new YUV 4:2:0 frames of one size (bicubic).
// The context is made again only when the input's size or format changes.
class FrameScaler {
public:
    // Sets the size of the frames convert makes.
    void setOutputSize(int width, int height);
    // Returns frame itself when it already has the output size and format, otherwise a new frame
    // with its pixels converted; nullptr with errorText set on failure.
    Frame convert(Frame frame, std::string& errorText);

private:
    Scaler m_context;
    int m_width = 0;
    int m_height = 0;
    int m_inputWidth = 0;
    int m_inputHeight = 0;
    int m_inputFormat = -1;
};

} // namespace media
