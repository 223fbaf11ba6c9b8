#include "core/number_format.h"

#include "core/format_thousands.h"

namespace core {

std::string NumberFormat::whole(int64_t value) const
{
    return std::to_string(value);
}

std::string NumberFormat::megabytes(int64_t bytes) const
{
    return formatMegabytes(bytes);
}

const NumberFormat& plainNumbers()
{
    static const NumberFormat plain;
    return plain;
}

} // namespace core
