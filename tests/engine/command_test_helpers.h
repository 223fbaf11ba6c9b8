#pragma once

#include "avi_builder.h"
#include "core/job.h"
#include "media.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace engine_test {

// Returns how many file descriptors the process holds, so a test sees a source left open.
inline int32_t openFileCount()
{
    int32_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// Frames with key frames exactly at the given positions; sizes differ from frame to frame.
inline std::vector<test_support::BuiltFrame> framesWithKeys(int32_t count, const std::vector<int32_t>& keys)
{
    std::vector<test_support::BuiltFrame> frames(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        frames[static_cast<size_t>(i)] = {500 + (i * 37) % 400, false};
    for (int32_t key : keys)
        frames[static_cast<size_t>(key)] = {3000 + key % 100, true};
    return frames;
}

// Key frames every distance frames from 0.
inline std::vector<int32_t> gridKeys(int32_t count, int32_t distance)
{
    std::vector<int32_t> keys;
    for (int32_t i = 0; i < count; i += distance)
        keys.push_back(i);
    return keys;
}

// Writes an AVI of count frames at rate/scale with key frames at keys; returns its path.
inline std::string buildFilm(const std::string& dir, const std::string& name, int32_t count,
                             const std::vector<int32_t>& keys, uint32_t rate = 25, uint32_t scale = 1,
                             int32_t formatBytes = 40)
{
    test_support::AviBuildSpec spec;
    spec.frames = framesWithKeys(count, keys);
    spec.rate = rate;
    spec.scale = scale;
    spec.formatBytes = formatBytes;
    const std::string path = dir + "/" + name + ".avi";
    test_support::buildAvi(path, spec);
    return path;
}

inline std::string buildGridFilm(const std::string& dir, const std::string& name, int32_t count,
                                 int32_t distance)
{
    return buildFilm(dir, name, count, gridKeys(count, distance));
}

// A job as the window holds it when it opens.
inline core::Job openedJob()
{
    core::Job job;
    core::applyOpeningDefaults(job.settings);
    return job;
}

} // namespace engine_test
