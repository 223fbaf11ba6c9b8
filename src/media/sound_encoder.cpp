#include "media/sound_encoder.h"

#include "media/ffmpeg_owners.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace media {

namespace {

// The sample rate of the MP3: the film's when MPEG-1 Layer III has it, else the nearer of 44.1
// and 48 kHz's families.
int mp3SampleRate(int rate)
{
    if (rate == 32000 || rate == 44100 || rate == 48000)
        return rate;
    return rate % 11025 == 0 ? 44100 : 48000;
}

// Decodes, resamples and encodes one stream, writing the MP3 as it goes.
class Mp3Transcoder {
public:
    explicit Mp3Transcoder(const std::function<bool(double)>& progress) : m_progress(progress) {}

    // The file written so far, to be removed when the encode did not complete.
    const std::string& writtenPath() const { return m_path; }
    void closeOutput() { m_output.reset(); }

    SoundEncodeResult run(const std::string& sourcePath, const std::string& mp3Path, int32_t kbps)
    {
        if (!openSource(sourcePath) || !openEncoder(kbps) || !openOutput(mp3Path))
            return m_result;
        Packet packet = makePacket();
        for (;;) {
            const int code = av_read_frame(m_input.get(), packet.get());
            if (code == AVERROR_EOF)
                break;
            if (code < 0) {
                fail(code);
                return m_result;
            }
            const bool ours = packet->stream_index == m_streamIndex;
            const int sent = ours ? avcodec_send_packet(m_decoder.get(), packet.get()) : 0;
            av_packet_unref(packet.get());
            // A damaged packet is skipped as players skip it; the rest of the sound still counts.
            if (sent < 0 && sent != AVERROR_INVALIDDATA) {
                fail(sent);
                return m_result;
            }
            if (ours && !drainDecoder())
                return m_result;
        }
        if (!finish())
            return m_result;
        if (m_progress)
            m_progress(1.0);
        return m_result;
    }

private:
    bool openSource(const std::string& path)
    {
        av_log_set_level(AV_LOG_ERROR);
        m_input = openInput(path, m_result.detail);
        if (!m_input)
            return failed();
        for (unsigned i = 0; i < m_input->nb_streams; ++i) {
            if (m_input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                m_streamIndex = static_cast<int>(i);
                break;
            }
        }
        if (m_streamIndex < 0)
            return fail(AVERROR_STREAM_NOT_FOUND);
        const AVStream& stream = *m_input->streams[m_streamIndex];
        const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
        if (!codec)
            return fail(AVERROR_DECODER_NOT_FOUND);
        m_decoder.reset(avcodec_alloc_context3(codec));
        if (const int code = avcodec_parameters_to_context(m_decoder.get(), stream.codecpar); code < 0)
            return fail(code);
        m_decoder->pkt_timebase = stream.time_base;
        if (const int code = avcodec_open2(m_decoder.get(), codec, nullptr); code < 0)
            return fail(code);
        if (m_decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&m_decoder->ch_layout, m_decoder->ch_layout.nb_channels);
        if (stream.duration > 0)
            m_durationSeconds = static_cast<double>(stream.duration) * av_q2d(stream.time_base);
        else if (m_input->duration > 0)
            m_durationSeconds = static_cast<double>(m_input->duration) / AV_TIME_BASE;
        m_timeBase = av_q2d(stream.time_base);
        return true;
    }

    bool openEncoder(int32_t kbps)
    {
        const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
        if (!codec)
            return fail(AVERROR_ENCODER_NOT_FOUND);
        m_encoder.reset(avcodec_alloc_context3(codec));
        m_encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_encoder->sample_rate = mp3SampleRate(m_decoder->sample_rate);
        av_channel_layout_default(&m_encoder->ch_layout, std::min(m_decoder->ch_layout.nb_channels, 2));
        m_encoder->bit_rate = static_cast<int64_t>(kbps) * 1000;
        m_encoder->time_base = AVRational{1, m_encoder->sample_rate};
        if (const int code = avcodec_open2(m_encoder.get(), codec, nullptr); code < 0)
            return fail(code);
        SwrContext* raw = nullptr;
        if (const int code = swr_alloc_set_opts2(&raw, &m_encoder->ch_layout, m_encoder->sample_fmt,
                                                 m_encoder->sample_rate, &m_decoder->ch_layout,
                                                 m_decoder->sample_fmt, m_decoder->sample_rate, 0, nullptr);
            code < 0)
            return fail(code);
        m_resampler.reset(raw);
        if (const int code = swr_init(m_resampler.get()); code < 0)
            return fail(code);
        m_fifo.reset(av_audio_fifo_alloc(m_encoder->sample_fmt, m_encoder->ch_layout.nb_channels,
                                         m_encoder->frame_size * 4));
        if (!m_fifo)
            return fail(AVERROR(ENOMEM));
        return true;
    }

    bool openOutput(const std::string& path)
    {
        AVFormatContext* raw = nullptr;
        if (const int code = avformat_alloc_output_context2(&raw, nullptr, "mp3", path.c_str()); code < 0)
            return fail(code);
        m_output.reset(raw);
        AVStream* stream = avformat_new_stream(m_output.get(), nullptr);
        if (!stream)
            return fail(AVERROR(ENOMEM));
        if (const int code = avcodec_parameters_from_context(stream->codecpar, m_encoder.get()); code < 0)
            return fail(code);
        stream->time_base = m_encoder->time_base;
        if (const int code = avio_open(&m_output->pb, path.c_str(), AVIO_FLAG_WRITE); code < 0)
            return fail(code);
        m_path = path;
        if (const int code = avformat_write_header(m_output.get(), nullptr); code < 0)
            return fail(code);
        return true;
    }

    // Takes every decoded frame, resamples it into the queue and encodes whole MP3 frames from it.
    bool drainDecoder()
    {
        for (;;) {
            const int code = avcodec_receive_frame(m_decoder.get(), m_decoded.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
                return true;
            if (code < 0)
                return fail(code);
            const int64_t pts = m_decoded->best_effort_timestamp;
            const bool queued = resample(m_decoded.get());
            av_frame_unref(m_decoded.get());
            if (!queued || !encodeQueued(false))
                return false;
            if (pts != AV_NOPTS_VALUE && m_progress && m_durationSeconds > 0) {
                const double done = std::clamp(static_cast<double>(pts) * m_timeBase / m_durationSeconds, 0.0, 1.0);
                if (done >= m_reported + 0.005) {
                    m_reported = done;
                    if (!m_progress(done)) {
                        m_result.status = SoundEncodeStatus::Aborted;
                        return false;
                    }
                }
            }
        }
    }

    // Resamples frame (nullptr: what the resampler still holds) onto the end of the queue.
    bool resample(const AVFrame* frame)
    {
        const int inSamples = frame ? frame->nb_samples : 0;
        const int room = swr_get_out_samples(m_resampler.get(), inSamples);
        if (room < 0)
            return fail(room);
        if (room == 0)
            return true;
        Frame out = makeFrame();
        out->format = m_encoder->sample_fmt;
        out->sample_rate = m_encoder->sample_rate;
        av_channel_layout_copy(&out->ch_layout, &m_encoder->ch_layout);
        out->nb_samples = room;
        if (const int code = av_frame_get_buffer(out.get(), 0); code < 0)
            return fail(code);
        const int made = swr_convert(m_resampler.get(), out->data, room,
                                     frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, inSamples);
        if (made < 0)
            return fail(made);
        if (made > 0 && av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(out->data), made) < made)
            return fail(AVERROR(ENOMEM));
        return true;
    }

    // Encodes the queue's whole MP3 frames, and at the end its last part too.
    bool encodeQueued(bool last)
    {
        const int frameSize = m_encoder->frame_size;
        while (av_audio_fifo_size(m_fifo.get()) >= frameSize || (last && av_audio_fifo_size(m_fifo.get()) > 0)) {
            Frame frame = makeFrame();
            frame->format = m_encoder->sample_fmt;
            frame->sample_rate = m_encoder->sample_rate;
            av_channel_layout_copy(&frame->ch_layout, &m_encoder->ch_layout);
            frame->nb_samples = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
            if (const int code = av_frame_get_buffer(frame.get(), 0); code < 0)
                return fail(code);
            if (av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(frame->data), frame->nb_samples) <
                frame->nb_samples)
                return fail(AVERROR_BUG);
            frame->pts = m_samples;
            m_samples += frame->nb_samples;
            if (const int code = avcodec_send_frame(m_encoder.get(), frame.get()); code < 0)
                return fail(code);
            if (!writePackets())
                return false;
        }
        return true;
    }

    bool writePackets()
    {
        for (;;) {
            const int code = avcodec_receive_packet(m_encoder.get(), m_encoded.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
                return true;
            if (code < 0)
                return fail(code);
            m_encoded->stream_index = 0;
            av_packet_rescale_ts(m_encoded.get(), m_encoder->time_base, m_output->streams[0]->time_base);
            if (const int written = av_write_frame(m_output.get(), m_encoded.get()); written < 0)
                return fail(written);
        }
    }

    bool finish()
    {
        if (const int code = avcodec_send_packet(m_decoder.get(), nullptr); code < 0)
            return fail(code);
        if (!drainDecoder() || !resample(nullptr) || !encodeQueued(true))
            return false;
        if (const int code = avcodec_send_frame(m_encoder.get(), nullptr); code < 0)
            return fail(code);
        if (!writePackets())
            return false;
        if (const int code = av_write_trailer(m_output.get()); code < 0)
            return fail(code);
        if (const int code = avio_closep(&m_output->pb); code < 0)
            return fail(code);
        return true;
    }

    bool fail(int code)
    {
        m_result.detail = errorString(code);
        return failed();
    }
    bool failed()
    {
        m_result.status = SoundEncodeStatus::Failed;
        return false;
    }

    const std::function<bool(double)>& m_progress;
    SoundEncodeResult m_result;
    FormatInput m_input;
    int m_streamIndex = -1;
    CodecContext m_decoder;
    CodecContext m_encoder;
    Resampler m_resampler;
    AudioFifo m_fifo;
    FormatOutput m_output;
    std::string m_path;
    Frame m_decoded = makeFrame();
    Packet m_encoded = makePacket();
    int64_t m_samples = 0;
    double m_durationSeconds = 0;
    double m_timeBase = 0;
    double m_reported = 0;
};

} // namespace

SoundEncodeResult encodeSoundToMp3(const std::string& sourcePath, const std::string& mp3Path, int32_t kbps,
                                   const std::function<bool(double)>& progress)
{
    Mp3Transcoder transcoder(progress);
    SoundEncodeResult result = transcoder.run(sourcePath, mp3Path, kbps);
    if (result.status != SoundEncodeStatus::Ok) {
        transcoder.closeOutput();
        if (!transcoder.writtenPath().empty()) {
            std::error_code ignored;
            std::filesystem::remove(transcoder.writtenPath(), ignored);
        }
    }
    return result;
}

} // namespace media
