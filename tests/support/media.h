#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// A real MPEG-4 ASP AVI made by ffmpeg at 25 frames a second: key frames exactly every
// keyframeDistance frames, no B-frames, busy (noisy, moving) scenes of 250 frames alternating with
// still ones of 250.
struct MediaSpec {
    int32_t frames = 1000;
    int32_t keyframeDistance = 25;
    int32_t quantizer = 4;   // 2 (large frames) .. 31 (small frames)
    bool audioFirst = false; // put a PCM audio stream before the video stream
    int32_t width = 320;
    int32_t height = 240;
};

// Returns the path of the AVI for the recipe, made on first use and cached in the build tree.
std::string mediaFile(const MediaSpec& recipe);

// The usual Fast Motion (quantizer 4) and Low Motion (quantizer 16) pair for a frame count.
std::string fastMotionAvi(int32_t frames = 1000, int32_t keyframeDistance = 25);
std::string lowMotionAvi(int32_t frames = 1000, int32_t keyframeDistance = 25);

// One video packet as ffprobe lists it.
struct ProbePacket {
    bool key = false;
    int64_t size = 0;
    bool operator==(const ProbePacket&) const = default;
};

// Lists the video packets of path with ffprobe (in file order).
std::vector<ProbePacket> probePackets(const std::string& path);

// Runs `ffmpeg -v error -i path -f null -` and returns what it printed (empty for a clean decode).
std::string decodeErrors(const std::string& path);

// Runs a shell command, returning its standard output; exitCode receives its exit status.
std::string runCommand(const std::string& command, int& exitCode);

// Quotes text for a POSIX shell.
std::string shellQuote(const std::string& text);

// Returns a fresh, empty folder for one test, below the build tree's scratch folder.
std::string freshTempDir(const std::string& name);

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> readWholeFile(const std::string& path);

} // namespace test_support
