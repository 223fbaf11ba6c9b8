#pragma once

#include <cstdint>
#include <string>

namespace core {

// How the numbers of the texts that go beyond the fixed message formats are written (the plan
// view's texts, Fit's and verify's messages). The plain form writes 1234567 and 812.9; the
// desktop window overrides it with the person's locale. The fixed formats (the progress
// statistics, stat.txt, the other messages) never go through it.
class NumberFormat {
public:
    virtual ~NumberFormat() = default;
    // Returns value as a whole number.
    virtual std::string whole(int64_t value) const;
    // Returns bytes in MB (1,048,576 bytes) with one decimal, rounded.
    virtual std::string megabytes(int64_t bytes) const;
};

// Returns the plain form: digits without grouping, '.' before the decimal.
const NumberFormat& plainNumbers();

} // namespace core
