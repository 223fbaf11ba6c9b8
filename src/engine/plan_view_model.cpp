#include "engine/plan_view_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace engine {

namespace {

// The view never zooms in further than this many windows, so bars stay wider than a few pixels.
constexpr double kMinWindowsVisible = 10;
// The scale's top stays this far above the highest line, so a peak never touches the frame.
constexpr double kHeadroom = 1.08;
// Grid lines per plot, at most; the step is the smallest round number that keeps to it.
constexpr double kMaxGridLines = 5;
// An unmeasured film still gets an axis of this many Kbps.
constexpr int64_t kSmallestTopKbps = 100;

// Returns the smallest of 1, 2, 2.5, 5 times a power of ten (whole Kbps) that is at least value.
int64_t roundStep(double value)
{
    for (int64_t power = 1;; power *= 10) {
        // 2.5 steps only from 25 on, as a step is a whole number of Kbps.
        for (const int64_t step : {power, 2 * power, power >= 10 ? power * 5 / 2 : 0, 5 * power}) {
            if (step >= 1 && static_cast<double>(step) >= value)
                return step;
        }
    }
}

std::string percentOf(int64_t part, int64_t whole)
{
    return std::to_string(whole > 0 ? (part * 100 + whole / 2) / whole : 0) + "%";
}

} // namespace

int32_t KbpsScale::rowOf(int64_t kbps) const
{
    const int64_t height = std::max(plotHeight, 1);
    const int64_t top = std::max<int64_t>(topKbps, 1);
    const int64_t clamped = std::clamp<int64_t>(kbps, 0, top);
    return static_cast<int32_t>(height - (clamped * height + top / 2) / top);
}

int64_t KbpsScale::kbpsAt(int32_t row) const
{
    const int64_t height = std::max(plotHeight, 1);
    const int64_t top = std::max<int64_t>(topKbps, 1);
    const int64_t clamped = std::clamp<int64_t>(row, 0, height);
    return ((height - clamped) * top + height / 2) / height;
}

PlanViewModel PlanViewModel::fromJob(const core::Job& job, std::optional<int64_t> exactFinalBytes)
{
    const core::AnalysisState& state = job.state;
    const core::JobSettings& settings = job.settings;
    PlanViewModel model;
    if (!state.analysed)
        return model;
    // The same call as the estimate refresh's, so the measures are those the choices came from.
    model.m_estimateKbps = engine::plan(state.fastMotionInfo, state.keyframeDistance, state.totalFrames,
                                        state.groupSeconds, state.fastMotionFrames, model.m_plan, true,
                                        state.endingBytes, settings, &model.m_measures);
    if (model.m_plan.count() == 0)
        return {};
    model.m_keyframeDistance = state.keyframeDistance;
    model.m_limitKbps = settings.highBitrateLimit;
    model.m_exactFinalBytes = exactFinalBytes;
    model.m_frameCount = std::max(state.totalFrames, 0);
    const core::AviStreamInfo& info = state.fastMotionInfo;
    model.m_framesPerSecond = info.dwRate > 0 && info.dwScale > 0
                                  ? static_cast<double>(info.dwRate) / info.dwScale
                                  : static_cast<double>(model.m_measures.framesPerWindow);
    if (settings.endingEnabled)
        model.m_mark = PlanMark{PlanMark::Kind::Ending, settings.framePos};
    else if (settings.stopAfterEnabled)
        model.m_mark = PlanMark{PlanMark::Kind::Stop, model.m_frameCount};

    for (size_t w = 0; w < model.m_measures.windowBytes.size(); ++w)
        model.m_peakKbps = std::max(model.m_peakKbps, model.m_measures.windowKbps(w));

    const int64_t distance = state.keyframeDistance;
    for (int32_t g = 0; g < model.m_plan.count(); ++g) {
        const core::GroupChoice choice = model.m_plan[g].choice;
        if (model.m_bands.empty() || model.m_bands.back().choice != choice)
            model.m_bands.push_back({g, g, g * distance, g * distance, choice});
        PlanBand& band = model.m_bands.back();
        band.endGroup = g + 1;
        band.endFrame = std::min((g + 1) * distance, model.m_frameCount);
    }
    return model;
}

PlanViewModel PlanViewModel::fromSourcePlan(const output::SourcePlan& plan,
                                            std::vector<std::string> sourceNames,
                                            const std::vector<int64_t>& groupBytes, int64_t frameCount,
                                            double framesPerSecond, std::optional<int64_t> exactFinalBytes)
{
    PlanViewModel model;
    const int64_t distance = plan.framesPerGroup;
    if (plan.groups.empty() || distance < 1 || frameCount < 1)
        return model;
    model.m_sourceNames = std::move(sourceNames);
    model.m_keyframeDistance = static_cast<int32_t>(distance);
    model.m_frameCount = frameCount;
    model.m_framesPerSecond = framesPerSecond > 0 ? framesPerSecond : 1;
    model.m_exactFinalBytes = exactFinalBytes;
    // No windows: every frame of a group lies in its first "window", which is never measured.
    model.m_measures.framesPerWindow = static_cast<int32_t>(distance);
    const auto groups = static_cast<int32_t>(plan.groups.size());
    model.m_plan.setSize(groups);
    for (int32_t g = 0; g < groups; ++g) {
        const int32_t source = plan.groups[static_cast<size_t>(g)].source;
        model.m_plan[g].choice = core::GroupChoice::High;
        model.m_plan[g].fmBytes =
            static_cast<size_t>(g) < groupBytes.size() ? groupBytes[static_cast<size_t>(g)] : 0;
        if (model.m_bands.empty() || model.m_bands.back().source != source)
            model.m_bands.push_back({g, g, g * distance, g * distance, core::GroupChoice::High, source});
        PlanBand& band = model.m_bands.back();
        band.endGroup = g + 1;
        band.endFrame = std::min((g + 1) * distance, frameCount);
    }
    return model;
}

int64_t PlanViewModel::windowStartFrame(size_t w) const
{
    const auto groupSeconds = static_cast<size_t>(m_measures.groupSeconds);
    return static_cast<int64_t>(w / groupSeconds) * m_keyframeDistance +
           static_cast<int64_t>(w % groupSeconds) * m_measures.framesPerWindow;
}

std::vector<PlanColumn> PlanViewModel::downscale(const PlanTimeRange& range, int32_t columns) const
{
    std::vector<PlanColumn> result(static_cast<size_t>(std::max(columns, 0)));
    if (columns <= 0 || range.span() <= 0)
        return result;
    const double columnsPerFrame = columns / range.span();
    for (size_t w = 0; w < m_measures.windowBytes.size(); ++w) {
        const int64_t kbps = m_measures.windowKbps(w);
        const double start = static_cast<double>(windowStartFrame(w));
        const double end = start + m_measures.framesPerWindow;
        if (kbps < 0 || end <= range.firstFrame || start >= range.endFrame)
            continue;
        // A window that only touches a column still counts there: no peak falls between two.
        const auto first = static_cast<int32_t>(
            std::clamp(std::floor((start - range.firstFrame) * columnsPerFrame), 0.0, columns - 1.0));
        const auto last = static_cast<int32_t>(
            std::clamp(std::ceil((end - range.firstFrame) * columnsPerFrame) - 1, 0.0, columns - 1.0));
        for (int32_t c = first; c <= last; ++c) {
            PlanColumn& column = result[static_cast<size_t>(c)];
            column.maxKbps = std::max(column.maxKbps, kbps);
            column.minKbps = column.minKbps < 0 ? kbps : std::min(column.minKbps, kbps);
        }
    }
    return result;
}

KbpsScale PlanViewModel::kbpsScale(int32_t plotHeight) const
{
    // The film's own bitrates decide: a limit far above them would squeeze every bar to the bottom.
    const int64_t highest = std::max(m_peakKbps, kSmallestTopKbps);
    const double wanted = static_cast<double>(highest) * kHeadroom;
    const int64_t step = roundStep(wanted / kMaxGridLines);
    const auto top = static_cast<int64_t>(std::ceil(wanted / static_cast<double>(step))) * step;
    return {std::max(plotHeight, 1), top, step};
}

std::optional<PlanHover> PlanViewModel::hoverAt(int64_t frame) const
{
    if (empty() || frame < 0 || frame >= m_frameCount)
        return std::nullopt;
    PlanHover hover;
    hover.frame = frame;
    hover.seconds = static_cast<double>(frame) / m_framesPerSecond;
    hover.group = static_cast<int32_t>(frame / m_keyframeDistance);
    hover.choice = m_plan[hover.group].choice;
    for (const PlanBand& band : m_bands) {
        if (hover.group >= band.firstGroup && hover.group < band.endGroup)
            hover.source = band.source;
    }
    hover.groupBytes = m_plan[hover.group].fmBytes;
    // Frames past the group's last whole window belong to no window.
    const int64_t window = (frame - int64_t{hover.group} * m_keyframeDistance) / m_measures.framesPerWindow;
    if (window < m_measures.groupSeconds)
        hover.windowKbps = m_measures.windowKbps(static_cast<size_t>(hover.group) * m_measures.groupSeconds +
                                                 static_cast<size_t>(window));
    return hover;
}

std::array<int64_t, 4> PlanViewModel::framesByChoice() const
{
    std::array<int64_t, 4> frames{};
    for (const PlanBand& band : m_bands)
        frames[static_cast<size_t>(band.choice)] += std::max<int64_t>(band.endFrame - band.firstFrame, 0);
    return frames;
}

PlanTimeRange PlanViewModel::wholeFilm() const
{
    return {0, static_cast<double>(m_frameCount)};
}

PlanTimeRange PlanViewModel::clamped(PlanTimeRange range) const
{
    const auto frames = static_cast<double>(m_frameCount);
    const double minSpan = std::min(frames, kMinWindowsVisible * std::max(m_measures.framesPerWindow, 1));
    const double span = std::clamp(range.span(), minSpan, frames);
    const double first = std::clamp(range.firstFrame, 0.0, frames - span);
    return {first, first + span};
}

PlanTimeRange PlanViewModel::zoomed(const PlanTimeRange& range, double frame, double factor) const
{
    if (range.span() <= 0)
        return clamped(range);
    const double minSpan = kMinWindowsVisible * std::max(m_measures.framesPerWindow, 1);
    const double span = std::clamp(range.span() * factor, std::min(minSpan, range.span()),
                                   std::max(static_cast<double>(m_frameCount), range.span()));
    const double scale = span / range.span();
    const double first = frame - (frame - range.firstFrame) * scale;
    return clamped({first, first + span});
}

PlanTimeRange PlanViewModel::scrolled(const PlanTimeRange& range, double frames) const
{
    return clamped({range.firstFrame + frames, range.endFrame + frames});
}

std::string choiceName(core::GroupChoice choice)
{
    switch (choice) {
    case core::GroupChoice::Low:
        return "Low Motion";
    case core::GroupChoice::High:
        return "Fast Motion";
    case core::GroupChoice::SmoothedHigh:
        return "Fast Motion (smoother)";
    case core::GroupChoice::Ending:
        return "Ending AVI";
    }
    return {};
}

std::string formatFilmTime(double seconds)
{
    const auto whole = static_cast<long long>(std::floor(std::max(seconds, 0.0)));
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

std::string hoverText(const PlanHover& hover, const core::NumberFormat& numbers)
{
    return formatFilmTime(hover.seconds) + " (frame " + numbers.whole(hover.frame) + ")\n" + "Group " +
           numbers.whole(hover.group) + ": " + choiceName(hover.choice) + "\n" +
           "Group bytes: " + numbers.whole(hover.groupBytes) + "\n" + "Bitrate: " +
           (hover.windowKbps < 0 ? std::string("not measured") : numbers.whole(hover.windowKbps) + " Kbps");
}

std::string summaryText(const PlanViewModel& model, const core::NumberFormat& numbers)
{
    const std::array<int64_t, 4> frames = model.framesByChoice();
    const auto seconds = [&](int64_t count) {
        return numbers.whole(std::llround(static_cast<double>(count) / model.framesPerSecond())) + " s";
    };
    const int64_t total = model.frameCount();
    const int64_t low = frames[static_cast<size_t>(core::GroupChoice::Low)];
    const int64_t smoothed = frames[static_cast<size_t>(core::GroupChoice::SmoothedHigh)];
    const int64_t fast = frames[static_cast<size_t>(core::GroupChoice::High)] + smoothed;
    const int64_t ending = frames[static_cast<size_t>(core::GroupChoice::Ending)];
    std::string text = "Low Motion " + seconds(low) + " (" + percentOf(low, total) + ")";
    text += " \u00b7 Fast Motion " + seconds(fast) + " (" + percentOf(fast, total);
    text += smoothed > 0 ? ", " + seconds(smoothed) + " by the smoother)" : std::string(")");
    if (ending > 0)
        text += " \u00b7 Ending AVI " + seconds(ending) + " (" + percentOf(ending, total) + ")";
    text += " \u00b7 LM bitrate " +
            (model.estimateKbps() < 0 ? std::string("n/a") : numbers.whole(model.estimateKbps()) + " Kbps");
    if (model.exactFinalBytes())
        text += " \u00b7 Final AVI " + numbers.whole(*model.exactFinalBytes()) + " bytes";
    return text;
}

std::string markText(const PlanMark& mark, const core::NumberFormat& numbers)
{
    return (mark.kind == PlanMark::Kind::Ending ? "Ending AVI from frame " : "Stops after frame ") +
           numbers.whole(mark.frame);
}

} // namespace engine
