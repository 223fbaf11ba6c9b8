// Feeds arbitrary bytes to the AVI reader as an in-memory file. Every stream's length must agree
// with its index and every indexed sample must fit its buffer, be readable and be lent with the
// same bytes (half of them from announced block reads); the first video stream, copied through
// the writer, must read back with the same sizes and key flags.

#include "riff_composer.h"
#include "video/avi_reader.h"
#include "video/avi_writer.h"

#include <algorithm>
#include <cstdlib>

using test_support::MemoryFileIo;
using video::AviStatus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto check = [](bool condition) { condition ? void() : std::abort(); };
    video::AviOpenResult opened =
        video::AviReader::open(std::make_unique<MemoryFileIo>(std::vector<uint8_t>(data, data + size)));
    if (opened.status != AviStatus::Ok)
        return 0;
    video::AviReader& reader = *opened.reader;
    auto file = std::make_unique<MemoryFileIo>();
    const auto contents = file->contents();
    const video::AviCreateResult created = video::AviWriter::create(
        std::move(file), {.partBytes = 4096, .superIndexEntries = 64, .writeBufferBytes = 1024});
    video::AviWriter& writer = *created.writer;
    int32_t copied = -1;
    for (int32_t s = 0; s < reader.streamCount(); ++s) {
        const core::AviStreamInfo& info = reader.streamInfo(s);
        const int32_t count = reader.sampleCount(s);
        check(info.dwLength == static_cast<uint32_t>(count));
        if (copied < 0 && info.fccType == core::kStreamTypeVideo) {
            copied = s;
            check(writer.createStream(info) == AviStatus::Ok &&
                  writer.setFormat(reader.streamFormat(s)) == AviStatus::Ok);
        }
        reader.adviseWillRead(s, 0, count / 2);
        std::vector<uint8_t> buffer(info.dwSuggestedBufferSize);
        for (int32_t i = -1; i <= count; ++i) {
            int32_t bytes = 0;
            const bool inside = i >= 0 && i < count;
            check((reader.sampleSize(s, i, bytes) == AviStatus::Ok) == inside);
            const int32_t key = reader.findKeyAtOrBefore(s, i);
            check(key <= i && key >= -1);
            if (!inside)
                continue;
            check(reader.readSample(s, i, buffer, bytes) == AviStatus::Ok);
            const auto sample = std::span(buffer).first(static_cast<size_t>(bytes));
            // The announced half is lent from block reads, the rest read alone.
            video::SampleLoan loan;
            check(reader.lendSample(s, i, bytes, loan) == AviStatus::Ok &&
                  std::ranges::equal(loan.data, sample));
            check(s != copied || writer.writeSample(i, sample, key == i) == AviStatus::Ok);
        }
    }
    if (copied < 0)
        return 0;
    check(writer.finish() == AviStatus::Ok);
    video::AviOpenResult copy = video::AviReader::open(std::make_unique<MemoryFileIo>(*contents));
    check(copy.status == AviStatus::Ok && copy.reader->streamCount() == 1 &&
          copy.reader->sampleCount(0) == reader.sampleCount(copied));
    for (int32_t i = 0; i < reader.sampleCount(copied); ++i) {
        int32_t original = 0, again = 0;
        check(reader.sampleSize(copied, i, original) == copy.reader->sampleSize(0, i, again) &&
              original == again &&
              (reader.findKeyAtOrBefore(copied, i) == i) == (copy.reader->findKeyAtOrBefore(0, i) == i));
    }
    return 0;
}
