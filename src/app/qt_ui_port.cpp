#include "app/qt_ui_port.h"

#include "app/progress_window.h"

#include <QApplication>
#include <QMessageBox>

namespace app {

namespace {

QString boxCaption()
{
    return QCoreApplication::applicationName();
}

} // namespace

QtUiPort::QtUiPort(QWidget* owner) : m_owner(owner) {}

void QtUiPort::setOwner(QWidget* owner)
{
    m_owner = owner;
}

void QtUiPort::showMessage(const core::Message& message)
{
    // A Final AVI found as planned is good news, not a warning.
    const QMessageBox::Icon icon =
        message.id == core::MessageId::FinalAviVerified ? QMessageBox::Information : QMessageBox::Warning;
    QMessageBox box(icon, boxCaption(), displayText(message.text), QMessageBox::Ok, m_owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtUiPort::askYesNo(const core::Question& question)
{
    QMessageBox box(QMessageBox::Question, boxCaption(), displayText(question.text),
                    QMessageBox::Yes | QMessageBox::No, m_owner);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void QtUiPort::beginBusy()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUiPort::endBusy()
{
    QApplication::restoreOverrideCursor();
}

std::unique_ptr<core::ProgressPort> QtUiPort::openProgress()
{
    auto window = std::make_unique<ProgressWindow>(m_owner);
    window->showWithoutActivating();
    return window;
}

void QtUiPort::promptWholeNumber()
{
    QMessageBox box(QMessageBox::Warning, boxCaption(), QStringLiteral("Please enter a whole number."),
                    QMessageBox::Ok, m_owner);
    box.exec();
}

QString displayText(const std::string& text)
{
    QString display = QString::fromStdString(text);
    display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    display.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return display;
}

} // namespace app
