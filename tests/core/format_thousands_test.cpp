#include "core/format_thousands.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatThousands, GroupsDigitsInThreesAndShowsWholeMebibytesBehindTheBytes)
{
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0"},       {999, "999"},      {1000, "1.000"},       {123456, "123.456"},
        {-999, "-999"}, {-1234, "-1.234"}, {-123456, "-123.456"}, {5368709120LL, "5.368.709.120"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(core::formatThousands(value), text) << value;
    EXPECT_EQ(core::formatBytesWithMegabytes(1048575), "1.048.575 (0)");
    EXPECT_EQ(core::formatBytesWithMegabytes(1572864), "1.572.864 (1)");
    EXPECT_EQ(core::formatBytesWithMegabytes(3221225472LL), "3.221.225.472 (3072)");
}

} // namespace
