#include "engine/level_choice.h"

#include <algorithm>
#include <cassert>
#include <numeric>
#include <queue>

namespace engine {

namespace {

// A choice for the groups so far: its totals, and how it was reached from the previous group's.
struct Partial {
    int64_t bytes = 0;
    double squaredError = 0;
    int32_t previous = -1; // index into the previous group's partials
    int32_t level = 0;     // this group's level
};

// Keeps of partials, sorted by bytes, those that no other beats in both bytes and error.
void keepUnbeaten(std::vector<Partial>& partials)
{
    std::vector<Partial> kept;
    for (const Partial& p : partials) {
        if (!kept.empty() && p.squaredError >= kept.back().squaredError)
            continue;
        if (!kept.empty() && p.bytes == kept.back().bytes)
            kept.pop_back(); // same bytes, less error
        kept.push_back(p);
    }
    partials.swap(kept);
}

// Keeps of partials (unbeaten, sorted by bytes) the last, least-error one of every byte range,
// the ranges cutting their span of bytes into maxPartials.
void thinOut(std::vector<Partial>& partials, int32_t maxPartials)
{
    if (partials.size() <= static_cast<size_t>(maxPartials))
        return;
    const int64_t first = partials.front().bytes;
    const int64_t rangeBytes = (partials.back().bytes - first) / maxPartials + 1;
    std::vector<Partial> kept;
    for (size_t i = 0; i < partials.size(); ++i) {
        const bool lastOfRange =
            i + 1 == partials.size() || (partials[i + 1].bytes - first) / rangeBytes != (partials[i].bytes - first) / rangeBytes;
        if (lastOfRange)
            kept.push_back(partials[i]);
    }
    partials.swap(kept);
}


// Returns the levels of one group on the lower convex hull of (bytes, error), fewest bytes
// first: the levels a Lagrangian choice can take, in the order it takes them.
std::vector<int32_t> lowerHull(const std::vector<LevelCost>& levels)
{
    std::vector<int32_t> order(levels.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const LevelCost& x = levels[static_cast<size_t>(a)];
        const LevelCost& y = levels[static_cast<size_t>(b)];
        return x.bytes != y.bytes ? x.bytes < y.bytes : x.squaredError < y.squaredError;
    });
    std::vector<int32_t> hull;
    for (int32_t level : order) {
        const LevelCost& c = levels[static_cast<size_t>(level)];
        if (!hull.empty() && c.squaredError >= levels[static_cast<size_t>(hull.back())].squaredError)
            continue; // more bytes for no less error
        while (hull.size() >= 2) {
            const LevelCost& a = levels[static_cast<size_t>(hull[hull.size() - 2])];
            const LevelCost& b = levels[static_cast<size_t>(hull.back())];
            const double cross = static_cast<double>(b.bytes - a.bytes) * (c.squaredError - a.squaredError) -
                                 (b.squaredError - a.squaredError) * static_cast<double>(c.bytes - a.bytes);
            if (cross > 0)
                break;
            hull.pop_back(); // b lies on or above the line from a to c
        }
        hull.push_back(level);
    }
    return hull;
}

// Improves choice (within the budget) in two steps. First the Lagrangian one: every group climbs
// its hull, the steps that remove the most error per byte first, until the first step that does
// not fit. Then the bytes left over go, one change at a time, to the level of any group that fits
// them and lowers the error most.
void spendLagrangian(std::span<const std::vector<LevelCost>> costs, int64_t budgetBytes, LevelChoice& choice)
{
    struct Step {
        double errorPerByte = 0;
        size_t group = 0, toIndex = 0;
        bool operator<(const Step& other) const { return errorPerByte < other.errorPerByte; }
    };
    const auto cost = [&](size_t g, int32_t level) -> const LevelCost& { return costs[g][static_cast<size_t>(level)]; };
    const auto change = [&](size_t g, int32_t level) {
        choice.bytes += cost(g, level).bytes - cost(g, choice.levels[g]).bytes;
        choice.squaredError += cost(g, level).squaredError - cost(g, choice.levels[g]).squaredError;
        choice.levels[g] = level;
    };
    std::vector<std::vector<int32_t>> hulls;
    std::priority_queue<Step> steps;
    const auto pushStep = [&](size_t g, size_t toIndex) {
        if (toIndex >= hulls[g].size())
            return;
        const LevelCost& from = cost(g, hulls[g][toIndex - 1]);
        const LevelCost& to = cost(g, hulls[g][toIndex]);
        steps.push({(from.squaredError - to.squaredError) / static_cast<double>(to.bytes - from.bytes), g, toIndex});
    };
    for (size_t g = 0; g < costs.size(); ++g) {
        hulls.push_back(lowerHull(costs[g]));
        change(g, hulls[g].front());
        pushStep(g, 1);
    }
    while (!steps.empty()) {
        const Step step = steps.top();
        const int32_t level = hulls[step.group][step.toIndex];
        if (cost(step.group, level).bytes - cost(step.group, choice.levels[step.group]).bytes > budgetBytes - choice.bytes)
            break;
        steps.pop();
        change(step.group, level);
        pushStep(step.group, step.toIndex + 1);
    }
    for (;;) {
        double bestGain = 0;
        size_t bestGroup = 0;
        int32_t bestLevel = -1;
        for (size_t g = 0; g < costs.size(); ++g) {
            const LevelCost& now = cost(g, choice.levels[g]);
            for (size_t l = 0; l < costs[g].size(); ++l) {
                const double gain = now.squaredError - costs[g][l].squaredError;
                if (gain > bestGain && costs[g][l].bytes - now.bytes <= budgetBytes - choice.bytes) {
                    bestGain = gain;
                    bestGroup = g;
                    bestLevel = static_cast<int32_t>(l);
                }
            }
        }
        if (bestLevel < 0)
            break;
        change(bestGroup, bestLevel);
    }
}

} // namespace

LevelChoice chooseLevels(std::span<const std::vector<LevelCost>> costs, int64_t budgetBytes, int32_t maxPartials)
{
    LevelChoice choice;
    const size_t groups = costs.size();
    // The smallest level of each group, and the bytes the smallest levels of the groups from g on need.
    std::vector<int64_t> smallestAfter(groups + 1, 0);
    choice.levels.resize(groups);
    for (size_t g = groups; g-- > 0;) {
        assert(!costs[g].empty());
        const auto smallest = std::min_element(costs[g].begin(), costs[g].end(), [](const LevelCost& a, const LevelCost& b) {
            return a.bytes != b.bytes ? a.bytes < b.bytes : a.squaredError < b.squaredError;
        });
        choice.levels[g] = static_cast<int32_t>(smallest - costs[g].begin());
        smallestAfter[g] = smallestAfter[g + 1] + smallest->bytes;
        choice.squaredError += smallest->squaredError;
    }
    choice.bytes = smallestAfter[0];
    if (choice.bytes > budgetBytes)
        return choice;

    std::vector<std::vector<Partial>> stages(groups + 1);
    stages[0].push_back({});
    for (size_t g = 0; g < groups; ++g) {
        std::vector<Partial>& next = stages[g + 1];
        const std::vector<Partial>& now = stages[g];
        for (size_t p = 0; p < now.size(); ++p) {
            for (size_t l = 0; l < costs[g].size(); ++l) {
                const Partial candidate{now[p].bytes + costs[g][l].bytes, now[p].squaredError + costs[g][l].squaredError,
                                        static_cast<int32_t>(p), static_cast<int32_t>(l)};
                if (candidate.bytes + smallestAfter[g + 1] <= budgetBytes)
                    next.push_back(candidate);
            }
        }
        std::sort(next.begin(), next.end(), [](const Partial& a, const Partial& b) {
            return a.bytes != b.bytes ? a.bytes < b.bytes : a.squaredError < b.squaredError;
        });
        keepUnbeaten(next);
        thinOut(next, maxPartials);
    }
    choice.fits = true;
    LevelChoice lagrangian = choice;
    spendLagrangian(costs, budgetBytes, lagrangian);
    // The last partial has the most bytes and, being unbeaten, the least error.
    int32_t index = static_cast<int32_t>(stages[groups].size()) - 1;
    if (lagrangian.squaredError < stages[groups][static_cast<size_t>(index)].squaredError)
        return lagrangian;
    choice.bytes = stages[groups][static_cast<size_t>(index)].bytes;
    choice.squaredError = stages[groups][static_cast<size_t>(index)].squaredError;
    for (size_t g = groups; g > 0; --g) {
        const Partial& p = stages[g][static_cast<size_t>(index)];
        choice.levels[g - 1] = p.level;
        index = p.previous;
    }
    return choice;
}

} // namespace engine
