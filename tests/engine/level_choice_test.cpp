#include "engine/level_choice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using Costs = std::vector<std::vector<engine::LevelCost>>;

// Groups whose levels behave like encodes at rising quantizers: fewer bytes, more error, with
// each group's own difficulty and some unevenness, so hulls are not all alike.
Costs encodeLikeCosts(std::mt19937& random, size_t groups, size_t levels)
{
    std::uniform_real_distribution<double> difficulty(0.2, 5.0), unevenness(0.8, 1.25);
    Costs costs(groups);
    for (auto& group : costs) {
        const double d = difficulty(random);
        for (size_t l = 0; l < levels; ++l) {
            const double q = 2.0 + 3.0 * static_cast<double>(l);
            group.push_back({static_cast<int64_t>(d * 40000 / q * unevenness(random)), d * q * q * 1e4 * unevenness(random)});
        }
    }
    return costs;
}

// The best choice within budget by trying every combination; the error of the all-smallest choice
// when nothing fits.
double bruteForceError(const Costs& costs, int64_t budget)
{
    double best = INFINITY;
    std::vector<size_t> levels(costs.size(), 0);
    for (;;) {
        int64_t bytes = 0;
        double error = 0;
        for (size_t g = 0; g < costs.size(); ++g) {
            bytes += costs[g][levels[g]].bytes;
            error += costs[g][levels[g]].squaredError;
        }
        if (bytes <= budget)
            best = std::min(best, error);
        size_t g = 0;
        while (g < costs.size() && ++levels[g] == costs[g].size())
            levels[g++] = 0;
        if (g == costs.size())
            return best;
    }
}

TEST(LevelChoice, StaysWithinTheBudgetAndNearTheBestCombination)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 60; ++round) {
        const Costs costs = encodeLikeCosts(random, 5, 4);
        int64_t smallest = 0, largest = 0;
        for (const auto& group : costs) {
            smallest += group.back().bytes;
            largest += group.front().bytes;
        }
        const int64_t budget = smallest + (largest - smallest) * (round % 10) / 9;
        SCOPED_TRACE("round " + std::to_string(round) + ", budget " + std::to_string(budget));
        const engine::LevelChoice choice = engine::chooseLevels(costs, budget);
        ASSERT_TRUE(choice.fits);
        ASSERT_LE(choice.bytes, budget);
        int64_t bytes = 0;
        double error = 0;
        for (size_t g = 0; g < costs.size(); ++g) {
            bytes += costs[g][static_cast<size_t>(choice.levels[g])].bytes;
            error += costs[g][static_cast<size_t>(choice.levels[g])].squaredError;
        }
        EXPECT_EQ(bytes, choice.bytes);
        EXPECT_NEAR(error, choice.squaredError, error * 1e-9);
        // Within 0.1 dB of the best: the error at most 10^0.01 times the least error.
        EXPECT_LE(10 * std::log10(error / bruteForceError(costs, budget)), 0.1);
    }
    // A longer film: the default search stays within the budget and within 0.01 dB of a far wider one.
    const Costs film = encodeLikeCosts(random, 100, 8);
    const int64_t budget = 100 * 20000;
    const engine::LevelChoice usual = engine::chooseLevels(film, budget), wide = engine::chooseLevels(film, budget, 4096);
    EXPECT_LE(usual.bytes, budget);
    EXPECT_LE(10 * std::log10(usual.squaredError / wide.squaredError), 0.01);
}

TEST(LevelChoice, TakesTheSmallestLevelsWhenNothingFitsAndTheBestWhenAllFit)
{
    const Costs costs = {{{100, 1.0}, {60, 4.0}, {50, 9.0}, {70, 20.0}}, {{80, 2.0}, {40, 3.0}}};
    const engine::LevelChoice none = engine::chooseLevels(costs, 89);
    EXPECT_FALSE(none.fits);
    EXPECT_EQ(none.levels, (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(none.bytes, 90);
    const engine::LevelChoice tight = engine::chooseLevels(costs, 90);
    EXPECT_TRUE(tight.fits);
    EXPECT_EQ(tight.levels, (std::vector<int32_t>{2, 1}));
    // 110 bytes: 60 + 40 (error 7) beats 50 + 40 (error 12) and 50 + 80 does not fit.
    EXPECT_EQ(engine::chooseLevels(costs, 110).levels, (std::vector<int32_t>{1, 1}));
    // 140 bytes: 100 + 40 (error 4) beats 60 + 80 (error 6).
    EXPECT_EQ(engine::chooseLevels(costs, 140).levels, (std::vector<int32_t>{0, 1}));
    const engine::LevelChoice all = engine::chooseLevels(costs, 1000);
    EXPECT_EQ(all.levels, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(all.squaredError, 3.0);
}

} // namespace
