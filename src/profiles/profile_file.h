#pragma once

#include "core/job.h"
#include "core/user_interface_port.h"

#include <string>

namespace profiles {

// Writes the job's settings into section [KestrelIon] of the INI file at path, key by key;
// keys it does not write and other sections stay. Each key's write replaces the file whole (a
// temporary file renamed over it), so an interrupted save never leaves half a profile. On the
// first failed write the chain stops and "An error occured during save!!!" is shown once; an
// existing file that is not text (a film picked by mistake) is refused with its own message and
// left as it is. Returns false in both cases.
bool writeProfile(const std::string& path, const core::JobSettings& settings, core::UiPort& ui);

// Reads the settings of section [KestrelIon] from the INI file at path into settings. A missing
// file, section or key reads as an empty value (empty path, clear flag, number 0); fields the
// profile does not govern keep their values. Never reports anything.
void readProfile(const std::string& path, core::JobSettings& settings);

} // namespace profiles
