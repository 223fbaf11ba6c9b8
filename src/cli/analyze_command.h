#pragma once

#include "cli/job_options.h"

namespace cli {

enum class AnalyzeFormat {
    Text, // the Low Motion bitrate line
    Json, // one object: the estimate, the counts, the plan and every window's measure
    Csv,  // one line per one-second window: second,group,kbps,choice
};

// Runs Analyze on the settings and prints the Low Motion bitrate that fills the target in the
// format asked for. Returns an exit status.
int runAnalyzeCommand(const JobOptions& options, AnalyzeFormat format);

} // namespace cli
