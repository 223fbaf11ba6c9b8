#pragma once

#include "core/user_interface_port.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace engine {

// Shows the progress of a frame-by-frame step (an encode, a measurement) through a progress
// window of ui: the frames done, the speed and the time left about four times a second, with the
// step's name and pass. Every frame gives the person a chance to abort.
class FrameMeter {
public:
    // Opens the progress window for framesTotal frames (at least one) over passes passes.
    FrameMeter(core::UiPort& ui, int64_t framesTotal, std::string step = {}, int32_t passes = 1);

    // Counts one frame done in pass; returns false once the person aborted.
    [[nodiscard]] bool frameDone(int32_t pass = 1);

private:
    using Clock = std::chrono::steady_clock;
    std::unique_ptr<core::ProgressPort> m_progress;
    core::EncodeProgress m_state;
    Clock::time_point m_started;
    Clock::time_point m_nextReport;
};

} // namespace engine
