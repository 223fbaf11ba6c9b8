#pragma once

// RAII owners of FFmpeg's objects. Included by this folder's .cpp files only: no header outside
// src/media names an FFmpeg type.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/frame.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace media {

struct FormatInputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwsDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResamplerDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
// An output context, its file closed first when it was opened.
struct FormatOutputDeleter {
    void operator()(AVFormatContext* context) const
    {
        if (context->pb && !(context->oformat->flags & AVFMT_NOFILE))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

using FormatInput = std::unique_ptr<AVFormatContext, FormatInputDeleter>; // from avformat_open_input
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using Scaler = std::unique_ptr<SwsContext, SwsDeleter>;
using Resampler = std::unique_ptr<SwrContext, ResamplerDeleter>;
using AudioFifo = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using FormatOutput = std::unique_ptr<AVFormatContext, FormatOutputDeleter>; // from avformat_alloc_output_context2

// Owns an AVDictionary that FFmpeg calls take by address (and may replace).
class Dictionary {
public:
    Dictionary() = default;
    ~Dictionary() { av_dict_free(&m_dictionary); }
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    void set(const char* key, const std::string& value) { av_dict_set(&m_dictionary, key, value.c_str(), 0); }
    AVDictionary** address() { return &m_dictionary; }

private:
    AVDictionary* m_dictionary = nullptr;
};

// Opens path for demuxing and reads its stream information; nullptr (with errorText set) on failure.
FormatInput openInput(const std::string& path, std::string& errorText);
// Allocates a frame or packet; never nullptr (FFmpeg's allocation failure ends the program).
Frame makeFrame();
Packet makePacket();
// FFmpeg's text for an AVERROR code.
std::string errorString(int code);

} // namespace media
