#pragma once

#include "core/stream_info.h"
#include "video/avi_writer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// One frame of a built AVI: its sample size and key flag.
struct BuiltFrame {
    int32_t size = 0;
    bool key = false;
};

// What buildAvi writes: one 320 x 240 video stream with these frames.
struct AviBuildSpec {
    std::vector<BuiltFrame> frames;
    uint32_t rate = 25;
    uint32_t scale = 1;
    uint32_t compression = core::fourcc("XVID");
    int32_t formatBytes = 40; // strf size; more than 40 appends zero bytes
    std::string name = "";    // the stream's name ('strn'); none when empty
};

// Returns the bytes of sample index of size bytes: a pattern that differs from sample to
// sample, so a misplaced frame is caught.
std::vector<uint8_t> sampleBytes(int32_t index, int32_t size);

// Frames with key frames exactly every distance frames.
std::vector<BuiltFrame> gridFrames(int32_t count, int32_t distance, int32_t keySize, int32_t deltaSize);

// Writes layout as an AVI at path with the project's own writer; sample i holds sampleBytes(i, size).
// Throws when the writer fails.
void buildAvi(const std::string& path, const AviBuildSpec& layout,
              const video::AviWriterOptions& options = {});

} // namespace test_support
