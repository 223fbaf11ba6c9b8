#pragma once

#include "engine/plan_view_model.h"

#include <QWidget>

namespace app {

// Draws a plan view model: the per-second Fast Motion bitrate as bars over bands tinted by each
// keyframe group's choice, the High Bitrate Limit, the estimated Low Motion bitrate, the ending or
// stop mark, a legend and the summary line. The wheel zooms the time axis around the pointer,
// dragging the background scrolls it, dragging the limit line asks for another limit through
// limitDragged; the line itself moves only when a model with the new limit arrives.
class PlanChart : public QWidget {
    Q_OBJECT

public:
    explicit PlanChart(QWidget* parent = nullptr);

    // Shows model; the visible time range stays where it was when the film is the same.
    void setModel(engine::PlanViewModel model);
    const engine::PlanViewModel& model() const { return m_model; }

    // Paints the whole chart over a surface of size pixels (the widget, an image or an SVG file)
    // with the visible time range.
    void paintChart(QPainter& painter, QSize size) const;
    // Returns the plot's rectangle on a surface of size pixels. Its lines top() to bottom() are the
    // rows 0 to height() - 1 of kbpsScale(height() - 1).
    QRect plotRect(QSize size) const;
    // Returns the Kbps scale the plot uses now for rows 0 to height (0 Kbps).
    engine::KbpsScale kbpsScale(int height) const;

signals:
    // The person dragged the limit line to kbps.
    void limitDragged(int kbps);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    enum class Drag { None, Limit, Scroll };

    QFont chartFont() const;
    double frameAt(const QRect& plot, double x) const;
    bool nearLimitLine(const QRect& plot, int y) const;

    engine::PlanViewModel m_model;
    engine::PlanTimeRange m_range;
    Drag m_drag = Drag::None;
    double m_dragStartX = 0;
    engine::PlanTimeRange m_dragStartRange;
};

} // namespace app
