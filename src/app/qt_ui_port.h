#pragma once

#include "app/locale_numbers.h"
#include "core/user_interface_port.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace app {

// What the last progress window of a port saw, kept after the window closed.
struct ProgressRecord {
    bool opened = false;      // a copy started
    bool cancelled = false;   // the person aborted it
    int32_t lastPosition = 0; // the bar's last position: the keyframe groups copied before the last poll
};

// The engine's user-interface interface on the desktop: message boxes over the owner window,
// the wait cursor, and a ProgressWindow for Create. Tests derive from it to answer boxes.
class QtUiPort : public core::UiPort {
public:
    // Makes a port whose boxes and progress window belong to owner (may be set later).
    explicit QtUiPort(QWidget* owner = nullptr);

    // Sets the window that boxes and the progress window belong to.
    void setOwner(QWidget* owner);
    QWidget* owner() const { return m_owner; }

    // Shows a modal box with the message and one OK button, and keeps it as the last message.
    void showMessage(const core::Message& message) final;
    // Shows a modal box with Yes and No; returns true for Yes.
    bool askYesNo(const core::Question& question) override;
    // Shows the wait cursor over the whole application; calls nest.
    void beginBusy() override;
    // Restores the cursor shown before the matching beginBusy.
    void endBusy() override;
    // Creates a ProgressWindow over the owner and shows it without activating it; what it sees
    // is kept in lastProgress.
    std::unique_ptr<core::ProgressPort> openProgress() override;
    // Writes the numbers of the texts beyond the fixed formats in the person's locale.
    const core::NumberFormat& numbers() const override { return m_numbers; }

    // What the last progress window saw since forgetLastCommand.
    const ProgressRecord& lastProgress() const { return m_lastProgress; }
    // The last message shown since forgetLastCommand.
    const std::optional<core::Message>& lastMessage() const { return m_lastMessage; }
    // Clears lastProgress and lastMessage before a command whose end the window tells.
    void forgetLastCommand()
    {
        m_lastProgress = {};
        m_lastMessage.reset();
    }

    // Tells the person that a field needs a whole number (modal, one OK button).
    virtual void promptWholeNumber();

protected:
    // Puts a message in front of the person: a modal box with one OK button.
    virtual void presentMessage(const core::Message& message);

private:
    QPointer<QWidget> m_owner;
    ProgressRecord m_lastProgress;
    std::optional<core::Message> m_lastMessage;
    LocaleNumbers m_numbers;
};

// Turns a message text into display text: each '\r' (or "\r\n") becomes a line break.
QString displayText(const std::string& text);

} // namespace app
