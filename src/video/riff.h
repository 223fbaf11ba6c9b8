#pragma once

#include "core/stream_info.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace video::riff {

// Chunk and list identifiers, as little-endian values of their four bytes.
inline constexpr uint32_t kRiff = core::fourcc("RIFF");
inline constexpr uint32_t kList = core::fourcc("LIST");
inline constexpr uint32_t kAvi = core::fourcc("AVI ");
inline constexpr uint32_t kAviX = core::fourcc("AVIX");
inline constexpr uint32_t kHdrl = core::fourcc("hdrl");
inline constexpr uint32_t kAvih = core::fourcc("avih");
inline constexpr uint32_t kStrl = core::fourcc("strl");
inline constexpr uint32_t kStrh = core::fourcc("strh");
inline constexpr uint32_t kStrf = core::fourcc("strf");
inline constexpr uint32_t kStrn = core::fourcc("strn");
inline constexpr uint32_t kIndx = core::fourcc("indx");
inline constexpr uint32_t kOdml = core::fourcc("odml");
inline constexpr uint32_t kDmlh = core::fourcc("dmlh");
inline constexpr uint32_t kMovi = core::fourcc("movi");
inline constexpr uint32_t kRec = core::fourcc("rec ");
inline constexpr uint32_t kIdx1 = core::fourcc("idx1");
inline constexpr uint32_t kJunk = core::fourcc("JUNK");
inline constexpr uint32_t kAuds = core::fourcc("auds");

// idx1 entry flags.
inline constexpr uint32_t kIndexFlagList = 0x1;
inline constexpr uint32_t kIndexFlagKey = 0x10;

// OpenDML index types and the delta-frame bit of a standard index entry.
inline constexpr uint8_t kIndexOfIndexes = 0x00;
inline constexpr uint8_t kIndexOfChunks = 0x01;
inline constexpr uint32_t kDeltaFrameBit = 0x80000000u;

// Reads little-endian values from bytes; the caller guarantees the range lies inside. The bytes
// are taken through a plain pointer, which compilers turn into one load.
inline uint16_t getU16(std::span<const uint8_t> bytes, size_t at)
{
    const uint8_t* p = bytes.data() + at;
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t getU32(std::span<const uint8_t> bytes, size_t at)
{
    const uint8_t* p = bytes.data() + at;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t getU64(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint64_t>(getU32(bytes, at)) | static_cast<uint64_t>(getU32(bytes, at + 4)) << 32;
}
inline int16_t getI16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<int16_t>(getU16(bytes, at));
}
inline int32_t getI32(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<int32_t>(getU32(bytes, at));
}

// Appends little-endian values to out.
inline void putU8(std::vector<uint8_t>& out, uint8_t value)
{
    out.push_back(value);
}
inline void putU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void putU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}
inline void putU64(std::vector<uint8_t>& out, uint64_t value)
{
    putU32(out, static_cast<uint32_t>(value));
    putU32(out, static_cast<uint32_t>(value >> 32));
}

// Overwrites a little-endian 32-bit value at a position of bytes.
inline void setU32(std::span<uint8_t> bytes, size_t at, uint32_t value)
{
    const std::array<uint8_t, 4> littleEndian = {
        static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
        static_cast<uint8_t>(value >> 24)};
    std::memcpy(bytes.data() + at, littleEndian.data(), littleEndian.size());
}

// Returns the bytes a chunk with size data bytes occupies: header, data and pad byte.
constexpr int64_t chunkSpan(uint32_t size)
{
    return 8 + static_cast<int64_t>(size) + (size & 1);
}

// Returns the stream number the first two characters of a chunk id such as '01wb' name (two
// decimal or hexadecimal digits), or -1 when they name none.
int32_t streamOfDigits(uint32_t id);

// Returns the stream number of a data chunk id '##dc', '##db', '##wb', ..., or -1 for an id that
// is not a data chunk (indexes '##ix', palette changes '##pc' and anything else).
int32_t streamOfDataChunk(uint32_t id);

// True when every byte of id is a printable ASCII character, as in every real chunk id.
bool isPlausibleId(uint32_t id);

// Builds the data chunk id of stream number stream with the two-letter suffix ("dc", "wb").
uint32_t dataChunkId(int32_t stream, const char (&suffix)[3]);

} // namespace video::riff
