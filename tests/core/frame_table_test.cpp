#include "core/frame_table.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameTable, ResizeKeepsLowerRecordsAndZeroFillsNewOnes)
{
    core::FrameTable table;
    table.setSize(3);
    table[0] = {1, 500};
    table[2] = {0, 70};
    table.setSize(5);
    ASSERT_EQ(table.count(), 5);
    EXPECT_EQ(table[0], (core::FrameRecord{1, 500}));
    EXPECT_EQ(table[2], (core::FrameRecord{0, 70}));
    EXPECT_EQ(table[4], (core::FrameRecord{}));
    table.setSize(1);
    EXPECT_EQ(table.count(), 1);
    table.setSize(3);
    EXPECT_EQ(table[2], (core::FrameRecord{})) << "a record dropped by a shrink must come back zeroed";
    table.setSize(0);
    EXPECT_EQ(table.count(), 0);
}

} // namespace
