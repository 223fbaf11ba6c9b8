#include "app/plan_chart.h"

#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>

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

QString toQt(const std::string& text)
{
    return QString::fromStdString(text);
}

// Draws one legend entry at x on the legend row (top y, height h): its sample, sampleWidth wide,
// then its text; returns the x of the next entry.
template <typename DrawSample>
int drawLegendEntry(QPainter& painter, int x, int y, int h, int sampleWidth, const QString& text,
                    DrawSample drawSample)
{
    drawSample(QRect(x, y + 2, sampleWidth, h - 4));
    painter.setPen(Qt::black);
    const int textX = x + sampleWidth + h / 3;
    const int textWidth = painter.fontMetrics().horizontalAdvance(text);
    painter.drawText(QRect(textX, y, textWidth + 1, h), Qt::AlignVCenter, text);
    return textX + textWidth + h;
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
    const int top = line + 2 * pad;
    const int bottom = 2 * line + 2 * pad;
    return {left, top, std::max(size.width() - left - pad, 2), std::max(size.height() - top - bottom, 2)};
}

engine::KbpsScale PlanChart::kbpsScale(int height) const
{
    engine::KbpsScale scale = m_drag == Drag::Limit ? m_dragScale : m_model.kbpsScale(height);
    scale.plotHeight = height;
    return scale;
}

double PlanChart::frameAt(const QRect& plot, double x) const
{
    return m_range.firstFrame + (x - plot.left()) * m_range.span() / plot.width();
}

bool PlanChart::nearLimitLine(const QRect& plot, int y) const
{
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
            painter.fillRect(QRect(left, plot.top(), right - left, plot.height()), bandColor(band.choice));
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
    if (const std::optional<engine::PlanMark> mark = m_model.mark()) {
        int x = static_cast<int>(std::lround(xOf(static_cast<double>(mark->frame))));
        // A stop at the film's end lies just past the plot's last column; it is drawn on that column.
        if (x == plot.right() + 1)
            x = plot.right();
        if (x >= plot.left() && x <= plot.right()) {
            painter.setPen(QPen(Qt::black, 1, Qt::DashDotLine));
            painter.drawLine(x, plot.top(), x, plot.bottom());
            const QString text = toQt(engine::markText(*mark));
            const int width = metrics.horizontalAdvance(text);
            // Right of the line, or left of it where the plot ends too soon.
            const int textX = x + pad + width < plot.right() ? x + pad / 2 : x - pad / 2 - width;
            painter.setPen(Qt::black);
            painter.drawText(QRect(textX, plot.top() + 2, width + 1, line), Qt::AlignVCenter, text);
        }
    }
    if (m_model.estimateKbps() >= 0) {
        painter.setPen(QPen(kEstimateColor, 2, Qt::DashLine));
        painter.drawLine(plot.left(), yOf(m_model.estimateKbps()), plot.right(), yOf(m_model.estimateKbps()));
    }
    painter.setPen(QPen(kLimitColor, 2));
    painter.drawLine(plot.left(), yOf(m_model.limitKbps()), plot.right(), yOf(m_model.limitKbps()));
    painter.restore();

    painter.setPen(Qt::gray);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::black);
    for (int64_t kbps = 0; kbps <= scale.topKbps; kbps += scale.stepKbps)
        painter.drawText(QRect(0, yOf(kbps) - line / 2, plot.left() - pad / 2, line),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(kbps));
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
    for (double second = std::ceil(firstSecond / stepSeconds) * stepSeconds;
         second * m_model.framesPerSecond() <= m_range.endFrame; second += stepSeconds) {
        const int x = static_cast<int>(std::lround(xOf(second * m_model.framesPerSecond())));
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + pad / 2);
        painter.drawText(QRect(x - labelWidth / 2, plot.bottom() + pad / 2, labelWidth, line),
                         Qt::AlignCenter, toQt(engine::formatFilmTime(second)));
    }

    int x = plot.left();
    const int swatch = line - 4;
    for (const GroupChoice choice :
         {GroupChoice::Low, GroupChoice::High, GroupChoice::SmoothedHigh, GroupChoice::Ending}) {
        x = drawLegendEntry(painter, x, pad, line, swatch, toQt(engine::choiceName(choice)),
                            [&](const QRect& sample) {
                                painter.fillRect(sample, bandColor(choice));
                                painter.setPen(Qt::gray);
                                painter.drawRect(sample);
                            });
    }
    const auto lineSample = [&painter](const QPen& pen) {
        return [&painter, pen](const QRect& sample) {
            painter.setPen(pen);
            painter.drawLine(sample.left(), sample.center().y(), sample.right(), sample.center().y());
        };
    };
    const QString estimate = m_model.estimateKbps() < 0
                                 ? QStringLiteral("n/a")
                                 : QStringLiteral("%1 Kbps").arg(m_model.estimateKbps());
    x = drawLegendEntry(painter, x, pad, line, 3 * swatch,
                        QStringLiteral("High Bitrate Limit %1 Kbps").arg(m_model.limitKbps()),
                        lineSample(QPen(kLimitColor, 2)));
    drawLegendEntry(painter, x, pad, line, 3 * swatch,
                    QStringLiteral("Estimated LM bitrate %1").arg(estimate),
                    lineSample(QPen(kEstimateColor, 2, Qt::DashLine)));

    const QRect summary(pad, size.height() - pad - line, size.width() - 2 * pad, line);
    painter.drawText(summary, Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(toQt(engine::summaryText(m_model)), Qt::ElideRight, summary.width()));
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
        m_dragScale = m_model.kbpsScale(plot.height() - 1);
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
        QToolTip::showText(event->globalPosition().toPoint(), toQt(engine::hoverText(*hover)), this);
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
    // The scale may grow to a limit dragged near its top.
    update();
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
