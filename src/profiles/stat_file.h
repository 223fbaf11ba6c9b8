#pragma once

#include "core/job.h"
#include "core/user_interface_port.h"

#include <string>

namespace profiles {

// Returns the path of "stat.txt" in the folder of finalPath ("stat.txt" alone when finalPath
// names no folder).
std::string statFilePath(const std::string& finalPath);

// Writes the statistics file beside finalPath from the job's frame tables and totals, replacing
// an older one. Shows "Failed to create file '...'" or the write-failure message and returns
// false when that fails.
bool writeStatFile(const std::string& finalPath, const core::Job& job, core::UiPort& ui);

} // namespace profiles
