#include "engine/frame_meter.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace engine {

FrameMeter::FrameMeter(core::UiPort& ui, int64_t framesTotal, std::string step, int32_t passes)
    : m_progress(ui.openProgress()), m_started(Clock::now())
{
    m_state.step = std::move(step);
    m_state.framesTotal = std::max<int64_t>(framesTotal, 1);
    m_state.passes = passes;
    m_progress->setRange(0, static_cast<int32_t>(std::min<int64_t>(m_state.framesTotal, INT32_MAX)), 1);
}

bool FrameMeter::frameDone(int32_t pass)
{
    ++m_state.framesDone;
    m_state.pass = pass;
    const Clock::time_point now = Clock::now();
    if (now >= m_nextReport || m_state.framesDone >= m_state.framesTotal) {
        m_nextReport = now + std::chrono::milliseconds(250);
        const double seconds = std::chrono::duration<double>(now - m_started).count();
        m_state.framesPerSecond = seconds > 0 ? double(m_state.framesDone) / seconds : 0;
        m_state.secondsLeft =
            m_state.framesPerSecond > 0
                ? std::llround(double(m_state.framesTotal - m_state.framesDone) / m_state.framesPerSecond)
                : -1;
        (void)m_progress->setPosition(static_cast<int32_t>(std::min<int64_t>(m_state.framesDone, INT32_MAX)));
        m_progress->setEncodeProgress(m_state);
    }
    m_progress->pumpMessages(true);
    return !m_progress->cancelled();
}

} // namespace engine
