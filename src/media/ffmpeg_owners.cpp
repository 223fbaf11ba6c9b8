#include "media/ffmpeg_owners.h"

#include <cstdlib>

namespace media {

FormatInput openInput(const std::string& path, std::string& errorText)
{
    AVFormatContext* raw = nullptr;
    if (const int code = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); code < 0) {
        errorText = errorString(code);
        return nullptr;
    }
    FormatInput input(raw);
    if (const int code = avformat_find_stream_info(input.get(), nullptr); code < 0) {
        errorText = errorString(code);
        return nullptr;
    }
    return input;
}

Frame makeFrame()
{
    Frame frame(av_frame_alloc());
    if (!frame)
        std::abort();
    return frame;
}

Packet makePacket()
{
    Packet packet(av_packet_alloc());
    if (!packet)
        std::abort();
    return packet;
}

std::string errorString(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace media
