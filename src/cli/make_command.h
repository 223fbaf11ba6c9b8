#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

namespace cli {

// The make command's options.
struct MakeOptions {
    std::string source;
    std::string final;
    int32_t sizeMB = 0;
    int32_t audioKbps = 128;
    std::string codec = "mpeg4";
    std::string mode = "quality";
    std::string levels; // "Q" or "Q/K" (key frames at K) separated by commas; empty: the default
    int32_t keySeconds = 0;
    std::string work;
    bool keep = false;
    bool assumeYes = false;
    bool quiet = false;
    bool json = false;
};

// Adds make to app, filling options when parsed.
CLI::App* addMake(CLI::App& app, MakeOptions& options);

// Makes the Final AVI from the film and prints what was written. Ctrl-C aborts and leaves
// nothing. Returns an exit status.
int runMakeCommand(const MakeOptions& options);

} // namespace cli
