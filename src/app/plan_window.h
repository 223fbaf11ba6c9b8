#pragma once

#include "app/file_picker.h"
#include "app/qt_ui_port.h"
#include "core/job.h"
#include "engine/plan_view_model.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

namespace Ui {
class PlanWindow;
}

namespace app {

class PlanChart;

// The plan view: a resizable window of its own with the chart of the job's plan and, in the
// chart's context menu, its export to PNG and SVG. It shows what it is given and forwards the
// limit the person drags; the main window owns it and keeps it in step.
class PlanWindow : public QWidget {
    Q_OBJECT

public:
    // Builds the window as a separate window over parent. picker and port ask for the export's
    // file and tell of a failed one; they belong to the caller and outlive the window.
    PlanWindow(FilePicker& picker, QtUiPort& port, QWidget* parent);
    ~PlanWindow() override;

    // Shows the job's plan, planned as the estimate refresh plans it; exactFinalBytes is the Final
    // AVI's size when it is known. A job that is not analysed shows an empty chart.
    void showPlan(const core::Job& job, std::optional<int64_t> exactFinalBytes);
    // Shows a plan made elsewhere (a quality-mode Make's levels).
    void showModel(engine::PlanViewModel model);
    PlanChart& chart();
    // Renders the chart with its visible time range at size pixels into path: SVG when the name
    // ends in ".svg", PNG otherwise. Returns false when the file cannot be written.
    bool exportChart(const QString& path, QSize size) const;

signals:
    // The person dragged the High Bitrate Limit line to kbps.
    void limitDragged(int kbps);

public slots:
    // Exports at the chart's size to a PNG file the person picks.
    void exportPng();
    // Exports at the chart's size to an SVG file the person picks.
    void exportSvg();
    // Asks for a size (width x height), then for a PNG or SVG file, and exports.
    void exportAtSize();

protected:
    // Escape closes the window.
    void keyPressEvent(QKeyEvent* event) override;
    // Keeps the window on a screen once its frame is known.
    void showEvent(QShowEvent* event) override;

private:
    void exportTo(QSize size, const QStringList& filters, const QString& defaultExtension);

    std::unique_ptr<Ui::PlanWindow> m_form;
    FilePicker& m_picker;
    QtUiPort& m_port;
};

} // namespace app
