#pragma once

#include "cli/job_options.h"

namespace cli {

// Runs Analyze on the settings and prints the Low Motion bitrate that fills the target, as text
// or as one JSON object with the counts and the plan. Returns an exit status.
int runAnalyzeCommand(const JobOptions& options, bool json);

} // namespace cli
