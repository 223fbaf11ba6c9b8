#pragma once

#include "core/user_interface_port.h"

#include <deque>
#include <memory>
#include <vector>

namespace test_support {

// A UiPort that records every message, question and progress update, answers questions from a
// script (No when the script is empty) and asks to abort once a set number of pumps happened.
struct RecordingUiPort : core::UiPort {
    void showMessage(const core::Message& message) override { messages.push_back(message); }
    bool askYesNo(const core::Question& question) override;
    void beginBusy() override { ++busyDepth, ++busyCalls; }
    void endBusy() override { --busyDepth; }
    std::unique_ptr<core::ProgressPort> openProgress() override;

    // Answers for the next questions, in order.
    std::deque<bool> answers;
    // Abort at this pump (0 = the first pump); negative never aborts.
    int32_t abortAtPump = -1;

    std::vector<core::Message> messages;
    std::vector<core::Question> questions;
    std::vector<int32_t> positions;                   // every progress position set, in order
    std::vector<core::ProgressStatistics> statistics; // every progress statistics shown, in order
    int32_t busyDepth = 0, busyCalls = 0, progressOpened = 0, progressOpen = 0, pumps = 0;
};

} // namespace test_support
