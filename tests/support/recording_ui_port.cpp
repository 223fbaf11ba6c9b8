#include "recording_ui_port.h"

#include <utility>

namespace test_support {

// Records into its owner; cancelled from the owner's pump abortAtPump on.
struct RecordingProgress : core::ProgressPort {
    explicit RecordingProgress(RecordingUiPort& owner) : m_owner(owner) { ++m_owner.progressOpen; }
    ~RecordingProgress() override { --m_owner.progressOpen; }

    void setRange(int32_t, int32_t, int32_t) override {}
    int32_t setPosition(int32_t position) override
    {
        m_owner.positions.push_back(position);
        return std::exchange(m_position, position);
    }
    void setStatistics(const core::ProgressStatistics& s) override { m_owner.statistics.push_back(s); }
    void pumpMessages(bool) override
    {
        m_cancelled = m_cancelled || (m_owner.abortAtPump >= 0 && m_owner.pumps >= m_owner.abortAtPump);
        ++m_owner.pumps;
    }
    bool cancelled() const override { return m_cancelled; }

    RecordingUiPort& m_owner;
    int32_t m_position = 0;
    bool m_cancelled = false;
};

bool RecordingUiPort::askYesNo(const core::Question& question)
{
    questions.push_back(question);
    const bool answer = !answers.empty() && answers.front();
    if (!answers.empty())
        answers.pop_front();
    return answer;
}

std::unique_ptr<core::ProgressPort> RecordingUiPort::openProgress()
{
    ++progressOpened;
    return std::make_unique<RecordingProgress>(*this);
}

} // namespace test_support
