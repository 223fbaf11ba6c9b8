#pragma once

#include "core/frame_table.h"
#include "core/stream_info.h"
#include "video/avi_status.h"
#include "video/file_io.h"
#include "video/sample_io.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace video {

class AviReader;

// Where a sample's data lies in its file, its size and its key flag.
struct SampleLocation {
    int64_t offset = -1;
    int32_t size = 0;
    bool key = false;
};

struct AviOpenResult {
    AviStatus status = AviStatus::Ok;
    std::unique_ptr<AviReader> reader; // set when status is Ok
    std::string errorText;             // the system's or the parser's explanation otherwise
};

// A read-only AVI file (AVI 1.0 and OpenDML). Every stream's sample index (64-bit offset, size,
// key flag) is known after open, so size and key look-ups never touch the disk; only
// readSample reads sample data.
class AviReader {
public:
    // Opens and indexes the file at path.
    [[nodiscard]] static AviOpenResult open(const std::string& path);
    // Opens and indexes an already opened file (tests and the fuzzer use in-memory files).
    [[nodiscard]] static AviOpenResult open(std::unique_ptr<FileIo> file);

    ~AviReader();
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    int32_t streamCount() const;
    // Stream information as the file's strh/strn give it, with dwLength the number of samples in
    // the index and dwSuggestedBufferSize the largest sample.
    const core::AviStreamInfo& streamInfo(int32_t stream) const;
    // The raw 'strf' bytes of the stream (a BITMAPINFOHEADER and whatever follows for video).
    const std::vector<uint8_t>& streamFormat(int32_t stream) const;
    int32_t sampleCount(int32_t stream) const;
    // Stores the byte size of sample pos in bytes; BadPosition for a position outside the stream.
    [[nodiscard]] AviStatus sampleSize(int32_t stream, int32_t pos, int32_t& bytes) const;
    // Stores sample i's key flag (1 or 0) and size in records[i] for every i below records.size()
    // and the sample count of stream.
    void fillFrameRecords(int32_t stream, std::span<core::FrameRecord> records) const;
    // Returns the nearest key frame at or before pos, or -1 when there is none or pos is outside.
    int32_t findKeyAtOrBefore(int32_t stream, int32_t pos) const;
    // Reads sample pos into buffer and stores its byte count in bytesRead. Refuses a position
    // outside the stream (BadPosition), a sample larger than buffer (BufferTooSmall) and a failed
    // read (ReadFailed); bytesRead is then 0. A sample a block holds is copied from it.
    [[nodiscard]] AviStatus readSample(int32_t stream, int32_t pos, std::span<uint8_t> buffer, int32_t& bytesRead);
    // Lends sample pos of stream without copying it (see SampleReader::lendSample). The reader
    // reads into two blocks; a sample no block holds is read with the rest of its announced range
    // (up to 2 MiB), or alone when it was not announced.
    [[nodiscard]] AviStatus lendSample(int32_t stream, int32_t pos, int32_t room, SampleLoan& loan);
    // Tells the system that samples first .. first+count-1 of stream will be read soon; other
    // parts of the file are not read ahead. Lends of the announced samples are then served from
    // large block reads of their byte range (the last few announced ranges count).
    void adviseWillRead(int32_t stream, int32_t first, int32_t count);
    // Returns where sample pos lies and what it is, from the index; offset -1 for a position
    // outside the stream.
    SampleLocation sampleLocation(int32_t stream, int32_t pos) const;
    // Reads up to out.size() bytes of the file at offset, bypassing every sample block; returns
    // the count read (short at the end of the file) or -1 with errorText set.
    [[nodiscard]] int64_t readFileBytes(int64_t offset, std::span<uint8_t> out);
    // Tells the system that the file will be read front to back from now on.
    void adviseSequential();
    // The system's error text of the last failed read.
    const std::string& errorText() const;
    // The identity of the file read; nothing for files that are not on disk.
    std::optional<FileIdentity> fileIdentity() const;

private:
    struct Impl;
    explicit AviReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace video
