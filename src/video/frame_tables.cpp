#include "video/frame_tables.h"

#include <algorithm>

namespace video {

bool readFrameTable(core::FrameTable& table, int32_t frameCount, const Source& source, core::UiPort& ui)
{
    table.setSize(std::max(frameCount, 0));
    for (int32_t i = 0; i < frameCount; ++i) {
        int32_t bytes = 0;
        if (source.sampleSize(i, bytes) != AviStatus::Ok) {
            ui.showMessage(core::messages::streamReadError());
            return false;
        }
        core::FrameRecord& record = table[i];
        record.isKey = source.findKeyAtOrBefore(i) == i ? 1 : 0;
        record.size = bytes;
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
    for (int32_t i = 0; i < table.count(); ++i) {
        const int32_t expected = i % step == 0 ? 1 : 0;
        if (table[i].isKey != expected)
            return i;
    }
    return -1;
}

} // namespace video
