#include "recording_ui_port.h"

#include <utility>

namespace test_support {

namespace {

class RecordingProgress : public core::ProgressPort {
public:
    explicit RecordingProgress(RecordingUiPort& owner) : m_owner(owner) { ++m_owner.progressOpen; }
    ~RecordingProgress() override { --m_owner.progressOpen; }

    void setRange(int32_t, int32_t, int32_t) override {}
    int32_t setPosition(int32_t position) override
    {
        m_owner.positions.push_back(position);
        return std::exchange(m_position, position);
    }
    void setStatistics(const core::ProgressStatistics& shown) override
    {
        m_owner.statistics.push_back(shown);
    }
    void pumpMessages(bool) override
    {
        if (m_owner.abortAtPump >= 0 && m_owner.pumps >= m_owner.abortAtPump)
            m_cancelled = true;
        ++m_owner.pumps;
    }
    bool cancelled() const override { return m_cancelled; }

private:
    RecordingUiPort& m_owner;
    int32_t m_position = 0;
    bool m_cancelled = false;
};

} // namespace

bool RecordingUiPort::askYesNo(const core::Question& question)
{
    questions.push_back(question);
    if (answers.empty())
        return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingUiPort::beginBusy()
{
    ++busyDepth;
    ++busyCalls;
}

std::unique_ptr<core::ProgressPort> RecordingUiPort::openProgress()
{
    ++progressOpened;
    return std::make_unique<RecordingProgress>(*this);
}

} // namespace test_support
