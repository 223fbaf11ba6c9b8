#include "app/locale_numbers.h"

#include <QLocale>

namespace app {

QString localeNumber(int64_t value)
{
    return QLocale().toString(static_cast<qlonglong>(value));
}

QString localeMegabytes(int64_t bytes)
{
    return QLocale().toString(static_cast<double>(bytes) / 1048576.0, 'f', 1);
}

std::string LocaleNumbers::whole(int64_t value) const
{
    return localeNumber(value).toStdString();
}

std::string LocaleNumbers::megabytes(int64_t bytes) const
{
    return localeMegabytes(bytes).toStdString();
}

} // namespace app
