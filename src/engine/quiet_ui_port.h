#pragma once

#include "core/user_interface_port.h"

#include <cstdint>
#include <memory>

namespace engine {

// A UiPort for the counts that follow the settings (the exact size, Fit): it opens no box, no
// busy cursor and no progress display, and answers the frame-count question Yes without asking,
// since a count only tells what Create would write after a Yes. Messages go on to forwardTo when
// one is given, else nowhere.
class QuietUiPort : public core::UiPort {
public:
    explicit QuietUiPort(core::UiPort* forwardTo = nullptr) : m_forwardTo(forwardTo) {}

    void showMessage(const core::Message& message) override
    {
        ++m_messagesShown;
        if (m_forwardTo != nullptr)
            m_forwardTo->showMessage(message);
    }
    bool askYesNo(const core::Question&) override { return true; }
    void beginBusy() override {}
    void endBusy() override {}
    std::unique_ptr<core::ProgressPort> openProgress() override { return nullptr; }
    // Writes numbers as the port the messages go on to does.
    const core::NumberFormat& numbers() const override
    {
        return m_forwardTo != nullptr ? m_forwardTo->numbers() : core::plainNumbers();
    }

    // Returns how many messages were shown (or would have been).
    int32_t messagesShown() const { return m_messagesShown; }

private:
    core::UiPort* m_forwardTo = nullptr;
    int32_t m_messagesShown = 0;
};

} // namespace engine
