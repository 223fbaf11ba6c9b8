#include "media/frame_scaler.h"

namespace media {

void FrameScaler::setOutputSize(int width, int height)
{
    if (width != m_width || height != m_height)
        m_context.reset();
    m_width = width;
    m_height = height;
}

Frame FrameScaler::convert(Frame frame, std::string& errorText)
{
    const int width = m_width > 0 ? m_width : frame->width;
    const int height = m_height > 0 ? m_height : frame->height;
    if (frame->width == width && frame->height == height && frame->format == kEncoderPixelFormat)
        return frame;
    if (!m_context || frame->width != m_inputWidth || frame->height != m_inputHeight ||
        frame->format != m_inputFormat) {
        m_context.reset(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width,
                                       height, kEncoderPixelFormat, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!m_context) {
            errorText = "cannot convert pictures of " + std::to_string(frame->width) + "x" +
                        std::to_string(frame->height) + " to " + std::to_string(width) + "x" + std::to_string(height);
            return nullptr;
        }
        m_inputWidth = frame->width;
        m_inputHeight = frame->height;
        m_inputFormat = frame->format;
    }
    // A new buffer for every frame: encoders keep references to the frames they were given.
    Frame out = makeFrame();
    out->width = width;
    out->height = height;
    out->format = kEncoderPixelFormat;
    if (const int code = av_frame_get_buffer(out.get(), 0); code < 0) {
        errorText = errorString(code);
        return nullptr;
    }
    if (const int code = sws_scale(m_context.get(), frame->data, frame->linesize, 0, frame->height, out->data,
                                   out->linesize);
        code < 0) {
        errorText = errorString(code);
        return nullptr;
    }
    (void)av_frame_copy_props(out.get(), frame.get()); // time stamps only; a failure loses side data
    return out;
}

} // namespace media
