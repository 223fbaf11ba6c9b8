#pragma once

#include "core/job.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Returns the build tree's folder for benchmark media, creating it.
std::string mediaDir();

// Makes (once) a 90-minute MPEG-4 AVI with ffmpeg: 135,000 frames at 25 fps, a key frame every
// 250 frames and no others, no B-frames, XVID tag, about bitrateKbps. Returns its path; exits the
// benchmark when ffmpeg fails.
std::string makeEncodedFilm(const std::string& name, int32_t bitrateKbps);

// Makes (once) a 90-minute AVI with the project's own writer: 135,000 frames at 25 fps, a key
// frame every 25 frames (one-second groups, the most a plan can have), busy and still scenes,
// about averageFrameBytes per frame. Returns its path.
std::string makeFilmAvi(const std::string& name, int32_t averageFrameBytes);

// Fills state as Analyze leaves it for a 90-minute film (135,000 frames at 25 fps, a key frame
// every 25 frames, one-second groups) whose sizes are those of an MPEG-4 film of about 700 MB:
// key frames of 25-40 KB, delta frames of 1-3 KB in calm scenes and 6-14 KB in busy ones, scenes
// of 5 to 60 seconds. The sizes are the same on every machine.
void analyseSyntheticFilm(core::AnalysisState& state);

// Runs a program (argv[0] looked up in PATH) once with its output thrown away and returns its
// wall time in milliseconds, process start and exit included; exits the benchmark when the
// program fails.
double timeProgram(const std::vector<std::string>& argv);

// The middle and the ends of a set of measurements.
struct Spread {
    double median = 0;
    double low = 0;
    double high = 0;
};
Spread spreadOf(std::vector<double> values);

// The processor's name and the number of processors, as /proc/cpuinfo gives them.
std::string machineName();

// Quotes text for a POSIX shell.
std::string shellQuote(const std::string& text);

} // namespace bench
