#pragma once

#include "cli/job_options.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

namespace cli {

// The options encode-lm and encode-fm share.
struct EncodeFlags {
    int32_t kbps = 0;
    int32_t passes = 1;
    bool assumeYes = false; // replace an existing AVI without asking
    bool quiet = false;     // no progress line
    bool json = false;      // print one JSON object
};

// The encode-lm command: its job options and flags.
struct EncodeLowMotionOptions {
    JobOptions job;
    std::string source;
    EncodeFlags flags;
};

// The encode-fm command.
struct EncodeFastMotionOptions {
    std::string source;
    std::string fastMotion;
    int32_t keySeconds = 10;
    std::string codec = "mpeg4";
    std::string fourcc;
    EncodeFlags flags;
};

// Adds encode-lm and encode-fm to app, filling options when parsed.
CLI::App* addEncodeLowMotion(CLI::App& app, EncodeLowMotionOptions& options);
CLI::App* addEncodeFastMotion(CLI::App& app, EncodeFastMotionOptions& options);

// Encode the Low Motion AVI like the Fast Motion AVI, or a Fast Motion AVI from a film, and print
// what was written. Ctrl-C aborts and leaves nothing. Return an exit status.
int runEncodeLowMotionCommand(const EncodeLowMotionOptions& options);
int runEncodeFastMotionCommand(const EncodeFastMotionOptions& options);

} // namespace cli
