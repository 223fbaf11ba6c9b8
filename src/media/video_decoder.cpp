#include "media/video_decoder.h"

#include "media/ffmpeg_owners.h"
#include "media/frame_scaler.h"
#include "media/picture_frame.h"

#include <optional>

namespace media {

namespace {

// Counts the packets of stream in the file at path: the frame count of a container that keeps
// none (Matroska, for one). -1 when the file cannot be read.
int64_t countPackets(const std::string& path, int stream)
{
    std::string errorText;
    FormatInput input = openInput(path, errorText);
    if (!input)
        return -1;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        input->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    Packet packet = makePacket();
    int64_t count = 0;
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream)
            ++count;
        av_packet_unref(packet.get());
    }
    return count;
}

class FfmpegDecoder : public VideoDecoder {
public:
    bool open(const std::string& path, std::string& errorText);

    const FilmInfo& info() const override { return m_info; }
    void setOutputSize(int32_t width, int32_t height) override { m_scaler.setOutputSize(width, height); }
    DecodeStatus next(Picture& picture) override;
    int64_t framesDecoded() const override { return m_next; }
    const std::string& errorText() const override { return m_errorText; }

private:
    // Decodes the next frame of the stream into m_pending with its frame number; End after the
    // stream's last.
    DecodeStatus decodeOne();
    DecodeStatus hand(Picture& picture, const Picture& source);

    FormatInput m_input;
    CodecContext m_codec;
    Packet m_packet = makePacket();
    FrameScaler m_scaler;
    FilmInfo m_info;
    int m_stream = -1;
    AVRational m_timeBase{0, 1};
    int64_t m_startTime = AV_NOPTS_VALUE;
    bool m_fileEnded = false;
    bool m_decoderEnded = false;
    std::optional<Picture> m_pending;
    int64_t m_pendingIndex = 0;
    Picture m_last;
    int64_t m_next = 0;
    std::string m_errorText;
};

bool FfmpegDecoder::open(const std::string& path, std::string& errorText)
{
    m_input = openInput(path, errorText);
    if (!m_input)
        return false;
    const AVCodec* codec = nullptr;
    m_stream = av_find_best_stream(m_input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (m_stream < 0 || codec == nullptr) {
        errorText = m_stream == AVERROR_DECODER_NOT_FOUND ? "no decoder for its video stream" : "no video stream";
        return false;
    }
    for (unsigned i = 0; i < m_input->nb_streams; ++i)
        m_input->streams[i]->discard = static_cast<int>(i) == m_stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    const AVStream* stream = m_input->streams[m_stream];
    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec)
        std::abort();
    if (const int code = avcodec_parameters_to_context(m_codec.get(), stream->codecpar); code < 0) {
        errorText = errorString(code);
        return false;
    }
    // The decoder's own threads, as many as it finds cores for.
    m_codec->thread_count = 0;
    m_codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (const int code = avcodec_open2(m_codec.get(), codec, nullptr); code < 0) {
        errorText = errorString(code);
        return false;
    }
    m_timeBase = stream->time_base;
    m_startTime = stream->start_time;

    AVRational rate = stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0 ? stream->avg_frame_rate
                                                                                      : stream->r_frame_rate;
    int reducedRate = 0;
    int reducedScale = 0;
    if (rate.num > 0 && rate.den > 0)
        (void)av_reduce(&reducedRate, &reducedScale, rate.num, rate.den, INT32_MAX); // exact for int inputs
    m_info.width = stream->codecpar->width;
    m_info.height = stream->codecpar->height;
    m_info.rate = static_cast<uint32_t>(reducedRate);
    m_info.scale = static_cast<uint32_t>(reducedScale);
    m_info.frameCount = stream->nb_frames > 0 ? stream->nb_frames : countPackets(path, m_stream);
    m_info.codecName = codec->name;
    if (m_info.rate == 0 || m_info.scale == 0) {
        errorText = "its video stream gives no frame rate";
        return false;
    }
    return true;
}

DecodeStatus FfmpegDecoder::decodeOne()
{
    Frame frame = makeFrame();
    for (;;) {
        const int received = avcodec_receive_frame(m_codec.get(), frame.get());
        if (received == 0)
            break;
        if (received == AVERROR_EOF) {
            m_decoderEnded = true;
            return DecodeStatus::End;
        }
        if (received != AVERROR(EAGAIN)) {
            m_errorText = errorString(received);
            return DecodeStatus::Failed;
        }
        if (m_fileEnded) {
            (void)avcodec_send_packet(m_codec.get(), nullptr); // drains; cannot fail after the last packet
            continue;
        }
        const int read = av_read_frame(m_input.get(), m_packet.get());
        if (read == AVERROR_EOF) {
            m_fileEnded = true;
            continue;
        }
        if (read < 0) {
            m_errorText = errorString(read);
            return DecodeStatus::Failed;
        }
        // An empty chunk is a frame the film leaves out (it repeats the one before); handed to the
        // decoder it would end the stream.
        if (m_packet->stream_index == m_stream && m_packet->size > 0) {
            const int sent = avcodec_send_packet(m_codec.get(), m_packet.get());
            // A damaged packet loses its frame, which the one before then stands in for.
            if (sent < 0 && sent != AVERROR_INVALIDDATA) {
                av_packet_unref(m_packet.get());
                m_errorText = errorString(sent);
                return DecodeStatus::Failed;
            }
        }
        av_packet_unref(m_packet.get());
    }
    const int64_t stamp = frame->best_effort_timestamp;
    if (stamp == AV_NOPTS_VALUE) {
        m_pendingIndex = m_next;
    } else {
        if (m_startTime == AV_NOPTS_VALUE)
            m_startTime = stamp;
        const AVRational frameDuration{static_cast<int>(m_info.scale), static_cast<int>(m_info.rate)};
        m_pendingIndex = av_rescale_q(stamp - m_startTime, m_timeBase, frameDuration);
    }
    Frame converted = m_scaler.convert(std::move(frame), m_errorText);
    if (!converted)
        return DecodeStatus::Failed;
    m_pending = pictureOf(std::move(converted));
    return DecodeStatus::Ok;
}

DecodeStatus FfmpegDecoder::hand(Picture& picture, const Picture& source)
{
    picture = source.share();
    ++m_next;
    return DecodeStatus::Ok;
}

DecodeStatus FfmpegDecoder::next(Picture& picture)
{
    for (;;) {
        if (m_pending) {
            // The first frame counts as frame 0 wherever the stream starts.
            if (m_pendingIndex == m_next || (m_pendingIndex > m_next && !m_last.holdsPixels())) {
                m_last = std::move(*m_pending);
                m_pending.reset();
                return hand(picture, m_last);
            }
            if (m_pendingIndex > m_next)
                return hand(picture, m_last);
            m_pending.reset(); // a time already passed
        }
        if (m_decoderEnded) {
            // Frames the container counts past the last decoded one repeat it.
            if (m_last.holdsPixels() && m_next < m_info.frameCount)
                return hand(picture, m_last);
            return DecodeStatus::End;
        }
        if (const DecodeStatus status = decodeOne(); status == DecodeStatus::Failed)
            return status;
    }
}

} // namespace

std::unique_ptr<VideoDecoder> openVideoDecoder(const std::string& path, std::string& errorText)
{
    // Failures reach the person as our messages; the libraries' own reports would only repeat them.
    av_log_set_level(AV_LOG_FATAL);
    auto decoder = std::make_unique<FfmpegDecoder>();
    if (!decoder->open(path, errorText))
        return nullptr;
    return decoder;
}

} // namespace media
