#pragma once

#include "core/number_format.h"

#include <QString>

#include <cstdint>

namespace app {

// Writes numbers in the person's locale (QLocale's default): digit groups and decimal sign as the
// desktop shows them, "1,234,567" and "812.9" in English, "1.234.567" and "812,9" in German.
class LocaleNumbers : public core::NumberFormat {
public:
    std::string whole(int64_t value) const override;
    std::string megabytes(int64_t bytes) const override;
};

// Returns value as LocaleNumbers writes it.
QString localeNumber(int64_t value);
// Returns bytes in MB with one decimal as LocaleNumbers writes it.
QString localeMegabytes(int64_t bytes);

} // namespace app
