#include "app/dialog_units.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace app {

namespace {

int scaleUnits(int value, double pixelsPerUnit)
{
    return static_cast<int>(std::lround(value * pixelsPerUnit));
}

// Returns the pixels widget's text needs across, or 0 for a widget without a text to fit.
int textWidthNeeded(const QWidget& widget)
{
    const QFontMetrics metrics = widget.fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(&widget))
        return label->text().isEmpty() ? 0
                                       : metrics.horizontalAdvance(label->text()) + 2 * label->margin() + 2;
    if (const auto* check = qobject_cast<const QCheckBox*>(&widget))
        return check->sizeHint().width();
    if (const auto* group = qobject_cast<const QGroupBox*>(&widget))
        return metrics.horizontalAdvance(group->title()) + 16;
    if (const auto* button = qobject_cast<const QPushButton*>(&widget))
        return button->text().isEmpty() ? 0 : metrics.horizontalAdvance(button->text()) + 8;
    return 0;
}

void raiseToFitTexts(const QWidget& parent, double& averageCharWidth)
{
    for (const QWidget* child : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || child->isHidden())
            continue;
        const int widthUnits = child->geometry().width();
        const int needed = textWidthNeeded(*child);
        if (widthUnits > 0 && needed > 0)
            averageCharWidth = std::max(averageCharWidth, needed * 4.0 / widthUnits);
        raiseToFitTexts(*child, averageCharWidth);
    }
}

void scaleChildren(QWidget& parent, const DialogBaseUnits& units)
{
    const double xScale = units.averageCharWidth / 4.0;
    const double yScale = units.charHeight / 8.0;
    for (QWidget* child : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow())
            continue;
        const QRect dluRect = child->geometry();
        // Edges are scaled rather than sizes so that neighbours sharing an edge in dialog units
        // still share it in pixels.
        const int left = scaleUnits(dluRect.x(), xScale);
        const int top = scaleUnits(dluRect.y(), yScale);
        const int right = scaleUnits(dluRect.x() + dluRect.width(), xScale);
        const int bottom = scaleUnits(dluRect.y() + dluRect.height(), yScale);
        child->setGeometry(left, top, right - left, bottom - top);
        scaleChildren(*child, units);
    }
}

} // namespace

DialogBaseUnits measureDialogBaseUnits(const QWidget& dialog)
{
    const QFontMetrics metrics = dialog.fontMetrics();
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits units;
    units.averageCharWidth = letters / 52.0;
    units.charHeight = metrics.height();
    raiseToFitTexts(dialog, units.averageCharWidth);
    return units;
}

void applyDialogUnits(QWidget& dialog)
{
    const DialogBaseUnits units = measureDialogBaseUnits(dialog);
    const QSize size = dialog.size();
    dialog.setFixedSize(scaleUnits(size.width(), units.averageCharWidth / 4.0),
                        scaleUnits(size.height(), units.charHeight / 8.0));
    scaleChildren(dialog, units);
}

} // namespace app
