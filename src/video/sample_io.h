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

    // One sample handed to writeSamples; its bytes stay the caller's.
    struct SampleRef {
        std::span<const uint8_t> data;
        bool key = false;
    };
    // Stores samples as pos, pos + 1, ... and sets written to the number stored before the first
    // failure; returns Ok or that failure's status. The default writes them one at a time.
    [[nodiscard]] virtual AviStatus writeSamples(int32_t pos, std::span<const SampleRef> samples, int32_t& written)
    {
        written = 0;
        for (const SampleRef& sample : samples) {
            const AviStatus status = writeSample(pos + written, sample.data, sample.key);
            if (status != AviStatus::Ok)
                return status;
            ++written;
        }
        return AviStatus::Ok;
    }
};

} // namespace video
