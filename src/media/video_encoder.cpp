#include "media/video_encoder.h"
#include "media/video_media.h"

#include "media/ffmpeg_owners.h"
#include "media/frame_scaler.h"
#include "media/picture_frame.h"

extern "C" {
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <array>
#include <cstddef>
#include <deque>
#include <fstream>
#include <iterator>

namespace media {

namespace {

// The most frames libavcodec's MPEG-4 encoder puts between key frames unless told that longer
// groups are wanted.
constexpr int kMpeg4LongestGroup = 600;

class FfmpegEncoder : public VideoEncoder {
public:
    explicit FfmpegEncoder(const EncoderSettings& settings) : m_settings(settings) {}
    bool open(std::string& errorText);

    EncodeStatus encode(const Picture& picture, int64_t frameIndex, bool key,
                        std::vector<EncodedPacket>& packets) override;
    EncodeStatus finish(std::vector<EncodedPacket>& packets) override;
    const std::string& errorText() const override { return m_errorText; }

private:
    EncodeStatus send(const AVFrame* frame, std::vector<EncodedPacket>& packets);
    // Decodes packet and sums its squared error against the input it was made from, for encoders
    // that do not report it themselves.
    void measureError(const AVPacket& packet, EncodedPacket& out);
    void setMpeg4Options(Dictionary& options);
    void setH264Options(Dictionary& options);

    EncoderSettings m_settings;
    std::string m_statsIn;    // the second pass's statistics; outlives the context that points at it
    std::ofstream m_statsOut; // the first pass's statistics (MPEG-4; libx264 writes its own file)
    CodecContext m_context;
    Packet m_packet = makePacket();
    Frame m_frame = makeFrame();
    CodecContext m_checker;         // decodes the packets when the error is computed here
    std::deque<Frame> m_inputs;     // the inputs whose packets are not measured yet, in order
    Frame m_decoded = makeFrame();
    std::string m_errorText;
};

void FfmpegEncoder::setMpeg4Options(Dictionary& options)
{
    AVCodecContext& c = *m_context;
    // Key frames only where asked: no scene-cut detection, and groups as long as the film needs.
    options.set("sc_threshold", "1000000000");
    c.gop_size = std::max(m_settings.longestKeyDistance + 1, 12);
    if (c.gop_size > kMpeg4LongestGroup)
        c.strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (m_settings.mode == RateMode::ConstantQuantizer) {
        c.flags |= AV_CODEC_FLAG_QSCALE;
        c.global_quality = FF_QP2LAMBDA * m_settings.quantizer;
    }
    // Slice threads change the bitstream slightly but keep every frame's type.
    options.set("threads", m_settings.threads > 0 ? std::to_string(m_settings.threads) : "auto");
}

void FfmpegEncoder::setH264Options(Dictionary& options)
{
    AVCodecContext& c = *m_context;
    c.gop_size = std::max(m_settings.longestKeyDistance + 1, 12);
    // Every asked-for key frame an IDR frame (so each group is closed), with the stream headers
    // before it; scene cuts and periodic key frames off.
    options.set("forced-idr", "1");
    options.set("x264-params", "keyint=infinite:min-keyint=1:scenecut=0:open-gop=0:repeat-headers=1:annexb=1");
    if (m_settings.mode == RateMode::ConstantQuantizer)
        options.set("qp", std::to_string(m_settings.quantizer));
    if (m_settings.pass > 0)
        options.set("stats", m_settings.statsPath);
    options.set("threads", m_settings.threads > 0 ? std::to_string(m_settings.threads) : "auto");
}

bool FfmpegEncoder::open(std::string& errorText)
{
    const AVCodec* codec = m_settings.codec == VideoCodec::H264 ? avcodec_find_encoder_by_name("libx264")
                                                              : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (codec == nullptr) {
        errorText = m_settings.codec == VideoCodec::H264 ? "libx264 is not available" : "no MPEG-4 encoder";
        return false;
    }
    m_context.reset(avcodec_alloc_context3(codec));
    if (!m_context)
        std::abort();
    AVCodecContext& c = *m_context;
    c.width = m_settings.width;
    c.height = m_settings.height;
    c.pix_fmt = kEncoderPixelFormat;
    c.time_base = AVRational{static_cast<int>(m_settings.scale), static_cast<int>(m_settings.rate)};
    c.framerate = AVRational{static_cast<int>(m_settings.rate), static_cast<int>(m_settings.scale)};
    c.codec_tag = m_settings.fourcc;
    // The headers travel in every key frame, as AVI players expect, not in the container.
    c.flags &= ~AV_CODEC_FLAG_GLOBAL_HEADER;
    c.max_b_frames = 0;
    if (m_settings.mode == RateMode::AverageBitrate)
        c.bit_rate = m_settings.bitsPerSecond;
    if (m_settings.measureError)
        c.flags |= AV_CODEC_FLAG_PSNR;

    if (m_settings.pass == 1) {
        c.flags |= AV_CODEC_FLAG_PASS1;
    } else if (m_settings.pass == 2) {
        c.flags |= AV_CODEC_FLAG_PASS2;
        if (m_settings.codec == VideoCodec::Mpeg4) {
            std::ifstream in(m_settings.statsPath, std::ios::binary);
            m_statsIn.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (m_statsIn.empty()) {
                errorText = "the first pass left no statistics in " + m_settings.statsPath;
                return false;
            }
            c.stats_in = m_statsIn.data();
        }
    }

    Dictionary options;
    if (m_settings.codec == VideoCodec::H264)
        setH264Options(options);
    else
        setMpeg4Options(options);
    if (const int code = avcodec_open2(m_context.get(), codec, options.address()); code < 0) {
        errorText = errorString(code);
        return false;
    }
    // libx264 reports no squared error through libavcodec: decode its packets and compare. One
    // thread and low delay give each packet's picture at once.
    if (m_settings.measureError && m_settings.codec == VideoCodec::H264) {
        const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
        m_checker.reset(decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr);
        if (!m_checker) {
            errorText = "no H.264 decoder to measure the error";
            return false;
        }
        m_checker->thread_count = 1;
        m_checker->flags |= AV_CODEC_FLAG_LOW_DELAY;
        if (const int code = avcodec_open2(m_checker.get(), decoder, nullptr); code < 0) {
            errorText = errorString(code);
            return false;
        }
    }
    if (m_settings.pass == 1 && m_settings.codec == VideoCodec::Mpeg4) {
        m_statsOut.open(m_settings.statsPath, std::ios::binary | std::ios::trunc);
        if (!m_statsOut) {
            errorText = "cannot write " + m_settings.statsPath;
            return false;
        }
    }
    return true;
}

EncodeStatus FfmpegEncoder::send(const AVFrame* frame, std::vector<EncodedPacket>& packets)
{
    if (const int code = avcodec_send_frame(m_context.get(), frame); code < 0) {
        m_errorText = errorString(code);
        return EncodeStatus::Failed;
    }
    for (;;) {
        const int code = avcodec_receive_packet(m_context.get(), m_packet.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            return EncodeStatus::Ok;
        if (code < 0) {
            m_errorText = errorString(code);
            return EncodeStatus::Failed;
        }
        EncodedPacket& out = packets.emplace_back();
        out.data.assign(m_packet->data, m_packet->data + m_packet->size);
        out.key = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
        out.frameIndex = m_packet->pts;
        size_t statsBytes = 0;
        // Quality statistics: quality (4 bytes), picture type, error count, 2 reserved, errors.
        if (const uint8_t* stats = av_packet_get_side_data(m_packet.get(), AV_PKT_DATA_QUALITY_STATS, &statsBytes);
            stats != nullptr && statsBytes >= 8 && stats[5] >= 3 && statsBytes >= 8 + 3 * 8) {
            out.errorMeasured = true;
            for (size_t plane = 0; plane < 3; ++plane)
                out.squaredError[plane] = AV_RL64(stats + 8 + 8 * plane);
        }
        if (m_checker)
            measureError(*m_packet, out);
        av_packet_unref(m_packet.get());
        if (m_statsOut.is_open() && m_context->stats_out != nullptr)
            m_statsOut << m_context->stats_out;
    }
}

void FfmpegEncoder::measureError(const AVPacket& packet, EncodedPacket& out)
{
    if (avcodec_send_packet(m_checker.get(), &packet) < 0)
        return; // the error stays unmeasured
    while (avcodec_receive_frame(m_checker.get(), m_decoded.get()) == 0) {
        if (!m_inputs.empty()) {
            const AVFrame& input = *m_inputs.front();
            if (input.width == m_decoded->width && input.height == m_decoded->height &&
                m_decoded->format == kEncoderPixelFormat) {
                out.squaredError = squaredError(input, *m_decoded);
                out.errorMeasured = true;
            }
            m_inputs.pop_front();
        }
        av_frame_unref(m_decoded.get());
    }
}

EncodeStatus FfmpegEncoder::encode(const Picture& picture, int64_t frameIndex, bool key,
                                   std::vector<EncodedPacket>& packets)
{
    av_frame_unref(m_frame.get());
    if (const int code = av_frame_ref(m_frame.get(), picture.impl().frame.get()); code < 0) {
        m_errorText = errorString(code);
        return EncodeStatus::Failed;
    }
    m_frame->pts = frameIndex;
    m_frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    m_frame->key_frame = key ? 1 : 0;
    if (m_settings.mode == RateMode::ConstantQuantizer && m_settings.codec == VideoCodec::Mpeg4)
        m_frame->quality = key && m_settings.keyQuantizer > 0 ? FF_QP2LAMBDA * m_settings.keyQuantizer
                                                              : m_context->global_quality;
    if (m_checker) {
        m_inputs.push_back(makeFrame());
        if (av_frame_ref(m_inputs.back().get(), m_frame.get()) < 0)
            std::abort(); // only an allocation can fail here
    }
    return send(m_frame.get(), packets);
}

EncodeStatus FfmpegEncoder::finish(std::vector<EncodedPacket>& packets)
{
    const EncodeStatus status = send(nullptr, packets);
    if (status == EncodeStatus::Ok && m_statsOut.is_open()) {
        // The statistics of the whole film come last.
        if (m_context->stats_out != nullptr)
            m_statsOut << m_context->stats_out;
        m_statsOut.close();
        if (!m_statsOut) {
            m_errorText = "cannot write " + m_settings.statsPath;
            return EncodeStatus::Failed;
        }
    }
    return status;
}

class FfmpegMedia : public VideoMedia {
public:
    std::unique_ptr<VideoDecoder> openDecoder(const std::string& path, std::string& errorText) override
    {
        return openVideoDecoder(path, errorText);
    }
    std::unique_ptr<VideoEncoder> openEncoder(const EncoderSettings& settings, std::string& errorText) override
    {
        return openVideoEncoder(settings, errorText);
    }
};

} // namespace

std::unique_ptr<VideoEncoder> openVideoEncoder(const EncoderSettings& settings, std::string& errorText)
{
    // Failures reach the person as our messages; the libraries' own reports would only repeat them.
    av_log_set_level(AV_LOG_FATAL);
    auto encoder = std::make_unique<FfmpegEncoder>(settings);
    if (!encoder->open(errorText))
        return nullptr;
    return encoder;
}

VideoMedia& ffmpegMedia()
{
    static FfmpegMedia media;
    return media;
}

} // namespace media
