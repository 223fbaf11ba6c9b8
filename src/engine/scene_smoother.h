#pragma once

#include "core/job.h"

#include <algorithm>
#include <cstdint>

namespace engine::detail {

// True when the plan runs the scene-switching smoother: with groups of several seconds a single
// low group already spans a real scene.
inline bool smootherRuns(const core::JobSettings& settings, int32_t groupSeconds)
{
    return settings.sceneSwitchingSmoother && groupSeconds == 1;
}

// The scene-switching smoother's rule, over groups that are low or not (high, smoothed, ending).
// It examines groups 1 .. limit - 1, limit = min(groupsFm - highRunMinGroups, groupCount): a run
// of low groups closed by a group that is not low inside that range, at most lowRunMaxGroups
// long and following at least highRunMinGroups high groups, is switched: switchRun(first, count).
// The high groups before a run count from the last run left low (group 0 never counts); a
// switched run does not count itself but joins the stretches around it. A run still open at the
// limit stays low.
//
// isLow(k) tells group k's state as planned; runEnd(k, limit) returns the first group after k,
// limit at most, whose state differs from group k's. The planner walks its table, Fit a bit set
// of its candidate plans, so both decide by this one rule.
template <typename IsLow, typename RunEnd, typename SwitchRun>
void smoothSceneSwitches(int64_t groupCount, int64_t groupsFm, const core::JobSettings& settings,
                         IsLow&& isLow, RunEnd&& runEnd, SwitchRun&& switchRun)
{
    const int64_t limit = std::min<int64_t>(groupsFm - settings.highRunMinGroups, groupCount);
    int64_t highRun = 0;
    bool joined = false; // the stretch starting at k continues the one before a switched run
    for (int64_t k = 1; k < limit;) {
        if (isLow(k)) {
            const int64_t end = runEnd(k, limit);
            if (end >= limit)
                return;
            joined = end - k <= settings.lowRunMaxGroups && highRun >= settings.highRunMinGroups;
            if (joined)
                switchRun(k, end - k);
            k = end;
        }
        const int64_t end = runEnd(k, limit);
        highRun = (joined ? highRun : 0) + end - k;
        joined = false;
        k = end;
    }
}

} // namespace engine::detail
