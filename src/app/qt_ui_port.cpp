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

// Forwards to a progress window and notes in a ProgressRecord what the main window needs once
// the copy is over.
class RecordedProgress : public core::ProgressPort {
public:
    RecordedProgress(std::unique_ptr<ProgressWindow> window, ProgressRecord& record)
        : m_window(std::move(window)), m_record(record)
    {
        m_record = {};
        m_record.opened = true;
    }
    ~RecordedProgress() override { m_record.cancelled = m_window->cancelled(); }
    RecordedProgress(const RecordedProgress&) = delete;
    RecordedProgress& operator=(const RecordedProgress&) = delete;

    void setRange(int32_t lower, int32_t upper, int32_t step) override
    {
        m_window->setRange(lower, upper, step);
    }
    int32_t setPosition(int32_t position) override
    {
        m_record.lastPosition = position;
        return m_window->setPosition(position);
    }
    void setStatistics(const core::ProgressStatistics& statistics) override
    {
        m_window->setStatistics(statistics);
    }
    void pumpMessages(bool allowEscape) override { m_window->pumpMessages(allowEscape); }
    bool cancelled() const override { return m_window->cancelled(); }

private:
    std::unique_ptr<ProgressWindow> m_window;
    ProgressRecord& m_record;
};

} // namespace

QtUiPort::QtUiPort(QWidget* owner) : m_owner(owner) {}

void QtUiPort::setOwner(QWidget* owner)
{
    m_owner = owner;
}

void QtUiPort::showMessage(const core::Message& message)
{
    m_lastMessage = message;
    presentMessage(message);
}

void QtUiPort::presentMessage(const core::Message& message)
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
    return std::make_unique<RecordedProgress>(std::move(window), m_lastProgress);
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
