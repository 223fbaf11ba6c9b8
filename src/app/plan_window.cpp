#include "app/plan_window.h"

#include "app/plan_chart.h"
#include "app/window_memory.h"
#include "core/messages.h"
#include "engine/plan_view_model.h"
#include "ui_plan_window.h"

#include <QImage>
#include <QInputDialog>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>

namespace app {

namespace {

// Exports larger than this on either side would take hundreds of MB as an image.
constexpr int kLargestExportSide = 16384;
constexpr int kSmallestExportSide = 16;

QStringList pngFilters()
{
    return {QStringLiteral("PNG Images (*.png)")};
}

QStringList svgFilters()
{
    return {QStringLiteral("SVG Images (*.svg)")};
}

// Reads "width x height" (x, X, * or a multiplication sign between); nothing for another text.
std::optional<QSize> parseSize(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{1,6})\\s*[xX*\u00d7]\\s*(\\d{1,6})\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    const auto fits = [](int side) { return side >= kSmallestExportSide && side <= kLargestExportSide; };
    if (!fits(size.width()) || !fits(size.height()))
        return std::nullopt;
    return size;
}

} // namespace

PlanWindow::PlanWindow(FilePicker& picker, QtUiPort& port, QWidget* parent)
    : QWidget(parent, Qt::Window), m_form(std::make_unique<Ui::PlanWindow>()), m_picker(picker), m_port(port)
{
    m_form->setupUi(this);
    connect(m_form->planChart, &PlanChart::limitDragged, this, &PlanWindow::limitDragged);
    connect(m_form->exportPngAction, &QAction::triggered, this, &PlanWindow::exportPng);
    connect(m_form->exportSvgAction, &QAction::triggered, this, &PlanWindow::exportSvg);
    connect(m_form->exportAtSizeAction, &QAction::triggered, this, &PlanWindow::exportAtSize);
}

PlanWindow::~PlanWindow() = default;

void PlanWindow::showPlan(const core::Job& job, std::optional<int64_t> exactFinalBytes)
{
    m_form->planChart->setModel(engine::PlanViewModel::fromJob(job, exactFinalBytes));
}

void PlanWindow::showModel(engine::PlanViewModel model)
{
    m_form->planChart->setModel(std::move(model));
}

PlanChart& PlanWindow::chart()
{
    return *m_form->planChart;
}

bool PlanWindow::exportChart(const QString& path, QSize size) const
{
    QPainter painter;
    if (fileNameExtension(path).compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(), size));
        svg.setResolution(96);
        svg.setTitle(windowTitle());
        if (!painter.begin(&svg))
            return false;
        m_form->planChart->paintChart(painter, size);
        return painter.end();
    }
    QImage image(size, QImage::Format_RGB32);
    painter.begin(&image);
    m_form->planChart->paintChart(painter, size);
    painter.end();
    return image.save(path, "PNG");
}

void PlanWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PlanWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    placeOnScreen(*this, pos());
}

void PlanWindow::exportTo(QSize size, const QStringList& filters, const QString& defaultExtension)
{
    // Pictures go where the person last picked a file, as the main window's pickers do.
    WindowMemory memory;
    std::optional<QString> path = m_picker.pickFile(this, PickerKind::Save, filters, memory.lastFolder());
    if (!path)
        return;
    memory.rememberFolderOf(*path);
    if (fileNameExtension(*path).isEmpty())
        path->append(QLatin1Char('.') + defaultExtension);
    if (!exportChart(*path, size))
        m_port.showMessage(core::messages::pictureNotSaved(path->toStdString()));
}

void PlanWindow::exportPng()
{
    exportTo(m_form->planChart->size(), pngFilters(), QStringLiteral("png"));
}

void PlanWindow::exportSvg()
{
    exportTo(m_form->planChart->size(), svgFilters(), QStringLiteral("svg"));
}

void PlanWindow::exportAtSize()
{
    const QSize current = m_form->planChart->size();
    QString text = QStringLiteral("%1 x %2").arg(current.width()).arg(current.height());
    for (;;) {
        bool ok = false;
        text = QInputDialog::getText(this, QStringLiteral("Export at Size"),
                                     QStringLiteral("Width x height in pixels (%1 to %2):")
                                         .arg(kSmallestExportSide)
                                         .arg(kLargestExportSide),
                                     QLineEdit::Normal, text, &ok);
        if (!ok)
            return;
        if (const std::optional<QSize> size = parseSize(text)) {
            exportTo(*size, pngFilters() + svgFilters(), QStringLiteral("png"));
            return;
        }
    }
}

} // namespace app
