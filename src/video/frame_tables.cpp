#include "video/frame_tables.h"

#include <algorithm>

namespace video {

bool readFrameTable(core::FrameTable& table, int32_t frameCount, const Source& source, core::UiPort& ui)
{
    const int32_t count = std::max(frameCount, 0);
    const int32_t available = std::clamp(source.sampleCount(), 0, count);
    table.setSize(count, available,
                  [&](std::span<core::FrameRecord> records) { source.fillFrameRecords(records); });
    if (available < count) {
        ui.showMessage(core::messages::streamReadError());
        return false;
    }
    return true;
}

int32_t findKeyframeDistance(const core::FrameTable& table, int32_t frameCount)
{
    if (frameCount <= 1)
        return 1;
    // Never reads past the table, even if a caller passes a larger count.
    const int32_t searched = std::min(frameCount, table.count());
    for (int32_t i = 1; i < searched; ++i) {
        if (table[i].isKey != 0)
            return i;
    }
    return frameCount;
}

int32_t checkKeyframeLayout(const core::FrameTable& table, int32_t distance)
{
    const int32_t step = std::max(distance, 1);
    const int32_t count = table.count();
    // Group by group: its first frame must be key, the others not.
    for (int64_t group = 0; group < count; group += step) {
        const auto start = static_cast<int32_t>(group);
        if (table[start].isKey != 1)
            return start;
        const auto end = static_cast<int32_t>(std::min<int64_t>(group + step, count));
        for (int32_t i = start + 1; i < end; ++i) {
            if (table[i].isKey != 0)
                return i;
        }
    }
    return -1;
}

} // namespace video
