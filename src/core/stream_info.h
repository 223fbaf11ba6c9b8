#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace core {

// Builds a four-character code from its four bytes in file order ("vids" -> 0x73646976).
constexpr uint32_t fourcc(const char (&text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

// Returns a four-character code as text; bytes outside printable ASCII become '?'.
inline std::string fourccText(uint32_t code)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto byte = static_cast<unsigned char>((code >> shift) & 0xFF);
        text += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '?';
    }
    return text;
}

constexpr uint32_t kStreamTypeVideo = fourcc("vids");

// The stream information record of an AVI stream: every field of the 140-byte AVISTREAMINFOA,
// filled from the stream header ('strh') and name ('strn') when a file is opened. dwLength counts
// the samples the index really holds and dwSuggestedBufferSize is the largest sample.
struct AviStreamInfo {
    uint32_t fccType = 0;
    uint32_t fccHandler = 0;
    uint32_t dwFlags = 0;
    uint32_t dwCaps = 0;
    uint16_t wPriority = 0;
    uint16_t wLanguage = 0;
    uint32_t dwScale = 0;
    uint32_t dwRate = 0;
    uint32_t dwStart = 0;
    uint32_t dwLength = 0;
    uint32_t dwInitialFrames = 0;
    uint32_t dwSuggestedBufferSize = 0;
    uint32_t dwQuality = 0;
    uint32_t dwSampleSize = 0;
    std::array<int32_t, 4> rcFrame{}; // left, top, right, bottom
    uint32_t dwEditCount = 0;
    uint32_t dwFormatChangeCount = 0;
    std::array<char, 64> szName{}; // NUL-terminated

    bool operator==(const AviStreamInfo&) const = default;
};

// The 40-byte BITMAPINFOHEADER that starts a video stream's format.
struct BitmapInfoHeader {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

constexpr uint32_t kBitmapInfoHeaderBytes = 40;

} // namespace core
