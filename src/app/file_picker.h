#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace app {

enum class PickerKind {
    Open,         // any name, also one of a file that does not exist yet
    OpenExisting, // only an existing file
    Save,         // any name; asks before an existing file is chosen
};

// Asks the person for one file name. The main window's commands go through this interface so
// that tests can answer in place of a person.
class FilePicker {
public:
    virtual ~FilePicker() = default;
    // Shows a picker over owner with filters ("Name (*.ext)" entries, the first selected at first),
    // opened in startFolder (the desktop's choice when empty); returns the chosen full path, or
    // nothing when the person cancels.
    virtual std::optional<QString> pickFile(QWidget* owner, PickerKind kind, const QStringList& filters,
                                            const QString& startFolder) = 0;
};

// The desktop's file dialog.
class DialogFilePicker : public FilePicker {
public:
    std::optional<QString> pickFile(QWidget* owner, PickerKind kind, const QStringList& filters,
                                    const QString& startFolder) override;
};

// Returns the extension of the file name in path: what follows the name's last dot, empty when
// the name has no dot or ends in one.
QString fileNameExtension(const QString& path);

// The filters of the four AVI pickers and of the two profile pickers.
QStringList aviFilters();
QStringList profileFilters();

} // namespace app
