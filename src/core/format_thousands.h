#pragma once

#include <cstdint>
#include <string>

namespace core {

// Writes value in decimal with a '.' in front of every third digit from the right
// (1234567 -> "1.234.567", -123456 -> "-123.456"); no separator stands before the first digit.
std::string formatThousands(int64_t value);

// Formats a byte count as "<thousands> (<whole MiB>)", e.g. 735051776 -> "735.051.776 (701)".
std::string formatBytesWithMegabytes(int64_t bytes);

// Formats a byte count in MB (1,048,576 bytes) with one decimal, rounded: 852,402,585 -> "812.9".
std::string formatMegabytes(int64_t bytes);

} // namespace core
