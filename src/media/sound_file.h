#pragma once

#include "video/audio_track.h"
#include "video/file_io.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

enum class SoundStatus {
    Ok,
    CannotOpen,    // no file, or nothing FFmpeg demuxes; detail holds FFmpeg's text
    NoAudioStream, // the file holds no sound
    Refused,       // a codec an AVI does not carry well; detail names it
    ReadFailed,    // reading the packets failed; detail holds the system's text
};

class SoundFile;

struct OpenedSound {
    SoundStatus status = SoundStatus::Ok;
    std::string detail;               // the codec refused, or the text of the failure
    std::unique_ptr<SoundFile> sound; // set when status is Ok
};

// The first sound stream of a file, its packets ready to be copied into an AVI unchanged: MP3
// and MP2 (constant bitrate as a byte stream, variable bitrate one frame per chunk), AC-3 and DTS
// as byte streams, PCM in blocks. Each packet is read from the file where the demuxer found it;
// a packet whose bytes are not the file's (a container that transforms them) is kept in memory.
class SoundFile : public video::AudioChunkReader {
public:
    // Opens path and reads its first sound stream's packet table.
    [[nodiscard]] static OpenedSound open(const std::string& path);
    // What open would answer about path's first sound stream, without reading its packets
    // (Ok, CannotOpen, NoAudioStream or Refused, with open's detail).
    [[nodiscard]] static SoundStatus probe(const std::string& path, std::string& detail);

    ~SoundFile() override;
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // The stream as an AVI carries it: time base, WAVEFORMATEX, one chunk per packet.
    const video::AudioTrack& track() const { return m_track; }
    // FFmpeg's short name of the codec ("mp3", "ac3", "pcm_s16le").
    const std::string& codecName() const { return m_codecName; }
    // The packets' bytes, and their length and average Kbps (1000 bits per second).
    int64_t bytes() const { return m_bytes; }
    double seconds() const;
    double kbps() const;

    [[nodiscard]] bool readChunk(int32_t chunk, std::vector<uint8_t>& bytes) override;
    std::string errorText() const override { return m_errorText; }

private:
    SoundFile() = default;
    // Copies size bytes of the file at offset into out, through a block read ahead, since packets
    // are read in file order; false when the file holds fewer there.
    bool readBytes(int64_t offset, size_t size, uint8_t* out);

    // Where one packet's bytes are: the file offset, or the index of the kept copy (offset -1).
    struct Packet {
        int64_t offset = -1;
        int32_t kept = -1;
    };

    video::AudioTrack m_track;
    std::string m_codecName;
    int64_t m_bytes = 0;
    std::vector<Packet> m_packets;
    std::vector<std::vector<uint8_t>> m_keptPackets;
    std::unique_ptr<video::FileIo> m_file;
    std::vector<uint8_t> m_block; // file bytes from m_blockStart
    int64_t m_blockStart = 0;
    std::string m_errorText;
};

} // namespace media
