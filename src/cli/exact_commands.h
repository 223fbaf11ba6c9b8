#pragma once

#include "cli/create_command.h"
#include "cli/job_options.h"

#include <string>

namespace cli {

// Prints the High Bitrate Limit that fills the target and the Final AVI's size at it, as text or
// as one JSON object. Returns an exit status: 1 after a message (nothing fits, or the sources
// cannot make a Final AVI).
int runFitCommand(const JobOptions& options, bool json);

// Checks the Final AVI at finalPath (when not empty, else the one the options name) against the
// plan of the settings, after Fit with flags.fit as create --fit, and prints the report ("Final AVI
// verified: N frames" or what differs). Ctrl-C aborts. Returns an exit status: 0 verified, 1
// differences or a message, 130 aborted.
int runVerifyCommand(const JobOptions& options, const std::string& finalPath,
                     const CreateCommandOptions& flags);

} // namespace cli
