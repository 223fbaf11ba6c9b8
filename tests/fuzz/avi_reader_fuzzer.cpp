// Feeds arbitrary bytes to the AVI reader as an in-memory file, walks every stream and sample,
// reads a few samples, and copies the first video stream through the writer and back: the copy
// must hold the same samples.

#include "riff_composer.h"
#include "video/avi_reader.h"
#include "video/avi_writer.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void copyThroughWriter(video::AviReader& reader, int32_t stream)
{
    auto file = std::make_unique<test_support::MemoryFileIo>();
    auto contents = file->contents();
    video::AviWriterOptions options;
    options.partBytes = 4096;
    options.superIndexEntries = 64;
    options.writeBufferBytes = 1024;
    video::AviCreateResult created = video::AviWriter::create(std::move(file), options);
    if (created.status != video::AviStatus::Ok)
        std::abort();
    video::AviWriter& writer = *created.writer;
    if (writer.createStream(reader.streamInfo(stream)) != video::AviStatus::Ok ||
        writer.setFormat(reader.streamFormat(stream)) != video::AviStatus::Ok)
        std::abort();
    std::vector<uint8_t> buffer(reader.streamInfo(stream).dwSuggestedBufferSize);
    const int32_t count = reader.sampleCount(stream);
    for (int32_t i = 0; i < count; ++i) {
        int32_t bytes = 0;
        if (reader.readSample(stream, i, buffer, bytes) != video::AviStatus::Ok)
            std::abort(); // every indexed sample lies inside the file
        const bool key = reader.findKeyAtOrBefore(stream, i) == i;
        if (writer.writeSample(i, std::span(buffer).first(static_cast<size_t>(bytes)), key) !=
            video::AviStatus::Ok)
            std::abort();
    }
    if (writer.finish() != video::AviStatus::Ok)
        std::abort();

    video::AviOpenResult copy =
        video::AviReader::open(std::make_unique<test_support::MemoryFileIo>(*contents));
    if (copy.status != video::AviStatus::Ok || copy.reader->streamCount() != 1 ||
        copy.reader->sampleCount(0) != count)
        std::abort();
    for (int32_t i = 0; i < count; ++i) {
        int32_t original = 0;
        int32_t copied = 0;
        if (reader.sampleSize(stream, i, original) != video::AviStatus::Ok ||
            copy.reader->sampleSize(0, i, copied) != video::AviStatus::Ok || original != copied)
            std::abort();
        if ((reader.findKeyAtOrBefore(stream, i) == i) != (copy.reader->findKeyAtOrBefore(0, i) == i))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    video::AviOpenResult opened = video::AviReader::open(
        std::make_unique<test_support::MemoryFileIo>(std::vector<uint8_t>(data, data + size)));
    if (opened.status != video::AviStatus::Ok)
        return 0;
    video::AviReader& reader = *opened.reader;
    int32_t video = -1;
    for (int32_t s = 0; s < reader.streamCount(); ++s) {
        const core::AviStreamInfo& info = reader.streamInfo(s);
        if (video < 0 && info.fccType == core::kStreamTypeVideo)
            video = s;
        const int32_t count = reader.sampleCount(s);
        if (info.dwLength != static_cast<uint32_t>(count))
            std::abort();
        uint32_t largest = 0;
        for (int32_t i = -1; i <= count; ++i) {
            int32_t bytes = 0;
            const video::AviStatus status = reader.sampleSize(s, i, bytes);
            if ((status == video::AviStatus::Ok) != (i >= 0 && i < count))
                std::abort();
            largest = std::max(largest, static_cast<uint32_t>(bytes));
            const int32_t key = reader.findKeyAtOrBefore(s, i);
            if (key > i || key < -1)
                std::abort();
        }
        if (largest != info.dwSuggestedBufferSize)
            std::abort();
        std::vector<uint8_t> buffer(info.dwSuggestedBufferSize);
        for (int32_t i : {0, count / 2, count - 1}) {
            int32_t bytes = 0;
            if (i >= 0 && i < count && reader.readSample(s, i, buffer, bytes) != video::AviStatus::Ok)
                std::abort();
        }
        reader.adviseWillRead(s, 0, count);
    }
    if (video >= 0)
        copyThroughWriter(reader, video);
    return 0;
}
