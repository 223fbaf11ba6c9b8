#pragma once

#include <cstdint>
#include <string>

namespace cli {

// Returns text as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

// Returns a four-character code as text; bytes outside printable ASCII become '?'.
std::string fourccText(uint32_t code);

} // namespace cli
