#pragma once

#include "app/file_picker.h"
#include "app/qt_ui_port.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

namespace app_test {

// A file picker that answers from a script (cancel for a null string or an empty script) and
// records every call.
class ScriptedFilePicker : public app::FilePicker {
public:
    struct Call {
        app::PickerKind kind;
        QStringList filters;
    };

    std::optional<QString> pickFile(QWidget* owner, app::PickerKind kind,
                                    const QStringList& filters) override;

    std::deque<QString> answers;
    std::vector<Call> calls;
};

// The desktop port with its modal boxes replaced by records: messages and prompts are counted,
// questions answered from a script (No when empty). The wait cursor and the progress window are
// the real ones.
class RecordingQtUiPort : public app::QtUiPort {
public:
    void showMessage(const core::Message& message) override;
    bool askYesNo(const core::Question& question) override;
    void promptWholeNumber() override;

    std::deque<bool> answers;
    std::vector<core::Message> messages;
    std::vector<core::Question> questions;
    int prompts = 0;
};

} // namespace app_test
