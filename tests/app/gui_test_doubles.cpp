#include "gui_test_doubles.h"

namespace app_test {

std::optional<QString> ScriptedFilePicker::pickFile(QWidget*, app::PickerKind kind,
                                                    const QStringList& filters)
{
    calls.push_back({kind, filters});
    if (answers.empty())
        return std::nullopt;
    const QString answer = answers.front();
    answers.pop_front();
    if (answer.isNull())
        return std::nullopt;
    return answer;
}

void RecordingQtUiPort::showMessage(const core::Message& message)
{
    messages.push_back(message);
}

bool RecordingQtUiPort::askYesNo(const core::Question& question)
{
    questions.push_back(question);
    if (answers.empty())
        return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingQtUiPort::promptWholeNumber()
{
    ++prompts;
}

} // namespace app_test
