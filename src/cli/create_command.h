#pragma once

#include "cli/job_options.h"

namespace cli {

struct CreateCommandOptions {
    bool assumeYes = false; // Yes to the frame-count question
    bool quiet = false;     // no progress bar
    bool fit = false;       // set the High Bitrate Limit by Fit first
};

// Runs Create on the settings and prints the Final AVI's sample bytes. Ctrl-C aborts the copy
// and leaves a complete, readable Final AVI. Returns an exit status.
int runCreateCommand(const JobOptions& options, const CreateCommandOptions& createOptions);

} // namespace cli
