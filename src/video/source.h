#pragma once

#include "core/frame_table.h"
#include "core/stream_info.h"
#include "core/user_interface_port.h"
#include "video/avi_reader.h"
#include "video/sample_io.h"

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace video {

// A source AVI opened for one command: the file and the video stream picked from it. The file
// closes when the Source is destroyed.
class Source : public SampleReader {
public:
    Source(std::unique_ptr<AviReader> file, int32_t videoStream);

    // The video stream's information as the file gives it (dwLength: samples in the index).
    const core::AviStreamInfo& info() const;
    // The video stream's raw format bytes.
    const std::vector<uint8_t>& format() const;
    int32_t sampleCount() const;
    // Stores the byte size of sample pos; BadPosition outside the stream.
    [[nodiscard]] AviStatus sampleSize(int32_t pos, int32_t& bytes) const;
    // Returns the nearest key frame at or before pos, or -1.
    int32_t findKeyAtOrBefore(int32_t pos) const;
    // Stores frame i's key flag (1 or 0) and sample size in records[i] for every i below
    // records.size() and sampleCount(), from the index.
    void fillFrameRecords(std::span<core::FrameRecord> records) const;
    // Returns the largest sample of the stream in bytes.
    int32_t largestSampleSize() const;
    // Reads sample pos into buffer (see AviReader::readSample).
    [[nodiscard]] AviStatus readSample(int32_t pos, std::span<uint8_t> buffer, int32_t& bytesRead);
    [[nodiscard]] AviStatus lendSample(int32_t pos, int32_t room, SampleLoan& loan) override;
    // Tells the system that samples first .. first+count-1 will be read next.
    void adviseWillRead(int32_t first, int32_t count);
    // Returns where sample pos lies, its size and key flag; offset -1 outside the stream.
    SampleLocation sampleLocation(int32_t pos) const { return m_file->sampleLocation(m_videoStream, pos); }
    // Reads file bytes at offset, as AviReader::readFileBytes.
    [[nodiscard]] int64_t readFileBytes(int64_t offset, std::span<uint8_t> out)
    {
        return m_file->readFileBytes(offset, out);
    }
    // Tells the system that the file will be read front to back from now on.
    void adviseSequential() { m_file->adviseSequential(); }
    const std::string& errorText() const;
    int32_t videoStream() const { return m_videoStream; }
    // The whole file, for its other streams.
    AviReader& file() { return *m_file; }
    // The identity of the source's file; nothing for files that are not on disk.
    std::optional<FileIdentity> fileIdentity() const { return m_file->fileIdentity(); }

private:
    std::unique_ptr<AviReader> m_file;
    int32_t m_videoStream = 0;
};

// Opens the AVI at path for reading and picks its first video stream among streams 0 to 9.
// Shows "Could not open AVI", "Unable to open file" or "AVI has no video-stream" and returns
// nothing when that fails; the file is then closed.
[[nodiscard]] std::optional<Source> openVideoStream(const std::string& path, core::UiPort& ui);

// Opens the AVI at path on a helper thread from construction on, so that several files are
// indexed at once; take() then picks its video stream as openVideoStream does.
class SourceOpening {
public:
    explicit SourceOpening(std::string path);
    const std::string& path() const { return m_path; }
    // Waits for the opening and returns the source, or nothing after openVideoStream's messages.
    // Call once.
    [[nodiscard]] std::optional<Source> take(core::UiPort& ui);

private:
    std::string m_path;
    std::future<AviOpenResult> m_opened;
};

// Copies the source's stream information into info. Refuses a video format longer than 40
// bytes with "Format too large", leaving info unchanged, and returns false.
[[nodiscard]] bool readStreamInfo(core::AviStreamInfo& info, const Source& source, core::UiPort& ui);

// Closes the source held in slot, if any; the slot is empty afterwards.
void closeSource(std::optional<Source>& slot);

} // namespace video
