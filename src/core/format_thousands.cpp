#include "core/format_thousands.h"

namespace core {

std::string formatThousands(int64_t value)
{
    std::string text = std::to_string(value);
    const size_t firstDigit = value < 0 ? 1 : 0;
    const size_t digits = text.size() - firstDigit;
    // Insert from the right so the positions still to come stay valid.
    for (size_t group = 1; group <= (digits - 1) / 3; ++group)
        text.insert(text.size() - group * 3 - (group - 1), 1, '.');
    return text;
}

std::string formatBytesWithMegabytes(int64_t bytes)
{
    return formatThousands(bytes) + " (" + std::to_string(bytes / 1048576) + ")";
}

std::string formatMegabytes(int64_t bytes)
{
    constexpr int64_t kMegabyte = 1048576;
    const int64_t magnitude = bytes < 0 ? -bytes : bytes;
    const int64_t tenths =
        magnitude / kMegabyte * 10 + (magnitude % kMegabyte * 10 + kMegabyte / 2) / kMegabyte;
    std::string text = bytes < 0 && tenths > 0 ? "-" : "";
    text += std::to_string(tenths / 10);
    text += '.';
    text += std::to_string(tenths % 10);
    return text;
}

} // namespace core
