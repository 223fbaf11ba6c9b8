#pragma once

#include "core/user_interface_port.h"

#include <atomic>
#include <memory>

namespace cli {

// How the batch front end talks to a person: messages on stderr, questions on the terminal,
// a progress bar on stderr when it is a terminal, Ctrl-C as the abort button.
class ConsoleUiPort : public core::UiPort {
public:
    struct Options {
        bool assumeYes = false;            // answer Yes to every question without asking
        bool quiet = false;                // no progress bar
        const char* activity = "Creating"; // the progress bar's first word
    };

    explicit ConsoleUiPort(Options options);

    // Shows the message on stderr, each '\r' as a line break.
    void showMessage(const core::Message& message) override;
    // Answers Yes with assumeYes; otherwise asks on the terminal, and answers No without one.
    bool askYesNo(const core::Question& question) override;
    void beginBusy() override {}
    void endBusy() override {}
    std::unique_ptr<core::ProgressPort> openProgress() override;

    // Makes Ctrl-C (SIGINT) request an abort of the copy instead of ending the process, for the
    // lifetime of the returned guard.
    class InterruptGuard {
    public:
        InterruptGuard();
        ~InterruptGuard();
        InterruptGuard(const InterruptGuard&) = delete;
        InterruptGuard& operator=(const InterruptGuard&) = delete;
    };
    // True once Ctrl-C was pressed while an InterruptGuard lived.
    static bool interrupted();

private:
    Options m_options;
};

// Turns each '\r' of a message into a line break.
std::string consoleText(const std::string& text);

} // namespace cli
