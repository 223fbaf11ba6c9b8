#include "engine/exact_size.h"

#include "core/messages.h"
#include "engine/command_steps.h"
#include "engine/planner.h"
#include "engine/scene_smoother.h"
#include "engine/sound.h"
#include "video/avi_layout.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <limits>
#include <utility>
#include <vector>

namespace engine {

namespace {

// Counts the Final AVI of a prepared state, with the sound when one is given.
FinalSize countFinal(const core::JobSettings& settings, const core::AnalysisState& state,
                     const detail::FinalSources& sources, const video::AviWriterOptions& writerOptions,
                     const media::SoundFile* sound)
{
    std::optional<video::AudioTrack> track;
    if (sound != nullptr)
        track = finalTrack(*sound, detail::finalFrameCount(state, settings.framePos, sources),
                           sources.fastMotion->info);
    // The Final AVI takes the FM stream's information as the file gives it and a 40-byte format.
    video::avi_layout::SizeCounter counter(sources.fastMotion->info, core::kBitmapInfoHeaderBytes,
                                           writerOptions, track ? &*track : nullptr);
    FinalSize size;
    detail::forEachFinalFrame(
        state, settings.framePos, sources,
        [&](int32_t, const output::GroupFrames&, const SourceTable& table, int32_t index) {
            const int32_t bytes = table.frames[index].size;
            counter.addSample(static_cast<uint32_t>(bytes));
            size.plannedSampleBytes += bytes;
            ++size.frames;
        });
    size.fileBytes = counter.fileBytes();
    size.audioReserveBytes =
        track ? soundBytes(*track, writerOptions)
              : audioReserveBytes(settings, state.totalFrames, state.keyframeDistance, state.groupSeconds);
    return size;
}

// The groups planned low at one limit, as a bit set that finds where a run of equal states ends a
// word at a time, so the smoother costs one step per run rather than per group.
class LowGroups {
public:
    explicit LowGroups(int64_t count) : m_words(static_cast<size_t>(count / 64 + 2), 0) {}

    void set(int64_t g) { m_words[static_cast<size_t>(g >> 6)] |= uint64_t{1} << (g & 63); }
    bool test(int64_t g) const { return ((m_words[static_cast<size_t>(g >> 6)] >> (g & 63)) & 1) != 0; }

    // Returns the first group after k, limit at most, whose state differs from group k's.
    int64_t runEnd(int64_t k, int64_t limit) const
    {
        const uint64_t differs = test(k) ? ~uint64_t{0} : 0;
        const int64_t from = k + 1;
        auto word = static_cast<size_t>(from >> 6);
        uint64_t bits = (m_words[word] ^ differs) & (~uint64_t{0} << (from & 63));
        while (bits == 0) {
            ++word;
            if (word >= m_words.size() || static_cast<int64_t>(word) * 64 >= limit)
                return limit;
            bits = m_words[word] ^ differs;
        }
        return std::min<int64_t>(static_cast<int64_t>(word) * 64 + std::countr_zero(bits), limit);
    }

private:
    std::vector<uint64_t> m_words;
};

// Returns the sample bytes group g copies when its choice is choice.
int64_t groupBytes(core::GroupChoice choice, int32_t g, const core::AnalysisState& state, int32_t framePos,
                   const detail::FinalSources& sources)
{
    int64_t bytes = 0;
    const output::GroupFrames frames =
        output::groupFrames(choice, static_cast<int64_t>(g) * state.keyframeDistance, framePos);
    detail::forEachGroupFrame(
        frames, state.keyframeDistance, sources,
        [&](const SourceTable& table, int32_t index) { bytes += table.frames[index].size; });
    return bytes;
}

} // namespace

int64_t plannedFileBytes(const output::SourcePlan& plan, std::span<const SourceTable* const> tables,
                         const video::AudioTrack* track, const video::AviWriterOptions& writerOptions,
                         int64_t* frames)
{
    const SourceTable* header = tables[static_cast<size_t>(plan.streamSource)];
    video::avi_layout::SizeCounter counter(header->info, core::kBitmapInfoHeaderBytes, writerOptions, track);
    int64_t counted = 0;
    for (const output::PlannedGroup& group : plan.groups) {
        const SourceTable* table = static_cast<size_t>(group.source) < tables.size()
                                       ? tables[static_cast<size_t>(group.source)]
                                       : nullptr;
        if (table == nullptr)
            continue;
        const int64_t end = std::min<int64_t>(group.firstIndex + plan.framesPerGroup, table->frames.count());
        for (int64_t index = std::max<int64_t>(group.firstIndex, 0); index < end; ++index, ++counted)
            counter.addSample(static_cast<uint32_t>(table->frames[static_cast<int32_t>(index)].size));
    }
    if (frames != nullptr)
        *frames = counted;
    return counter.fileBytes();
}

std::optional<FinalSize> predictFinalSize(const core::JobSettings& settings, SourceTables& sources,
                                          core::UiPort& ui, const video::AviWriterOptions& writerOptions)
{
    core::AnalysisState state;
    const std::optional<detail::FinalSources> tables = detail::prepareFinal(settings, state, sources, ui);
    if (!tables)
        return std::nullopt;
    media::SoundFile* sound = nullptr;
    if (!settings.audioFilePath.empty() && !(sound = sources.sound(settings.audioFilePath, ui)))
        return std::nullopt;
    return countFinal(settings, state, *tables, writerOptions, sound);
}

FitResult fitLimit(const core::JobSettings& settings, SourceTables& sources, core::UiPort& ui,
                   const video::AviWriterOptions& writerOptions)
{
    FitResult result;
    core::AnalysisState state;
    PlanMeasures measures;
    const std::optional<detail::FinalSources> tables =
        detail::prepareFinal(settings, state, sources, ui, &measures);
    if (!tables)
        return result;
    media::SoundFile* sound = nullptr;
    if (!settings.audioFilePath.empty() && !(sound = sources.sound(settings.audioFilePath, ui)))
        return result;

    // A plan's sample bytes: every group from FM (ending groups from the Ending AVI), less what
    // each low group saves. Group g is planned low exactly for limits from its largest window
    // Kbps + 1 on, so only those limits (and 0) can give a new plan.
    const int32_t groups = state.planTable.count();
    int64_t allHighBytes = 0;
    std::vector<int64_t> savedBefore(static_cast<size_t>(groups) + 1, 0); // prefix sums of the savings
    std::vector<std::pair<int64_t, int32_t>> lowFrom;                     // (first limit planning g low, g)
    for (int32_t g = 0; g < groups; ++g) {
        int64_t saved = 0;
        if (state.planTable[g].choice == core::GroupChoice::Ending) {
            allHighBytes += groupBytes(core::GroupChoice::Ending, g, state, settings.framePos, *tables);
        } else {
            const int64_t high = groupBytes(core::GroupChoice::High, g, state, settings.framePos, *tables);
            allHighBytes += high;
            saved = high - groupBytes(core::GroupChoice::Low, g, state, settings.framePos, *tables);
            lowFrom.emplace_back(std::max<int64_t>(measures.groupPeakKbps(g) + 1, 0), g);
        }
        savedBefore[static_cast<size_t>(g) + 1] = savedBefore[static_cast<size_t>(g)] + saved;
    }
    std::sort(lowFrom.begin(), lowFrom.end());

    const bool smoother = detail::smootherRuns(settings, state.groupSeconds);
    const int64_t distance = state.keyframeDistance;
    const int64_t groupsFm = (static_cast<int64_t>(state.fastMotionInfo.dwLength) + distance - 1) / distance;
    // A sound counts with its real bytes, cut to the film as the film has frames; the reserve
    // stands in for it otherwise.
    const int64_t audioBytes =
        sound ? soundBytes(finalTrack(*sound, state.totalFrames, tables->fastMotion->info), writerOptions)
              : audioReserveBytes(settings, state.totalFrames, state.keyframeDistance, state.groupSeconds);
    const int64_t budget = targetBytes(settings) - audioBytes;

    LowGroups low(groups);
    int64_t lowSaved = 0;
    bool found = false;
    int64_t bestBytes = 0;
    int64_t bestLimit = 0;
    int64_t lastBytes = 0;
    size_t next = 0;
    for (int64_t limit = 0;;) {
        for (; next < lowFrom.size() && lowFrom[next].first <= limit; ++next) {
            low.set(lowFrom[next].second);
            lowSaved += savedBefore[static_cast<size_t>(lowFrom[next].second) + 1] -
                        savedBefore[static_cast<size_t>(lowFrom[next].second)];
        }
        int64_t smoothedBack = 0; // savings the smoother gives back by switching low runs to FM
        if (smoother)
            detail::smoothSceneSwitches(
                groups, groupsFm, settings, [&](int64_t g) { return low.test(g); },
                [&](int64_t k, int64_t end) { return low.runEnd(k, end); },
                [&](int64_t first, int64_t count) {
                    smoothedBack += savedBefore[static_cast<size_t>(first + count)] -
                                    savedBefore[static_cast<size_t>(first)];
                });
        lastBytes = allHighBytes - lowSaved + smoothedBack;
        if (lastBytes <= budget && (!found || lastBytes > bestBytes)) {
            found = true;
            bestBytes = lastBytes;
            bestLimit = limit;
        }
        // The limit is a 32-bit setting: groups planned low only beyond it stay high.
        if (next == lowFrom.size() || lowFrom[next].first > std::numeric_limits<int32_t>::max())
            break;
        limit = lowFrom[next].first;
    }

    if (!found) {
        result.status = FitStatus::NothingFits;
        result.neededBytes = lastBytes + audioBytes;
        result.availableBytes = targetBytes(settings);
        ui.showMessage(core::messages::nothingFits(result.neededBytes, result.availableBytes, ui.numbers()));
        return result;
    }
    core::JobSettings fitted = settings;
    fitted.highBitrateLimit = static_cast<int32_t>(bestLimit);
    (void)plan(state.fastMotionInfo, state.keyframeDistance, state.totalFrames, state.groupSeconds,
               state.fastMotionFrames, state.planTable, false, 0, fitted); // the plan table is what counts
    result.status = FitStatus::Fitted;
    result.limit = fitted.highBitrateLimit;
    result.size = countFinal(fitted, state, *tables, writerOptions, sound);
    assert(result.size.plannedSampleBytes == bestBytes);
    return result;
}

} // namespace engine
