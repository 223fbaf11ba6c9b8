#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Returns the build tree's folder for benchmark media, creating it.
std::string mediaDir();

// Makes (once) a 90-minute AVI: 135,000 frames at 25 fps, a key frame every 25 frames, busy and
// still scenes, about averageFrameBytes per frame. Returns its path.
std::string makeFilmAvi(const std::string& name, int32_t averageFrameBytes);

// Runs a program (argv[0] looked up in PATH) `runs` times with its output thrown away and
// returns each run's wall time in milliseconds, process start and exit included; exits the
// benchmark when the program fails.
std::vector<double> timeProgram(const std::vector<std::string>& argv, int runs);

// Returns the median of the values.
double median(std::vector<double> values);

// Quotes text for a POSIX shell.
std::string shellQuote(const std::string& text);

} // namespace bench
