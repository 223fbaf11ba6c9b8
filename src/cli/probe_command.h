#pragma once

#include <string>

namespace cli {

// Opens path as a source AVI and prints its video stream's information, format and frame table,
// as text or as one JSON object. Returns an exit status.
int runProbe(const std::string& path, bool json);

} // namespace cli
