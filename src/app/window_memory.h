#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

class QWidget;

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
    // stored. It may lie off every screen now; placeOnScreen brings it back.
    std::optional<QPoint> position() const;
    // Remembers the top-left corner of the window's frame.
    void rememberPosition(QPoint position);
};

// Returns frame moved, and made smaller where it is larger, to lie inside the one of areas that
// holds most of it, or inside the first area when none holds any of it. No area: frame as it is.
QRect fitIntoAreas(const QRect& frame, const QList<QRect>& areas);

// Moves window's frame to topLeft and fits it into the available area of the screens that exist
// now (the primary screen first): another scale factor or a screen unplugged since cannot leave
// it out of reach. A window of fixed size keeps its size; its top left corner stays visible.
void placeOnScreen(QWidget& window, QPoint topLeft);

// Returns the folder a picker opens in: the folder of the field's path when the field names one
// that exists, otherwise lastFolder.
QString pickerStartFolder(const QString& fieldPath, const QString& lastFolder);

} // namespace app
