#pragma once

#include "core/default_init_allocator.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace core {

// One frame of a source's video stream: key-frame flag and compressed sample size in bytes.
// Plain data, so a table filled from an index is not zeroed first: FrameRecord{} is all zero.
struct FrameRecord {
    int32_t isKey;
    int32_t size;
    bool operator==(const FrameRecord&) const = default;
};

// Where a keyframe group's frames are copied from.
enum class GroupChoice : int32_t { Low = 0, High = 1, SmoothedHigh = 2, Ending = 3 };

// One keyframe group of the plan: the FM bytes of its frames inside the FM table, and its source.
struct PlanRecord {
    int64_t fmBytes = 0;
    GroupChoice choice = GroupChoice::Low;
    bool operator==(const PlanRecord&) const = default;
};

// An ordered, growable table of records with a 32-bit count. Records a resize adds are
// value-initialised (all zero); records below the new count keep their values.
template <typename Record>
class Table {
public:
    // Resizes to count records (0 or more); 0 drops every record and frees the storage.
    void setSize(int32_t count)
    {
        assert(count >= 0);
        if (count == 0) {
            Records().swap(m_records);
            return;
        }
        const size_t kept = std::min(m_records.size(), static_cast<size_t>(count));
        m_records.resize(static_cast<size_t>(count));
        std::fill(m_records.begin() + static_cast<std::ptrdiff_t>(kept), m_records.end(), Record{});
    }
    // Resizes to count records like setSize, except that records 0 .. filled - 1 are handed to
    // fill as one span first, which sets every one of them: they are not zeroed before.
    template <typename Fill> void setSize(int32_t count, int32_t filled, Fill&& fill)
    {
        assert(filled >= 0 && filled <= count);
        if (m_records.size() < static_cast<size_t>(filled))
            m_records.resize(static_cast<size_t>(filled));
        fill(std::span<Record>(m_records.data(), static_cast<size_t>(filled)));
        setSize(count);
    }
    int32_t count() const { return static_cast<int32_t>(m_records.size()); }
    Record& operator[](int32_t index)
    {
        assert(index >= 0 && index < count());
        return m_records[static_cast<size_t>(index)];
    }
    const Record& operator[](int32_t index) const
    {
        assert(index >= 0 && index < count());
        return m_records[static_cast<size_t>(index)];
    }
    auto begin() const { return m_records.begin(); }
    auto end() const { return m_records.end(); }
    bool operator==(const Table&) const = default;

private:
    using Records = std::vector<Record, DefaultInitAllocator<Record>>;
    Records m_records;
};

using FrameTable = Table<FrameRecord>;
using PlanTable = Table<PlanRecord>;

} // namespace core
