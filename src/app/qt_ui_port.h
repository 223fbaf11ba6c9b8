#pragma once

#include "core/user_interface_port.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>

namespace app {

// The engine's user-interface interface on the desktop: message boxes over the owner window,
// the wait cursor, and a ProgressWindow for Create. Tests derive from it to answer boxes.
class QtUiPort : public core::UiPort {
public:
    // Makes a port whose boxes and progress window belong to owner (may be set later).
    explicit QtUiPort(QWidget* owner = nullptr);

    // Sets the window that boxes and the progress window belong to.
    void setOwner(QWidget* owner);
    QWidget* owner() const { return m_owner; }

    // Shows a modal box with the message and one OK button.
    void showMessage(const core::Message& message) override;
    // Shows a modal box with Yes and No; returns true for Yes.
    bool askYesNo(const core::Question& question) override;
    // Shows the wait cursor over the whole application; calls nest.
    void beginBusy() override;
    // Restores the cursor shown before the matching beginBusy.
    void endBusy() override;
    // Creates a ProgressWindow over the owner and shows it without activating it.
    std::unique_ptr<core::ProgressPort> openProgress() override;

    // Tells the person that a field needs a whole number (modal, one OK button).
    virtual void promptWholeNumber();

private:
    QPointer<QWidget> m_owner;
};

// Turns a message text into display text: each '\r' (or "\r\n") becomes a line break.
QString displayText(const std::string& text);

} // namespace app
