#include "cli/console_ui_port.h"

#include "core/format_thousands.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

namespace cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) { g_interrupted = 1; }

bool isTerminal(int fd) { return isatty(fd) == 1; }

// A one-line progress bar rewritten in place on stderr.
class ConsoleProgress : public core::ProgressPort {
public:
    ConsoleProgress(bool draw, const char* activity) : m_draw(draw), m_activity(activity) {}
    ~ConsoleProgress() override
    {
        if (m_draw && m_drawn)
            std::fputs("\n", stderr);
    }

    void setRange(int32_t lower, int32_t upper, int32_t step) override
    {
        m_lower = lower;
        m_upper = upper;
        (void)step; // the bar moves by position, not by steps
    }

    int32_t setPosition(int32_t position) override
    {
        const int32_t previous = m_position;
        m_position = position;
        draw();
        return previous;
    }

    void setStatistics(const core::ProgressStatistics& statistics) override
    {
        m_statistics = statistics;
        draw();
    }

    void setEncodeProgress(const core::EncodeProgress& progress) override
    {
        m_encode = progress;
        draw();
    }

    void pumpMessages(bool allowEscape) override
    {
        if (allowEscape && g_interrupted != 0)
            m_cancelled = true;
    }

    bool cancelled() const override { return m_cancelled; }

    void showCompleted(const core::ProgressStatistics& totals) override
    {
        m_position = m_upper;
        m_statistics = totals;
        draw();
    }

private:
    void draw()
    {
        if (!m_draw)
            return;
        const int64_t span = static_cast<int64_t>(m_upper) - m_lower;
        const int64_t percent = span > 0 ? (static_cast<int64_t>(m_position) - m_lower) * 100 / span : 0;
        constexpr int kWidth = 30;
        const int64_t filled = std::min<int64_t>(kWidth, std::max<int64_t>(0, percent * kWidth / 100));
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(kWidth - filled), '.');
        if (m_encode) {
            const int64_t left = m_encode->secondsLeft;
            std::fprintf(stderr, "\r%s [%s] %3lld%%  pass %d/%d  %.1f fps  %s left   ",
                         m_encode->step.empty() ? "Encoding" : m_encode->step.c_str(), bar.c_str(),
                         static_cast<long long>(percent), m_encode->pass, m_encode->passes, m_encode->framesPerSecond,
                         left < 0 ? "--:--"
                                  : (std::to_string(left / 60) + ":" + (left % 60 < 10 ? "0" : "") +
                                     std::to_string(left % 60))
                                        .c_str());
            std::fflush(stderr);
            m_drawn = true;
            return;
        }
        std::fprintf(stderr, "\r%s [%s] %3lld%%  FM %llds  LM %llds  total %s MB", m_activity, bar.c_str(),
                     static_cast<long long>(percent), static_cast<long long>(m_statistics.fmSeconds),
                     static_cast<long long>(m_statistics.lmSeconds),
                     core::formatThousands(m_statistics.totalBytes / 1048576).c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

    bool m_draw = false;
    const char* m_activity = "";
    bool m_drawn = false;
    bool m_cancelled = false;
    int32_t m_lower = 0;
    int32_t m_upper = 0;
    int32_t m_position = 0;
    core::ProgressStatistics m_statistics;
    std::optional<core::EncodeProgress> m_encode;
};

} // namespace

std::string consoleText(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (c == '\r')
            c = '\n';
    }
    return out;
}

ConsoleUiPort::ConsoleUiPort(Options options) : m_options(options) {}

void ConsoleUiPort::showMessage(const core::Message& message)
{
    std::cerr << consoleText(message.text) << std::endl;
}

bool ConsoleUiPort::askYesNo(const core::Question& question)
{
    std::cerr << consoleText(question.text);
    if (m_options.assumeYes) {
        std::cerr << " yes (--yes)" << std::endl;
        return true;
    }
    if (!isTerminal(STDIN_FILENO)) {
        std::cerr << " no (not asked: no terminal; --yes answers yes)" << std::endl;
        return false;
    }
    std::cerr << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::unique_ptr<core::ProgressPort> ConsoleUiPort::openProgress()
{
    return std::make_unique<ConsoleProgress>(!m_options.quiet && isTerminal(STDERR_FILENO), m_options.activity);
}

ConsoleUiPort::InterruptGuard::InterruptGuard()
{
    g_interrupted = 0;
    std::signal(SIGINT, onInterrupt);
}

ConsoleUiPort::InterruptGuard::~InterruptGuard() { std::signal(SIGINT, SIG_DFL); }

bool ConsoleUiPort::interrupted() { return g_interrupted != 0; }

} // namespace cli
