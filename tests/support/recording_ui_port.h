#pragma once

#include "core/user_interface_port.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace test_support {

// Progress calls as the engine made them, in order.
struct ProgressEvent {
    enum class Kind { Range, Position, Statistics, Pump };
    Kind kind;
    int32_t a = 0; // lower / position
    int32_t b = 0; // upper
    int32_t c = 0; // step
    core::ProgressStatistics statistics;
};

// A UiPort that records every message, question and progress call, answers questions from a
// script (No when the script is empty) and asks to abort once a set number of pumps happened.
class RecordingUiPort : public core::UiPort {
public:
    void showMessage(const core::Message& message) override;
    bool askYesNo(const core::Question& question) override;
    void beginBusy() override;
    void endBusy() override;
    std::unique_ptr<core::ProgressPort> openProgress() override;

    // Answers for the next questions, in order.
    std::deque<bool> answers;
    // Abort at this pump (0 = the first pump); negative never aborts.
    int32_t abortAtPump = -1;

    std::vector<core::Message> messages;
    std::vector<core::Question> questions;
    std::vector<ProgressEvent> progress;
    int32_t busyDepth = 0;
    int32_t busyCalls = 0;
    int32_t progressOpened = 0;
    int32_t progressOpen = 0;
    int32_t pumps = 0;

    // The ids of the messages shown, in order.
    std::vector<core::MessageId> messageIds() const;
};

} // namespace test_support
