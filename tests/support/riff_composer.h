#pragma once

#include "core/stream_info.h"
#include "video/file_io.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// A RIFF chunk or list to compose into raw bytes, including shapes a well-behaved writer never
// makes (wrong size fields).
struct RiffChunk {
    uint32_t id = 0;                   // 'RIFF' and 'LIST' make lists
    std::vector<uint8_t> data;         // a plain chunk's data
    uint32_t listType = 0;             // a list's type
    std::vector<RiffChunk> children;   // a list's children
    std::optional<uint32_t> sizeField; // written in place of the true size
    int32_t mark = -1;                 // >= 0: compose records this chunk's position under it
};

RiffChunk chunk(const char (&id)[5], std::vector<uint8_t> data, int32_t mark = -1);
// A LIST of type, or the RIFF of the file when riff.
RiffChunk list(const char (&type)[5], std::vector<RiffChunk> children, bool riff = false);

// Appends c to out, odd-sized data padded; positions[mark] receives the position of each marked
// chunk's header.
std::vector<uint8_t> compose(const RiffChunk& c, std::map<int32_t, int64_t>* positions = nullptr,
                             std::vector<uint8_t> out = {});

// values as little-endian 32-bit words, as chunk data holds them, zero-padded to minBytes.
std::vector<uint8_t> words(const std::vector<uint32_t>& values, size_t minBytes = 0);

// A 56-byte stream header of type with the given rate/scale and length.
std::vector<uint8_t> streamHeader(uint32_t type, uint32_t handler, uint32_t rate, uint32_t scale,
                                  uint32_t length);
// A 24-bit BITMAPINFOHEADER of bytes bytes (40 and more; extra bytes are zero).
std::vector<uint8_t> bitmapFormat(int32_t width, int32_t height, uint32_t compression, size_t bytes = 40);
// A 56-byte main header for streams streams.
std::vector<uint8_t> mainHeader(uint32_t frames, uint32_t streams, uint32_t width, uint32_t height);

// A file held in memory. Reads past the end are short; writes grow it. failWritesAfter makes
// every write fail that would bring the bytes written in total beyond it (-1: never).
class MemoryFileIo : public video::FileIo {
public:
    explicit MemoryFileIo(std::vector<uint8_t> bytes = {}, int64_t failWritesAfter = -1)
        : m_bytes(std::make_shared<std::vector<uint8_t>>(std::move(bytes))),
          m_failWritesAfter(failWritesAfter)
    {
    }
    int64_t readAt(int64_t offset, std::span<uint8_t> out) override;
    bool writeAt(int64_t offset, std::span<const uint8_t> data) override;
    int64_t size() override { return std::ssize(*m_bytes); }
    bool close() override { return true; }
    std::string errorText() const override { return m_errorText; }
    // The bytes written so far; shared so a test can look after the writer dropped the file.
    std::shared_ptr<std::vector<uint8_t>> contents() const { return m_bytes; }

private:
    std::shared_ptr<std::vector<uint8_t>> m_bytes;
    int64_t m_failWritesAfter = -1;
    int64_t m_written = 0;
    std::string m_errorText;
};

} // namespace test_support
