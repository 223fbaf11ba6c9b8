#pragma once

#include "video/avi_status.h"
#include "video/source.h"

#include <cstdint>
#include <span>
#include <vector>

namespace video {

// Reads samples of one source in file order through one large block, so that a run of
// neighbouring samples costs one system read per block and each sample is handed out where it
// lies in the block, without a copy. While the caller works on a block, the system is told about
// the next one.
class SampleBlocks {
public:
    static constexpr int64_t kDefaultBlockBytes = 4 * 1024 * 1024;

    explicit SampleBlocks(Source& source, int64_t blockBytes = kDefaultBlockBytes);

    // Stores in bytes the data of sample pos, valid until the next call. runEnd is the position
    // after the last sample of the run the caller reads next (pos .. runEnd - 1): a block never
    // reaches past that run's data. Returns BadPosition outside the stream and ReadFailed when
    // the file cannot give the bytes (bytes is then empty).
    [[nodiscard]] AviStatus sample(int32_t pos, int32_t runEnd, std::span<const uint8_t>& bytes);

private:
    Source& m_source;
    int64_t m_blockBytes;
    std::vector<uint8_t> m_block;
    int64_t m_blockStart = 0;
    int64_t m_blockEnd = 0; // m_blockStart + bytes held
};

} // namespace video
