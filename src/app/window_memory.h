#pragma once

#include <QPoint>
#include <QString>

#include <optional>

namespace app {

// What the main window remembers between runs, in the user's settings of organisation
// "KestrelIon", application "kestrelion": the folder of the last file a picker chose and the
// window's position. Nothing else is stored there.
class WindowMemory {
public:
    // Returns the folder of the last file any picker chose, empty when none was or the folder is
    // gone.
    QString lastFolder() const;
    // Remembers the folder that holds path.
    void rememberFolderOf(const QString& path);

    // Returns the remembered top-left corner of the window's frame, or nothing when none was
    // stored or no screen shows that point any longer.
    std::optional<QPoint> position() const;
    // Remembers the top-left corner of the window's frame.
    void rememberPosition(QPoint position);
};

// Returns the folder a picker opens in: the folder of the field's path when the field names one
// that exists, otherwise lastFolder.
QString pickerStartFolder(const QString& fieldPath, const QString& lastFolder);

} // namespace app
