#include "app/abortable_window.h"

#include <QApplication>
#include <QKeyEvent>

namespace app {

void AbortableWindow::pumpEvents(bool allowEscape)
{
    if (isVisible() && QApplication::activeWindow() != this) {
        activateWindow();
        setFocus(Qt::OtherFocusReason);
    }
    if (m_aborted)
        return;
    m_escapeAllowed = allowEscape;
    QApplication::processEvents(QEventLoop::AllEvents);
    m_escapeAllowed = false;
}

void AbortableWindow::abortCommand()
{
    m_aborted = true;
    hide();
}

void AbortableWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        if (m_escapeAllowed)
            abortCommand();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AbortableWindow::reject() { abortCommand(); }

} // namespace app
