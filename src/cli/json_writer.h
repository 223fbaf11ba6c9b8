#pragma once

#include <cstdint>
#include <string>

namespace cli {

// Returns text as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

} // namespace cli
