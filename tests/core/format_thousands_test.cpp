#include "core/format_thousands.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatThousands, PutsSeparatorsBetweenGroupsOfThreeDigits)
{
    struct Case {
        int64_t value;
        const char* expected;
    };
    const Case cases[] = {{0, "0"},
                          {999, "999"},
                          {1000, "1.000"},
                          {123456, "123.456"},
                          {1234567, "1.234.567"},
                          {2147483647, "2.147.483.647"},
                          {-1234, "-1.234"},
                          {-123456, "-123.456"},
                          {-999, "-999"},
                          {5368709120LL, "5.368.709.120"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(core::formatThousands(c.value), c.expected);
    }
}

TEST(FormatThousands, ShowsWholeMebibytesBehindTheBytes)
{
    EXPECT_EQ(core::formatBytesWithMegabytes(735051776), "735.051.776 (701)");
    EXPECT_EQ(core::formatBytesWithMegabytes(1048575), "1.048.575 (0)");
    EXPECT_EQ(core::formatBytesWithMegabytes(1572864), "1.572.864 (1)");
    EXPECT_EQ(core::formatBytesWithMegabytes(3221225472LL), "3.221.225.472 (3072)");
}

} // namespace
