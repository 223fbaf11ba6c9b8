#include "app/plan_chart.h"

#include "app/locale_numbers.h"

#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace app {

namespace {

using core::GroupChoice;
using engine::PlanViewModel;

const QColor kMaxBarColor(0x8a, 0x97, 0xa8);
const QColor kMinBarColor(0x34, 0x49, 0x5e);
const QColor kLimitColor(0xc0, 0x39, 0x2b);
const QColor kEstimateColor(0x1e, 0x84, 0x49);
const QColor kGridColor(0, 0, 0, 40);
// From this many pixels a window, its bar is drawn on its own with a gap to the next.
constexpr double kSeparateBarPixels = 4;
// How close, in pixels, a press must be to the limit line to take hold of it.
constexpr int kLimitGrip = 4;
// Wheel zoom per notch (120 eighths of a degree): below 1 zooms in as the wheel turns away.
constexpr double kZoomPerNotch = 0.8;
// Steps of the time axis in seconds; the first that leaves room for its labels is used.
constexpr int kTimeSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 14400, 28800};

QColor bandColor(GroupChoice choice)
{
    switch (choice) {
    case GroupChoice::Low:
        return {0xd6, 0xea, 0xf8};
    case GroupChoice::High:
        return {0xfa, 0xd7, 0xa0};
    case GroupChoice::SmoothedHigh:
        return {0xf3, 0xc6, 0xde};
    case GroupChoice::Ending:
        return {0xdd, 0xdd, 0xdd};
    }
    return Qt::white;
}

// The band of a plan over named sources: one colour for each source, in turn.
QColor sourceColor(int32_t source)
{
    static const QColor colors[] = {{0xd6, 0xea, 0xf8}, {0xfa, 0xd7, 0xa0}, {0xd5, 0xf5, 0xe3}, {0xf3, 0xc6, 0xde},
                                    {0xe8, 0xda, 0xef}, {0xfc, 0xf3, 0xcf}, {0xdd, 0xdd, 0xdd}, {0xf5, 0xb7, 0xb1}};
    return colors[static_cast<size_t>(source) % std::size(colors)];
}

QColor bandColor(const engine::PlanBand& band)
{
    return band.source >= 0 ? sourceColor(band.source) : bandColor(band.choice);
}

QString toQt(const std::string& text)
{
    return QString::fromStdString(text);
}

// One entry of the legend: a band's colour or a line as its sample, then its text.
struct LegendEntry {
    QString text;
    QString widest; // measured in place of text where wider
    std::optional<QColor> band;
    QPen pen; // the line's, when band is empty
};

// Where one legend entry goes: its sample's and its text's rectangles, and the text, elided where
// a row is too narrow for it.
struct PlacedEntry {
    QRect sample;
    QRect textRect;
    QString text;
};

// Places the entries from left to right in rows line pixels high, starting at (left, top), and
// starts a new row where the next entry would pass right. An entry is measured by the wider of its
// text and its widest text, so that a number that changes while the limit is dragged never moves
// the rows.
std::vector<PlacedEntry> placeLegend(const std::vector<LegendEntry>& entries, const QFontMetrics& metrics,
                                     int left, int right, int top)
{
    const int line = metrics.height();
    const int swatch = line - 4;
    std::vector<PlacedEntry> placed;
    int x = left;
    int y = top;
    for (const LegendEntry& entry : entries) {
        const int sampleWidth = entry.band ? swatch : 3 * swatch;
        const int textWidth =
            std::max(metrics.horizontalAdvance(entry.text), metrics.horizontalAdvance(entry.widest));
        const int width = sampleWidth + line / 3 + textWidth;
        if (x > left && x + width > right) {
            x = left;
            y += line;
        }
        const int textX = x + sampleWidth + line / 3;
        const int room = std::max(right - textX, 0);
        placed.push_back({QRect(x, y + 2, sampleWidth, line - 4),
                          QRect(textX, y, std::min(textWidth, room) + 1, line),
                          metrics.elidedText(entry.text, Qt::ElideRight, room)});
        x += width + line;
    }
    return placed;
}

// Returns the legend's entries: the four choices' bands, the limit and the estimate.
std::vector<LegendEntry> legendEntries(const PlanViewModel& model)
{
    std::vector<LegendEntry> entries;
    // A plan over named sources has a band for each source and neither limit nor estimate.
    const std::vector<std::string>& sources = model.sourceNames();
    for (size_t source = 0; source < sources.size(); ++source)
        entries.push_back({toQt(sources[source]), {}, sourceColor(static_cast<int32_t>(source)), {}});
    if (!sources.empty())
        return entries;
    for (const GroupChoice choice :
         {GroupChoice::Low, GroupChoice::High, GroupChoice::SmoothedHigh, GroupChoice::Ending})
        entries.push_back({toQt(engine::choiceName(choice)), {}, bandColor(choice), {}});
    // A dragged limit stays within the axis.
    const QString widestKbps = localeNumber(model.kbpsScale(1).topKbps);
    const QString limit = QStringLiteral("High Bitrate Limit %1 Kbps");
    entries.push_back({limit.arg(localeNumber(model.limitKbps())), limit.arg(widestKbps), std::nullopt,
                       QPen(kLimitColor, 2)});
    const QString estimate = QStringLiteral("Estimated LM bitrate %1");
    entries.push_back({estimate.arg(model.estimateKbps() < 0
                                        ? QStringLiteral("n/a")
                                        : QStringLiteral("%1 Kbps").arg(localeNumber(model.estimateKbps()))),
                       estimate.arg(widestKbps + QStringLiteral(" Kbps")), std::nullopt,
                       QPen(kEstimateColor, 2, Qt::DashLine)});
    return entries;
}

} // namespace

PlanChart::PlanChart(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PlanChart::setModel(PlanViewModel model)
{
    const bool sameFilm = !m_model.empty() && model.frameCount() == m_model.frameCount();
    m_model = std::move(model);
    m_range = sameFilm ? m_model.clamped(m_range) : m_model.wholeFilm();
    update();
}

QFont PlanChart::chartFont() const
{
    // Pixel sizes draw alike on the screen, in an image and in an SVG file of any resolution.
    QFont chart = font();
    chart.setPixelSize(QFontInfo(font()).pixelSize());
    return chart;
}

QRect PlanChart::plotRect(QSize size) const
{
    const QFontMetrics metrics(chartFont());
    const int line = metrics.height();
    const int pad = line / 2;
    const int left = metrics.horizontalAdvance(QStringLiteral("0000000")) + pad;
    const std::vector<PlacedEntry> legend =
        placeLegend(legendEntries(m_model), metrics, left, size.width() - pad, pad);
    const int top = legend.back().textRect.bottom() + 1 + pad;
    const int bottom = 2 * line + 2 * pad;
    return {left, top, std::max(size.width() - left - pad, 2), std::max(size.height() - top - bottom, 2)};
}

engine::KbpsScale PlanChart::kbpsScale(int height) const
{
    return m_model.kbpsScale(height);
}

double PlanChart::frameAt(const QRect& plot, double x) const
{
    return m_range.firstFrame + (x - plot.left()) * m_range.span() / plot.width();
}

bool PlanChart::nearLimitLine(const QRect& plot, int y) const
{
    if (!m_model.sourceNames().empty()) // no limit to drag
        return false;
    const engine::KbpsScale scale = kbpsScale(plot.height() - 1);
    return std::abs(y - (plot.top() + scale.rowOf(m_model.limitKbps()))) <= kLimitGrip;
}

void PlanChart::paintChart(QPainter& painter, QSize size) const
{
    painter.save();
    painter.setFont(chartFont());
    const QFontMetrics metrics = painter.fontMetrics();
    const int line = metrics.height();
    const int pad = line / 2;
    painter.fillRect(QRect(QPoint(), size), Qt::white);
    if (m_model.empty() || m_range.span() <= 0) {
        painter.setPen(Qt::darkGray);
        painter.drawText(QRect(QPoint(), size), Qt::AlignCenter,
                         QStringLiteral("No plan yet: analyze the Fast Motion AVI in the main window."));
        painter.restore();
        return;
    }

    const QRect plot = plotRect(size);
    // Row 0 is the plot's top line and row height - 1 its bottom line, 0 Kbps: a measured window of
    // 0 Kbps keeps a one-pixel bar, an unmeasured one has none.
    const engine::KbpsScale scale = kbpsScale(plot.height() - 1);
    const double pixelsPerFrame = plot.width() / m_range.span();
    const auto xOf = [&](double frame) {
        return plot.left() + (frame - m_range.firstFrame) * pixelsPerFrame;
    };
    const auto yOf = [&](int64_t kbps) { return plot.top() + scale.rowOf(kbps); };

    painter.save();
    painter.setClipRect(plot);
    // Low Motion first, so that a group of another choice narrower than a pixel keeps its column.
    for (const bool lowPass : {true, false}) {
        for (const engine::PlanBand& band : m_model.bands()) {
            if ((band.choice == GroupChoice::Low) != lowPass || band.endFrame <= m_range.firstFrame ||
                band.firstFrame >= m_range.endFrame)
                continue;
            const int left = static_cast<int>(std::floor(xOf(static_cast<double>(band.firstFrame))));
            const int right =
                std::max(static_cast<int>(std::ceil(xOf(static_cast<double>(band.endFrame)))), left + 1);
            painter.fillRect(QRect(left, plot.top(), right - left, plot.height()), bandColor(band));
        }
    }
    painter.setPen(kGridColor);
    for (int64_t kbps = scale.stepKbps; kbps <= scale.topKbps; kbps += scale.stepKbps)
        painter.drawLine(plot.left(), yOf(kbps), plot.right(), yOf(kbps));
    const engine::PlanMeasures& measures = m_model.measures();
    if (pixelsPerFrame * measures.framesPerWindow >= kSeparateBarPixels) {
        // Wide enough to tell the seconds apart: one bar a window, a pixel between neighbours.
        for (size_t w = 0; w < measures.windowBytes.size(); ++w) {
            const int64_t kbps = measures.windowKbps(w);
            const auto start = static_cast<double>(m_model.windowStartFrame(w));
            const double end = start + measures.framesPerWindow;
            if (kbps < 0 || end <= m_range.firstFrame || start >= m_range.endFrame)
                continue;
            const QPoint topLeft(static_cast<int>(std::lround(xOf(start))), yOf(kbps));
            const QPoint bottomRight(static_cast<int>(std::lround(xOf(end))) - 2, plot.bottom());
            painter.fillRect(QRect(topLeft, bottomRight), kMinBarColor);
        }
    } else {
        const std::vector<engine::PlanColumn> columns = m_model.downscale(m_range, plot.width());
        for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
            const engine::PlanColumn& column = columns[static_cast<size_t>(c)];
            if (column.maxKbps < 0)
                continue;
            painter.fillRect(plot.left() + c, yOf(column.maxKbps), 1, plot.bottom() - yOf(column.maxKbps) + 1,
                             kMaxBarColor);
            painter.fillRect(plot.left() + c, yOf(column.minKbps), 1, plot.bottom() - yOf(column.minKbps) + 1,
                             kMinBarColor);
        }
    }
    // A line above the axis's top lies on the plot's edge; its value, in a row of its own below the
    // edge, says how far above. The mark's caption comes below those rows.
    std::vector<std::pair<int64_t, QColor>> aboveTop;
    for (const auto& [kbps, color] :
         {std::pair{int64_t{m_model.limitKbps()}, kLimitColor}, {m_model.estimateKbps(), kEstimateColor}}) {
        if (kbps > scale.topKbps)
            aboveTop.emplace_back(kbps, color);
    }
    if (const std::optional<engine::PlanMark> mark = m_model.mark()) {
        int x = static_cast<int>(std::lround(xOf(static_cast<double>(mark->frame))));
        // A stop at the film's end lies just past the plot's last column; it is drawn on that column.
        if (x == plot.right() + 1)
            x = plot.right();
        if (x >= plot.left() && x <= plot.right()) {
            painter.setPen(QPen(Qt::black, 1, Qt::DashDotLine));
            painter.drawLine(x, plot.top(), x, plot.bottom());
            const QString text = toQt(engine::markText(*mark, LocaleNumbers()));
            const int width = metrics.horizontalAdvance(text);
            // Right of the line, or left of it where the plot ends too soon.
            const int textX = x + pad + width < plot.right() ? x + pad / 2 : x - pad / 2 - width;
            painter.setPen(Qt::black);
            painter.drawText(
                QRect(textX, plot.top() + 2 + line * static_cast<int>(aboveTop.size()), width + 1, line),
                Qt::AlignVCenter, text);
        }
    }
    if (!m_model.sourceNames().empty())
        aboveTop.clear();
    if (m_model.estimateKbps() >= 0 && m_model.sourceNames().empty()) {
        painter.setPen(QPen(kEstimateColor, 2, Qt::DashLine));
        painter.drawLine(plot.left(), yOf(m_model.estimateKbps()), plot.right(), yOf(m_model.estimateKbps()));
    }
    if (m_model.sourceNames().empty()) {
        painter.setPen(QPen(kLimitColor, 2));
        painter.drawLine(plot.left(), yOf(m_model.limitKbps()), plot.right(), yOf(m_model.limitKbps()));
    }
    for (size_t i = 0; i < aboveTop.size(); ++i) {
        painter.setPen(aboveTop[i].second);
        painter.drawText(
            QRect(plot.left(), plot.top() + 2 + line * static_cast<int>(i), plot.width() - pad, line),
            Qt::AlignRight | Qt::AlignVCenter,
            QStringLiteral("\u2191 %1 Kbps").arg(localeNumber(aboveTop[i].first)));
    }
    painter.restore();

    painter.setPen(Qt::gray);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::black);
    for (int64_t kbps = 0; kbps <= scale.topKbps; kbps += scale.stepKbps)
        painter.drawText(QRect(0, yOf(kbps) - line / 2, plot.left() - pad / 2, line),
                         Qt::AlignRight | Qt::AlignVCenter, localeNumber(kbps));
    painter.drawText(QRect(0, pad, plot.left() - pad / 2, line), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Kbps"));

    const double pixelsPerSecond = pixelsPerFrame * m_model.framesPerSecond();
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 2 * pad;
    int stepSeconds = kTimeSteps[std::size(kTimeSteps) - 1];
    for (const int candidate : kTimeSteps) {
        if (candidate * pixelsPerSecond >= labelWidth) {
            stepSeconds = candidate;
            break;
        }
    }
    const double firstSecond = m_range.firstFrame / m_model.framesPerSecond();
    const int timeWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00")) + pad;
    std::vector<std::pair<QRect, double>> labels;
    for (double second = std::ceil(firstSecond / stepSeconds) * stepSeconds;
         second * m_model.framesPerSecond() <= m_range.endFrame; second += stepSeconds) {
        const int x = static_cast<int>(std::lround(xOf(second * m_model.framesPerSecond())));
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + pad / 2);
        // A label at the plot's end is moved in to stay whole.
        const int labelLeft = std::clamp(x - timeWidth / 2, 0, std::max(size.width() - timeWidth, 0));
        labels.emplace_back(QRect(labelLeft, plot.bottom() + pad / 2, timeWidth, line), second);
    }
    // The last label stays; one that it was moved over gives way.
    int freeRight = size.width();
    for (auto label = labels.rbegin(); label != labels.rend(); ++label) {
        if (label->first.right() >= freeRight)
            continue;
        painter.drawText(label->first, Qt::AlignCenter, toQt(engine::formatFilmTime(label->second)));
        freeRight = label->first.left();
    }

    const std::vector<LegendEntry> entries = legendEntries(m_model);
    const std::vector<PlacedEntry> legend =
        placeLegend(entries, metrics, plot.left(), size.width() - pad, pad);
    for (size_t i = 0; i < entries.size(); ++i) {
        const QRect& sample = legend[i].sample;
        if (entries[i].band) {
            painter.fillRect(sample, *entries[i].band);
            painter.setPen(Qt::gray);
            painter.drawRect(sample);
        } else {
            painter.setPen(entries[i].pen);
            painter.drawLine(sample.left(), sample.center().y(), sample.right(), sample.center().y());
        }
        painter.setPen(Qt::black);
        painter.drawText(legend[i].textRect, Qt::AlignVCenter, legend[i].text);
    }

    const QRect summary(pad, size.height() - pad - line, size.width() - 2 * pad, line);
    painter.drawText(summary, Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(toQt(engine::summaryText(m_model, LocaleNumbers())), Qt::ElideRight,
                                        summary.width()));
    painter.restore();
}

void PlanChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintChart(painter, size());
}

void PlanChart::mousePressEvent(QMouseEvent* event)
{
    const QRect plot = plotRect(size());
    const QPoint at = event->position().toPoint();
    if (event->button() != Qt::LeftButton || m_model.empty() ||
        !plot.adjusted(0, -kLimitGrip, 0, kLimitGrip).contains(at)) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (nearLimitLine(plot, at.y())) {
        m_drag = Drag::Limit;
    } else if (plot.contains(at)) {
        m_drag = Drag::Scroll;
        m_dragStartX = event->position().x();
        m_dragStartRange = m_range;
        setCursor(Qt::ClosedHandCursor);
    }
}

void PlanChart::mouseMoveEvent(QMouseEvent* event)
{
    const QRect plot = plotRect(size());
    const QPoint at = event->position().toPoint();
    if (m_drag == Drag::Limit) {
        const int kbps = static_cast<int>(kbpsScale(plot.height() - 1).kbpsAt(at.y() - plot.top()));
        if (kbps != m_model.limitKbps()) {
            emit limitDragged(kbps);
            // The main window refused the new limit (a field holds no number, Create runs): let go.
            if (m_model.limitKbps() != kbps)
                m_drag = Drag::None;
        }
        return;
    }
    if (m_drag == Drag::Scroll) {
        m_range = m_model.scrolled(m_dragStartRange, -(event->position().x() - m_dragStartX) *
                                                         m_dragStartRange.span() / plot.width());
        update();
        return;
    }
    setCursor(!m_model.empty() && nearLimitLine(plot, at.y()) ? Qt::SizeVerCursor : Qt::ArrowCursor);
    const std::optional<engine::PlanHover> hover =
        plot.contains(at) ? m_model.hoverAt(static_cast<int64_t>(std::floor(frameAt(plot, at.x()))))
                          : std::nullopt;
    if (hover)
        QToolTip::showText(event->globalPosition().toPoint(),
                           toQt(engine::hoverText(*hover, LocaleNumbers())), this);
    else
        QToolTip::hideText();
}

void PlanChart::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_drag == Drag::None) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_drag = Drag::None;
    unsetCursor();
}

void PlanChart::wheelEvent(QWheelEvent* event)
{
    const QRect plot = plotRect(size());
    if (m_model.empty() || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    const double notches = event->angleDelta().y() / 120.0;
    m_range = m_model.zoomed(m_range, frameAt(plot, event->position().x()), std::pow(kZoomPerNotch, notches));
    update();
}

} // namespace app
