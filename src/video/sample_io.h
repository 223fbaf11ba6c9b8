#pragma once

#include "video/avi_status.h"

#include <cstdint>
#include <span>

namespace video {

// Something compressed samples can be read from by position.
class SampleReader {
public:
    virtual ~SampleReader() = default;
    // Reads sample pos into buffer and stores its byte count in bytesRead. Refuses a position
    // below 0 or past the last sample (BadPosition) and a sample larger than buffer
    // (BufferTooSmall); bytesRead is then 0.
    [[nodiscard]] virtual AviStatus readSample(int32_t pos, std::span<uint8_t> buffer, int32_t& bytesRead) = 0;
};

// Something compressed samples can be written to by position.
class SampleWriter {
public:
    virtual ~SampleWriter() = default;
    // Stores data as sample pos with its key flag. Positions must not go backwards; a position
    // past the next one first fills the gap with empty samples.
    [[nodiscard]] virtual AviStatus writeSample(int32_t pos, std::span<const uint8_t> data, bool key) = 0;
};

} // namespace video
