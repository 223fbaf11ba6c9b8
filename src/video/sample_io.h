#pragma once

#include "video/avi_status.h"

#include <cstdint>
#include <memory>
#include <span>

namespace video {

// The bytes of one sample as a reader lends them: a view into memory the reader read them into,
// valid as long as `holder` (or a copy of it) is kept. Nothing is copied to make a loan.
struct SampleLoan {
    std::span<const uint8_t> data;
    std::shared_ptr<const void> holder;
};

// Something compressed samples can be lent from by position.
class SampleReader {
public:
    virtual ~SampleReader() = default;
    // Lends sample pos in loan: loan.data views its bytes and loan.holder keeps them valid (left
    // as it is when it already does, so that no reference is counted). Refuses a position below
    // 0 or past the last sample (BadPosition), a sample larger than room (BufferTooSmall), a
    // failed read (ReadFailed) and, when every block the reader reads into still holds bytes lent
    // earlier, BlocksInUse: dropping those loans lets it read again. loan is empty after a refusal.
    [[nodiscard]] virtual AviStatus lendSample(int32_t pos, int32_t room, SampleLoan& loan) = 0;
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
