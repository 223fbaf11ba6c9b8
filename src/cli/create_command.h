#pragma once

#include "cli/job_options.h"
#include "core/user_interface_port.h"

namespace cli {

struct CreateCommandOptions {
    bool assumeYes = false; // Yes to the frame-count question
    bool quiet = false;     // no progress bar
    bool fit = false;       // set the High Bitrate Limit by Fit first
};

// Sets the High Bitrate Limit of settings by Fit, counting different frame counts as Create does
// after a Yes, and prints it. Returns false after a message (nothing fits, or unusable sources).
bool fitLimitFirst(core::JobSettings& settings, core::UiPort& ui);

// Runs Create on the settings and prints the Final AVI's sample bytes. Ctrl-C aborts the copy
// and leaves a complete, readable Final AVI. Returns an exit status.
int runCreateCommand(const JobOptions& options, const CreateCommandOptions& createOptions);

} // namespace cli
