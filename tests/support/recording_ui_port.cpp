#include "recording_ui_port.h"

namespace test_support {

namespace {

class RecordingProgress : public core::ProgressPort {
public:
    explicit RecordingProgress(RecordingUiPort& owner) : m_owner(owner) { ++m_owner.progressOpen; }
    ~RecordingProgress() override { --m_owner.progressOpen; }

    void setRange(int32_t lower, int32_t upper, int32_t step) override
    {
        m_owner.progress.push_back({ProgressEvent::Kind::Range, lower, upper, step, {}});
    }
    int32_t setPosition(int32_t position) override
    {
        m_owner.progress.push_back({ProgressEvent::Kind::Position, position, 0, 0, {}});
        const int32_t previous = m_position;
        m_position = position;
        return previous;
    }
    void setStatistics(const core::ProgressStatistics& statistics) override
    {
        m_owner.progress.push_back({ProgressEvent::Kind::Statistics, 0, 0, 0, statistics});
    }
    void pumpMessages(bool allowEscape) override
    {
        m_owner.progress.push_back({ProgressEvent::Kind::Pump, allowEscape ? 1 : 0, 0, 0, {}});
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

void RecordingUiPort::showMessage(const core::Message& message) { messages.push_back(message); }

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

void RecordingUiPort::endBusy() { --busyDepth; }

std::unique_ptr<core::ProgressPort> RecordingUiPort::openProgress()
{
    ++progressOpened;
    return std::make_unique<RecordingProgress>(*this);
}

std::vector<core::MessageId> RecordingUiPort::messageIds() const
{
    std::vector<core::MessageId> ids;
    for (const core::Message& message : messages)
        ids.push_back(message.id);
    return ids;
}

} // namespace test_support
