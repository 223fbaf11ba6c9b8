#pragma once

#include "core/job.h"
#include "core/stream_info.h"
#include "core/user_interface_port.h"
#include "engine/planner.h"
#include "engine/source_tables.h"
#include "output/final_avi.h"
#include "video/source.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

namespace engine::detail {

// Returns a stream's frame count as the job's 32-bit counts hold it (at most INT32_MAX).
int32_t frameCountOf(uint32_t frames);

// Opens the Ending AVI at path into slot, reads its stream information into info and adds up
// its sample sizes into endingBytes, which starts at 0 once the file is open and its format
// accepted. Shows the opening messages or "ERROR DURING STREAM-READ!!!" and returns false on
// failure; endingBytes then holds the sum up to the failing sample. The slot stays filled for
// the caller to close.
bool measureEnding(std::optional<video::Source>& slot, const std::string& path, core::AviStreamInfo& info,
                   int64_t& endingBytes, core::UiPort& ui);

// Returns the whole seconds per keyframe group of the FM stream: keyframeDistance / (rate /
// scale), both divisions truncating. Shows a message and returns nothing when the rate is below
// one frame per second (or the scale 0), or when a group is shorter than one second: such a
// film has no one-second window to measure.
std::optional<int32_t> groupSecondsOf(const core::AviStreamInfo& fastMotionInfo, int32_t keyframeDistance,
                                      core::UiPort& ui);

// Judges a key-frame layout result: a break (not -1) below framePos with the ending off shows
// "Keyframe inconcistency at <frame>" and returns true, ending the command. With the ending in
// use, or from framePos on, groups never mix sources, so such a break does no harm.
bool layoutBreakEndsCommand(int32_t breakingFrame, const core::JobSettings& settings, core::UiPort& ui);

// The tables of the sources a Final AVI is built from; ending is set when the ending is on.
struct FinalSources {
    const SourceTable* fastMotion = nullptr;
    const SourceTable* lowMotion = nullptr;
    const SourceTable* ending = nullptr;
};

// Runs Create's steps before the copy on the tables sources hands out: opens FM and LM, asks
// about different frame counts, checks the lengths for the mode (opening the Ending AVI), takes
// both frame tables, compares the keyframe distances, checks the key-frame layout, derives
// groupSeconds and plans without the estimate (filling measures when given). Stores what Create
// keeps in state. Shows Create's messages and returns nothing where Create ends, so Create, the
// exact size, Fit and verify always see the same plan.
std::optional<FinalSources> prepareFinal(const core::JobSettings& settings, core::AnalysisState& state,
                                         SourceTables& sources, core::UiPort& ui,
                                         PlanMeasures* measures = nullptr);

// Returns the table a group's frames come from, or nullptr (an ending group without Ending AVI).
inline const SourceTable* tableOf(output::FrameSource source, const FinalSources& sources)
{
    const SourceTable* const tables[] = {sources.lowMotion, sources.fastMotion, sources.ending};
    return tables[static_cast<size_t>(source)];
}

// Calls visit(table, index) for every frame of one group the Final AVI takes from where frames
// says, as output::writeFinalAvi copies them: positions the source lacks are skipped.
template <typename Visit>
void forEachGroupFrame(const output::GroupFrames& frames, int32_t distance, const FinalSources& sources,
                       Visit&& visit)
{
    const SourceTable* table = tableOf(frames.source, sources);
    if (table == nullptr)
        return; // an ending group without Ending AVI: Create reports its frames missing
    const int64_t first = std::max<int64_t>(frames.firstIndex, 0);
    const int64_t end = std::min<int64_t>(frames.firstIndex + distance, table->frames.count());
    for (int64_t index = first; index < end; ++index)
        visit(*table, static_cast<int32_t>(index));
}

// Calls visit(group, frames, table, index) for every frame the Final AVI of a prepared state
// holds, in file order.
template <typename Visit>
void forEachFinalFrame(const core::AnalysisState& state, int32_t framePos, const FinalSources& sources,
                       Visit&& visit)
{
    const int32_t distance = state.keyframeDistance;
    for (int32_t g = 0; g < state.planTable.count(); ++g) {
        const output::GroupFrames frames =
            output::groupFrames(state.planTable[g].choice, static_cast<int64_t>(g) * distance, framePos);
        forEachGroupFrame(frames, distance, sources,
                          [&](const SourceTable& table, int32_t index) { visit(g, frames, table, index); });
    }
}

// Returns the number of frames the Final AVI of a prepared state holds.
inline int64_t finalFrameCount(const core::AnalysisState& state, int32_t framePos,
                               const FinalSources& sources)
{
    int64_t frames = 0;
    forEachFinalFrame(state, framePos, sources,
                      [&](int32_t, const output::GroupFrames&, const SourceTable&, int32_t) { ++frames; });
    return frames;
}

} // namespace engine::detail
