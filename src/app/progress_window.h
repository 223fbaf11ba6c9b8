#pragma once

#include "app/abortable_window.h"
#include "core/user_interface_port.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace Ui {
class ProgressWindow;
}

namespace app {

// The modeless window that stands over the main window while Create copies: a bar with the
// whole percentage in the title, five running totals and an Abort button. Its pump runs the
// application's pending events between groups; Abort, and Escape while the pump allows it, set
// cancelled, which never returns to false.
class ProgressWindow : public AbortableWindow, public core::ProgressPort {
    Q_OBJECT

public:
    // Builds the window, hidden, with empty totals and title, owned by parent.
    explicit ProgressWindow(QWidget* parent = nullptr);
    ~ProgressWindow() override;

    // Shows the window without taking the keyboard focus from the active window.
    void showWithoutActivating();

    void setRange(int32_t lower, int32_t upper, int32_t step) override;
    // Shows the window if hidden, rewrites the title "Progress [N%]" when the whole percentage
    // changed (N = position * 100 / (upper - lower), 0 when upper <= lower, not limited to 100)
    // and moves the bar (kept within its range); returns the bar's previous position.
    int32_t setPosition(int32_t position) override;
    // Shows "%d" seconds and "<bytes with separators> (<whole MiB>)" sizes.
    void setStatistics(const core::ProgressStatistics& statistics) override;
    void pumpMessages(bool allowEscape) override { pumpEvents(allowEscape); }
    bool cancelled() const override { return aborted(); }

    // The step set by setRange (the bar itself has no step).
    int32_t step() const { return m_step; }

private:
    std::unique_ptr<Ui::ProgressWindow> m_form;
    int32_t m_lower = 0;
    int32_t m_upper = 0;
    int32_t m_step = 1;
    int32_t m_barPosition = 0;
    std::optional<int64_t> m_lastPercent;
};

} // namespace app
