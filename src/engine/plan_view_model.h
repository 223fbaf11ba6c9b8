#pragma once

#include "core/frame_table.h"
#include "core/job.h"
#include "core/number_format.h"
#include "engine/planner.h"
#include "output/final_avi.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// A run of neighbouring keyframe groups with one choice: groups [firstGroup, endGroup), film
// frames [firstFrame, endFrame).
struct PlanBand {
    int32_t firstGroup = 0;
    int32_t endGroup = 0;
    int64_t firstFrame = 0;
    int64_t endFrame = 0;
    core::GroupChoice choice = core::GroupChoice::Low;
    int32_t source = -1; // a plan over named sources: the band's source; -1 in the described plan
    bool operator==(const PlanBand&) const = default;
};

// One pixel column of the downscaled measures: the largest and the smallest Kbps of the measured
// windows it covers, -1 in both when it covers none.
struct PlanColumn {
    int64_t maxKbps = -1;
    int64_t minKbps = -1;
};

// The visible part of the film's time axis: frames [firstFrame, endFrame).
struct PlanTimeRange {
    double firstFrame = 0;
    double endFrame = 0;
    double span() const { return endFrame - firstFrame; }
    bool operator==(const PlanTimeRange&) const = default;
};

// Maps Kbps to the rows of a plot plotHeight rows high whose row 0 stands for topKbps and whose
// row plotHeight for 0 Kbps; grid lines go every stepKbps.
struct KbpsScale {
    int32_t plotHeight = 1;
    int64_t topKbps = 1;
    int64_t stepKbps = 1;
    // Returns the row of kbps, clamped to [0, plotHeight]; a larger bitrate never gets a lower row.
    int32_t rowOf(int64_t kbps) const;
    // Returns the whole Kbps a pointer on row stands for, clamped to [0, topKbps]; rowOf of it is
    // row again wherever a row spans at least one Kbps.
    int64_t kbpsAt(int32_t row) const;
};

// What the pointer is over at one film frame.
struct PlanHover {
    int64_t frame = 0;
    double seconds = 0;
    int32_t group = 0;
    core::GroupChoice choice = core::GroupChoice::Low;
    int64_t groupBytes = 0;
    int64_t windowKbps = -1; // -1: the planner measures no window there
    int32_t source = -1;     // a plan over named sources: the group's source
};

// The frame at which the Ending AVI takes over or the film stops.
struct PlanMark {
    enum class Kind { Ending, Stop };
    Kind kind = Kind::Ending;
    int64_t frame = 0;
};

// What the plan view shows of a job: the planner's per-second measures and its choice for every
// keyframe group, the limit, the estimate, and where the ending or the stop is. Both come from
// one planner call, the one the estimate refresh makes, so the picture is the decision. An
// empty model (no analysed job) has no groups.
class PlanViewModel {
public:
    // Plans the job as the estimate refresh does and keeps what the view shows; exactFinalBytes is
    // the Final AVI's size when it is known. Empty when the job is not analysed.
    static PlanViewModel fromJob(const core::Job& job, std::optional<int64_t> exactFinalBytes = std::nullopt);
    // Shows a plan over named sources (make's levels): one band for every run of groups from one
    // source, sourceNames[source] naming it, groupBytes[g] the bytes group g adds; no measures,
    // limit or estimate. Empty when the plan has no groups.
    static PlanViewModel fromSourcePlan(const output::SourcePlan& plan, std::vector<std::string> sourceNames,
                                        const std::vector<int64_t>& groupBytes, int64_t frameCount,
                                        double framesPerSecond,
                                        std::optional<int64_t> exactFinalBytes = std::nullopt);
    // The names of a plan over named sources, by source index; empty for the described plan.
    const std::vector<std::string>& sourceNames() const { return m_sourceNames; }

    bool empty() const { return m_plan.count() == 0; }
    const PlanMeasures& measures() const { return m_measures; }
    const core::PlanTable& plan() const { return m_plan; }
    const std::vector<PlanBand>& bands() const { return m_bands; }
    int32_t limitKbps() const { return m_limitKbps; }
    int64_t estimateKbps() const { return m_estimateKbps; } // -1: none
    std::optional<int64_t> exactFinalBytes() const { return m_exactFinalBytes; }
    std::optional<PlanMark> mark() const { return m_mark; }
    int64_t frameCount() const { return m_frameCount; }
    double framesPerSecond() const { return m_framesPerSecond; }
    // Returns the largest measured Kbps of the film, 0 when nothing is measured.
    int64_t peakKbps() const { return m_peakKbps; }

    // Returns the first film frame of window w.
    int64_t windowStartFrame(size_t w) const;
    // Returns the measures of the windows in range downscaled to columns pixel columns of equal
    // width: every measured window that reaches into the range counts in each column it touches,
    // so the largest window of the range is the largest column.
    std::vector<PlanColumn> downscale(const PlanTimeRange& range, int32_t columns) const;
    // Returns the scale for a plot plotHeight rows high: the film's peak fits below its top, which
    // lies on a round grid step. A limit or estimate above the top is the view's to mark.
    KbpsScale kbpsScale(int32_t plotHeight) const;
    // Returns what lies at film frame frame, nothing outside the film.
    std::optional<PlanHover> hoverAt(int64_t frame) const;
    // Returns the film frames taken from each source, indexed by GroupChoice.
    std::array<int64_t, 4> framesByChoice() const;

    // Returns the whole film as a time range.
    PlanTimeRange wholeFilm() const;
    // Returns range moved and shrunk to lie inside the film and span at least ten windows.
    PlanTimeRange clamped(PlanTimeRange range) const;
    // Returns range scaled by factor (below 1 zooms in) around frame, which keeps its place on the
    // axis, then clamped.
    PlanTimeRange zoomed(const PlanTimeRange& range, double frame, double factor) const;
    // Returns range moved by frames (negative: toward the start), then clamped.
    PlanTimeRange scrolled(const PlanTimeRange& range, double frames) const;

private:
    PlanMeasures m_measures;
    core::PlanTable m_plan;
    std::vector<PlanBand> m_bands;
    int32_t m_keyframeDistance = 0;
    int32_t m_limitKbps = 0;
    int64_t m_estimateKbps = -1;
    std::optional<int64_t> m_exactFinalBytes;
    std::optional<PlanMark> m_mark;
    int64_t m_frameCount = 0;
    double m_framesPerSecond = 1;
    int64_t m_peakKbps = 0;
    std::vector<std::string> m_sourceNames;
};

// Returns the name of a group's source as the plan view shows it: "Low Motion", "Fast Motion",
// "Fast Motion (smoother)", "Ending AVI".
std::string choiceName(core::GroupChoice choice);
// Returns seconds of film time as hh:mm:ss (whole seconds, rounded down).
std::string formatFilmTime(double seconds);
// Returns the pointer's tooltip: time and frame, group and choice, group bytes, measured Kbps.
std::string hoverText(const PlanHover& hover, const core::NumberFormat& numbers = core::plainNumbers());
// Returns the summary line: seconds and share from each source, the estimate, the exact Final
// size when known.
std::string summaryText(const PlanViewModel& model, const core::NumberFormat& numbers = core::plainNumbers());
// Returns the caption of the ending or stop mark.
std::string markText(const PlanMark& mark, const core::NumberFormat& numbers = core::plainNumbers());

} // namespace engine
