#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace engine {

// What one key-frame group costs when it is taken from one encode (a level): the bytes it adds
// to the Final AVI (its chunks and their index entries) and the squared error of its frames
// against the source, summed over every sample of every plane.
struct LevelCost {
    int64_t bytes = 0;
    double squaredError = 0;
};

// One level per group, with the totals it gives.
struct LevelChoice {
    std::vector<int32_t> levels; // levels[g]: the level group g is taken from
    int64_t bytes = 0;
    double squaredError = 0;
    bool fits = false; // bytes is within the budget; otherwise levels holds the smallest of each group
};

// Chooses for every group the level that makes the film's total squared error smallest with its
// total bytes at most budgetBytes. costs[g][l] is group g at level l; every group has at least one
// level. Two choices are made and the better one returned:
// - Lagrangian: every group climbs its lower convex hull of (bytes, error), the steps that remove
//   the most error per byte first, until a step does not fit; the bytes left over then go, one
//   change at a time, to whichever level of any group fits them and lowers the error most. Near
//   the best for films of many groups.
// - Exhaustive: group by group, every partial choice that no other beats in both bytes and error
//   and that leaves room for the smallest levels of the groups after it. When more than
//   maxPartials remain, their span of bytes is cut into that many ranges, each keeping its least
//   error. The best there is while the partials stay within maxPartials (films of few groups).
// When even the smallest level of every group passes the budget, returns those levels with fits false.
LevelChoice chooseLevels(std::span<const std::vector<LevelCost>> costs, int64_t budgetBytes,
                         int32_t maxPartials = 256);

} // namespace engine
