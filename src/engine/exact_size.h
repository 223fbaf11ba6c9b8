#pragma once

#include "core/job.h"
#include "core/user_interface_port.h"
#include "engine/source_tables.h"
#include "output/final_avi.h"
#include "video/avi_writer.h"

#include <cstdint>
#include <optional>
#include <span>

namespace engine {

// The Final AVI Create would write, counted before it exists.
struct FinalSize {
    int64_t fileBytes = 0;          // the file's size
    int64_t plannedSampleBytes = 0; // its sample bytes, the size Create reports
    int64_t audioReserveBytes = 0;  // what the audio reserve adds to the film, as the estimate counts it;
                                    // with a sound file, the bytes the sound adds (engine::soundBytes)
    int32_t frames = 0;
};

// Counts the Final AVI Create would write with settings and writerOptions, from the tables
// sources hands out: Create's own steps and plan, the frames output::writeFinalAvi copies and the
// writer's layout, so the count equals the written file to the byte. Returns nothing where Create
// would end, after Create's messages to ui (a QuietUiPort keeps them from a person).
std::optional<FinalSize> predictFinalSize(const core::JobSettings& settings, SourceTables& sources,
                                          core::UiPort& ui,
                                          const video::AviWriterOptions& writerOptions = {});

// Counts the Final AVI output::writeFinalAvi writes for plan over the sources whose tables are
// given (in the plan's source order; a null one gives no frames) with the sound track (none when
// null): the stream source's information, a 40-byte format, every planned frame and the writer's
// layout, to the byte. frames receives the frame count when given.
int64_t plannedFileBytes(const output::SourcePlan& plan, std::span<const SourceTable* const> tables,
                         const video::AudioTrack* track, const video::AviWriterOptions& writerOptions = {},
                         int64_t* frames = nullptr);

enum class FitStatus {
    Fitted,      // limit and size hold the best limit
    NothingFits, // even the plan with the most Low Motion groups is too large
    Ended,       // Create would end with a message
};

struct FitResult {
    FitStatus status = FitStatus::Ended;
    int32_t limit = 0;          // Fitted: the High Bitrate Limit in Kbps
    FinalSize size;             // Fitted: the Final AVI at that limit
    int64_t neededBytes = 0;    // NothingFits: the most Low Motion plan's sample bytes plus the audio reserve
    int64_t availableBytes = 0; // NothingFits: the target's bytes
};

// Finds the High Bitrate Limit whose plan, counted with the sources' real sample sizes, comes
// closest to the target without passing it: planned sample bytes plus the audio reserve (with a
// sound file, the bytes the sound adds) at most
// targetBytes(settings). Every limit from 0 to one above the film's largest measured Kbps is
// weighed (a group changes source only where the limit passes its largest window), the smoother
// included; of equal totals the lowest limit wins. Shows "Even all Low Motion groups need ..."
// when no limit fits and Create's messages where Create would end. Changes no setting.
FitResult fitLimit(const core::JobSettings& settings, SourceTables& sources, core::UiPort& ui,
                   const video::AviWriterOptions& writerOptions = {});

} // namespace engine
