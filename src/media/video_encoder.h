#pragma once

#include "media/picture.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

enum class VideoCodec {
    Mpeg4, // MPEG-4 Part 2 (libavcodec's own encoder)
    H264,  // H.264 through libx264
};

enum class RateMode {
    AverageBitrate,     // bitsPerSecond on average over the film
    ConstantQuantizer,  // every frame at quantizer
};

// How one encode runs. Key frames are only where the caller asks (scene cuts off), with every
// key frame independently decodable (headers repeated, closed groups), and no B-frames, so one
// input frame gives one packet in the same order.
struct EncoderSettings {
    VideoCodec codec = VideoCodec::Mpeg4;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t rate = 25;           // frames per second as rate / scale
    uint32_t scale = 1;
    uint32_t fourcc = 0;          // codec tag the stream is stored under
    int32_t longestKeyDistance = 250; // frames between key frames at most, for the encoder's buffers
    RateMode mode = RateMode::AverageBitrate;
    int64_t bitsPerSecond = 0;
    int32_t quantizer = 4;        // ConstantQuantizer: 2 (fine) .. 31 (coarse) for MPEG-4, 0 .. 51 for H.264
    int32_t keyQuantizer = 0;     // ConstantQuantizer, MPEG-4: key frames at this quantizer; 0: at quantizer
    int32_t pass = 0;             // 0: one pass; 1 or 2: that pass of a two-pass encode
    std::string statsPath;        // two-pass: the first pass writes its statistics here, the second reads them
    int32_t threads = 0;          // 0: as many as the encoder chooses for the machine
    bool measureError = false;    // report each frame's squared error against its input
};

// One compressed frame.
struct EncodedPacket {
    std::vector<uint8_t> data;
    bool key = false;
    int64_t frameIndex = 0; // the number the frame was handed in with
    // Sum of squared differences of the decoded frame against the input, per plane (Y, U, V),
    // when the encoder measured it.
    bool errorMeasured = false;
    std::array<uint64_t, 3> squaredError{};
};

enum class EncodeStatus { Ok, Failed };

// Encodes pictures of one size into packets, in frame order.
class VideoEncoder {
public:
    virtual ~VideoEncoder() = default;
    // Encodes picture as frame frameIndex (a key frame when key) and appends the packets that are
    // ready to packets; the picture's pixels are shared, not changed.
    [[nodiscard]] virtual EncodeStatus encode(const Picture& picture, int64_t frameIndex, bool key,
                                              std::vector<EncodedPacket>& packets) = 0;
    // Drains the encoder, appending the last packets; writes the first pass's statistics.
    [[nodiscard]] virtual EncodeStatus finish(std::vector<EncodedPacket>& packets) = 0;
    // FFmpeg's explanation of the last failure.
    virtual const std::string& errorText() const = 0;
};

// Opens libavcodec's encoder for settings; nullptr, with errorText set, when it refuses them (or
// the second pass finds no statistics).
std::unique_ptr<VideoEncoder> openVideoEncoder(const EncoderSettings& settings, std::string& errorText);

} // namespace media
