#pragma once

namespace cli {

// Exit statuses of the batch front end.
constexpr int kExitCompleted = 0;   // the command ran to its end
constexpr int kExitEnded = 1;       // the command ended at a message
constexpr int kExitUsage = 2;       // the command line was wrong
constexpr int kExitInterrupted = 130; // Ctrl-C aborted the copy

// Parses the command line and runs the chosen command; returns the exit status.
int runCommandLine(int argc, char** argv);

} // namespace cli
