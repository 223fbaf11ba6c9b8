#include "media/sound_file.h"

#include "media/ffmpeg_owners.h"
#include "video/riff.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>

namespace media {

namespace {

using video::riff::putU16;
using video::riff::putU32;

// WAVEFORMATEX tags of the codecs an AVI carries.
constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagFloat = 0x0003;
constexpr uint16_t kTagMpeg = 0x0050;
constexpr uint16_t kTagMp3 = 0x0055;
constexpr uint16_t kTagAc3 = 0x2000;
constexpr uint16_t kTagDts = 0x2001;

// Returns the tag for a codec copied into an AVI, or 0 for a codec refused.
uint16_t tagOf(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_MP3:
        return kTagMp3;
    case AV_CODEC_ID_MP2:
        return kTagMpeg;
    case AV_CODEC_ID_AC3:
        return kTagAc3;
    case AV_CODEC_ID_DTS:
        return kTagDts;
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S32LE:
        return kTagPcm;
    case AV_CODEC_ID_PCM_F32LE:
        return kTagFloat;
    default:
        return 0;
    }
}

// The bitrate index of an MPEG audio frame header, or -1 when data starts with no header.
int mpegBitrateIndex(const uint8_t* data, int size)
{
    if (size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0)
        return -1;
    return data[2] >> 4;
}

// Returns the index of input's first sound stream, with status Ok; or -1 with status NoAudioStream,
// or Refused and the codec's name in detail when an AVI does not carry that stream as it is.
int firstSoundStream(const AVFormatContext& input, SoundStatus& status, std::string& detail)
{
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        const AVCodecParameters& par = *input.streams[i]->codecpar;
        if (par.codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (tagOf(par.codec_id) == 0 || par.ch_layout.nb_channels <= 0 || par.sample_rate <= 0) {
            status = SoundStatus::Refused;
            detail = avcodec_get_name(par.codec_id);
            return -1;
        }
        status = SoundStatus::Ok;
        return static_cast<int>(i);
    }
    status = SoundStatus::NoAudioStream;
    return -1;
}

// Appends the WAVEFORMATEX fields common to every codec (without cbSize).
void putWaveFormat(std::vector<uint8_t>& f, uint16_t tag, int channels, int sampleRate,
                   uint32_t avgBytesPerSec, uint16_t blockAlign, uint16_t bitsPerSample)
{
    putU16(f, tag);
    putU16(f, static_cast<uint16_t>(channels));
    putU32(f, static_cast<uint32_t>(sampleRate));
    putU32(f, avgBytesPerSec);
    putU16(f, blockAlign);
    putU16(f, bitsPerSample);
}

// True for the demuxers whose packets are the file's own bytes, frame after frame (MP3 and MP2,
// AC-3 and E-AC-3, DTS): their parser only finds where each frame ends.
bool isRawFrameDemuxer(const char* name)
{
    const std::string_view demuxer = name != nullptr ? name : "";
    return demuxer == "mp3" || demuxer == "ac3" || demuxer == "eac3" || demuxer == "dts";
}

} // namespace

SoundFile::~SoundFile() = default;

double SoundFile::seconds() const
{
    return m_track.rate == 0 ? 0.0
                             : static_cast<double>(m_track.lengthUnits()) * m_track.scale / m_track.rate;
}

double SoundFile::kbps() const
{
    const double s = seconds();
    return s > 0 ? static_cast<double>(m_bytes) * 8 / s / 1000 : 0.0;
}

SoundStatus SoundFile::probe(const std::string& path, std::string& detail)
{
    av_log_set_level(AV_LOG_ERROR);
    FormatInput input = openInput(path, detail);
    if (!input)
        return SoundStatus::CannotOpen;
    SoundStatus status = SoundStatus::Ok;
    firstSoundStream(*input, status, detail);
    return status;
}

OpenedSound SoundFile::open(const std::string& path)
{
    OpenedSound result;
    // FFmpeg's notes (such as a duration estimated from the bitrate) are not for the person; its
    // failures reach them through the messages of this program.
    av_log_set_level(AV_LOG_ERROR);
    FormatInput input = openInput(path, result.detail);
    if (!input) {
        result.status = SoundStatus::CannotOpen;
        return result;
    }
    const int streamIndex = firstSoundStream(*input, result.status, result.detail);
    if (result.status != SoundStatus::Ok)
        return result;
    const AVCodecParameters& par = *input->streams[streamIndex]->codecpar;
    const uint16_t tag = tagOf(par.codec_id);
    const int channels = par.ch_layout.nb_channels;

    std::unique_ptr<SoundFile> sound(new SoundFile());
    sound->m_codecName = avcodec_get_name(par.codec_id);
    sound->m_file = video::openFileForRead(path, result.detail);
    if (!sound->m_file) {
        result.status = SoundStatus::CannotOpen;
        return result;
    }

    // Every packet of the stream, its bytes compared with the file's where the demuxer says they
    // lie: equal ones are read from the file when they are written, others are kept.
    // The packets' bytes and sizes are all that is kept: FFmpeg need not fill in their times.
    input->flags |= AVFMT_FLAG_NOFILLIN;
    // The raw demuxers cut the file itself into frames without changing a byte: a packet that
    // starts where the one before it ended, after that one was found equal, holds the file's bytes
    // too, so only the first of each such run is compared (reading the file twice over costs about
    // a tenth of the listing).
    const bool rawFrames = isRawFrameDemuxer(input->iformat->name);
    int64_t nextRawPos = -1;
    media::Packet packet = makePacket();
    std::vector<uint8_t> onDisk;
    std::vector<int> bitrateIndexes;
    for (;;) {
        const int code = av_read_frame(input.get(), packet.get());
        if (code == AVERROR_EOF)
            break;
        if (code < 0) {
            result.status = SoundStatus::ReadFailed;
            result.detail = errorString(code);
            return result;
        }
        if (packet->stream_index == streamIndex && packet->size > 0) {
            const auto size = static_cast<size_t>(packet->size);
            Packet where;
            onDisk.resize(size);
            if (rawFrames && packet->pos >= 0 && packet->pos == nextRawPos) {
                where.offset = packet->pos;
            } else if (packet->pos >= 0 && sound->readBytes(packet->pos, size, onDisk.data()) &&
                       std::memcmp(onDisk.data(), packet->data, size) == 0) {
                where.offset = packet->pos;
            } else {
                where.kept = static_cast<int32_t>(sound->m_keptPackets.size());
                sound->m_keptPackets.emplace_back(packet->data, packet->data + size);
            }
            nextRawPos = where.offset >= 0 ? where.offset + packet->size : -1;
            sound->m_packets.push_back(where);
            sound->m_track.chunkBytes.push_back(static_cast<uint32_t>(size));
            sound->m_bytes += packet->size;
            if (tag == kTagMp3 || tag == kTagMpeg) {
                const int index = mpegBitrateIndex(packet->data, packet->size);
                if (std::find(bitrateIndexes.begin(), bitrateIndexes.end(), index) == bitrateIndexes.end())
                    bitrateIndexes.push_back(index);
            }
        }
        av_packet_unref(packet.get());
    }

    video::AudioTrack& track = sound->m_track;
    std::vector<uint8_t>& f = track.format;
    const uint32_t nominalBytesPerSec = static_cast<uint32_t>(std::max<int64_t>(par.bit_rate, 0) / 8);
    if (tag == kTagPcm || tag == kTagFloat) {
        const int bits = av_get_bits_per_sample(par.codec_id);
        const auto blockAlign = static_cast<uint16_t>(channels * bits / 8);
        const auto bytesPerSec = static_cast<uint32_t>(par.sample_rate) * blockAlign;
        putWaveFormat(f, tag, channels, par.sample_rate, bytesPerSec, blockAlign,
                      static_cast<uint16_t>(bits));
        track.scale = blockAlign;
        track.rate = bytesPerSec;
        track.sampleSize = blockAlign;
        track.splittable = true;
    } else if ((tag == kTagMp3 || tag == kTagMpeg) && bitrateIndexes.size() > 1) {
        // Variable bitrate: one frame per chunk, each a unit of frameSamples / sample rate.
        int frameSamples = par.frame_size;
        if (frameSamples <= 0)
            frameSamples = tag == kTagMpeg || par.sample_rate >= 32000 ? 1152 : 576;
        track.scale = static_cast<uint32_t>(frameSamples);
        track.rate = static_cast<uint32_t>(par.sample_rate);
        track.sampleSize = 0;
        const int64_t units = static_cast<int64_t>(track.chunkBytes.size());
        const double seconds = static_cast<double>(units) * frameSamples / par.sample_rate;
        const auto average =
            static_cast<uint32_t>(seconds > 0 ? static_cast<double>(sound->m_bytes) / seconds : 0);
        putWaveFormat(f, tag, channels, par.sample_rate, average, static_cast<uint16_t>(frameSamples), 0);
    } else {
        // A constant bitrate: a byte stream at the nominal rate.
        if (nominalBytesPerSec == 0) {
            result.status = SoundStatus::Refused;
            result.detail = sound->m_codecName;
            return result;
        }
        track.scale = 1;
        track.rate = nominalBytesPerSec;
        track.sampleSize = 1;
        const bool mpeg = tag == kTagMp3 || tag == kTagMpeg;
        putWaveFormat(f, tag, channels, par.sample_rate, nominalBytesPerSec, 1, mpeg ? 0 : 16);
    }
    if (tag == kTagMp3) {
        // MPEGLAYER3WAVEFORMAT: wID, fdwFlags, nBlockSize, nFramesPerBlock, nCodecDelay.
        const int frameSamples =
            track.sampleSize == 0 ? static_cast<int>(track.scale) : (par.sample_rate >= 32000 ? 1152 : 576);
        putU16(f, 12);
        putU16(f, 1);
        putU32(f, 0);
        const int64_t blockSize =
            track.sampleSize == 0 ? frameSamples
                                  : static_cast<int64_t>(nominalBytesPerSec) * frameSamples / par.sample_rate;
        putU16(f, static_cast<uint16_t>(blockSize));
        putU16(f, 1);
        putU16(f, 0);
    } else if (tag == kTagMpeg) {
        // MPEG1WAVEFORMAT: layer, bitrate, mode, mode extension, emphasis, flags, PTS.
        putU16(f, 22);
        putU16(f, 2);
        putU32(f, static_cast<uint32_t>(std::max<int64_t>(par.bit_rate, 0)));
        putU16(f, channels == 2 ? 1 : 8);
        putU16(f, 0);
        putU16(f, 1);
        putU16(f, 16);
        putU32(f, 0);
        putU32(f, 0);
    } else if (tag != kTagPcm && tag != kTagFloat) {
        putU16(f, 0);
    }
    result.sound = std::move(sound);
    return result;
}

bool SoundFile::readChunk(int32_t chunk, std::vector<uint8_t>& bytes)
{
    if (chunk < 0 || static_cast<size_t>(chunk) >= m_packets.size()) {
        m_errorText = "no such packet";
        return false;
    }
    const Packet& where = m_packets[static_cast<size_t>(chunk)];
    if (where.kept >= 0) {
        bytes = m_keptPackets[static_cast<size_t>(where.kept)];
        return true;
    }
    bytes.resize(m_track.chunkBytes[static_cast<size_t>(chunk)]);
    if (!readBytes(where.offset, bytes.size(), bytes.data())) {
        m_errorText = m_file->errorText();
        if (m_errorText.empty())
            m_errorText = "the sound file ends early";
        return false;
    }
    return true;
}

bool SoundFile::readBytes(int64_t offset, size_t size, uint8_t* out)
{
    constexpr size_t kBlockBytes = 1 << 20;
    const auto blockEnd = m_blockStart + static_cast<int64_t>(m_block.size());
    if (offset < m_blockStart || offset + static_cast<int64_t>(size) > blockEnd) {
        m_block.resize(std::max(kBlockBytes, size));
        const int64_t got = m_file->readAt(offset, m_block);
        m_block.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
        m_blockStart = offset;
        if (m_block.size() < size)
            return false;
    }
    std::memcpy(out, m_block.data() + (offset - m_blockStart), size);
    return true;
}

} // namespace media
