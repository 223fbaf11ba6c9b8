#include "avi_builder.h"

#include "riff_composer.h"

#include <stdexcept>

namespace test_support {

std::vector<uint8_t> sampleBytes(int32_t index, int32_t size)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(size, 0)));
    uint32_t state = 0x9E3779B9u * static_cast<uint32_t>(index + 1);
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::vector<BuiltFrame> gridFrames(int32_t count, int32_t distance, int32_t keySize, int32_t deltaSize)
{
    std::vector<BuiltFrame> frames(static_cast<size_t>(count), {deltaSize, false});
    for (int32_t i = 0; distance > 0 && i < count; i += distance)
        frames[static_cast<size_t>(i)] = {keySize, true};
    return frames;
}

void buildAvi(const std::string& path, const AviBuildSpec& layout, const video::AviWriterOptions& options)
{
    video::AviCreateResult created = video::AviWriter::create(path, options);
    if (created.status != video::AviStatus::Ok)
        throw std::runtime_error("cannot create " + path + ": " + created.errorText);
    video::AviWriter& writer = *created.writer;
    const auto check = [&](video::AviStatus status) {
        if (status != video::AviStatus::Ok)
            throw std::runtime_error("cannot write " + path + ": " + writer.errorText());
    };

    core::AviStreamInfo info{.fccType = core::kStreamTypeVideo,
                             .fccHandler = layout.compression,
                             .dwScale = layout.scale,
                             .dwRate = layout.rate,
                             .dwQuality = 0xFFFFFFFFu,
                             .rcFrame = {0, 0, 320, 240}};
    layout.name.copy(info.szName.data(), info.szName.size() - 1);
    check(writer.createStream(info));

    std::vector<uint8_t> format =
        bitmapFormat(320, 240, layout.compression, static_cast<size_t>(std::max(layout.formatBytes, 40)));
    format.resize(static_cast<size_t>(std::max(layout.formatBytes, 0)));
    check(writer.setFormat(format));
    for (int32_t i = 0; i < std::ssize(layout.frames); ++i)
        check(writer.writeSample(i, sampleBytes(i, layout.frames[i].size), layout.frames[i].key));
    check(writer.finish());
}

} // namespace test_support
