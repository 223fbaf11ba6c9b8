#pragma once

#include <QDialog>

class QKeyEvent;

namespace app {

// A window that stands on the screen while a long command runs on the user-interface thread and
// lets the person abort it: the command calls pumpEvents between its pieces of work, and Abort
// (abortCommand), the close box or Escape during a pump that allows it sets aborted() and hides
// the window. Once aborted, pumpEvents returns at once.
class AbortableWindow : public QDialog {
    Q_OBJECT

public:
    using QDialog::QDialog;

    // Takes the focus, so that Escape reaches the window, then handles every pending event once;
    // with allowEscape, Escape aborts.
    void pumpEvents(bool allowEscape);
    bool aborted() const { return m_aborted; }

public slots:
    // Aborts: sets aborted() and hides the window.
    void abortCommand();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    bool m_aborted = false;
    bool m_escapeAllowed = false;
};

} // namespace app
