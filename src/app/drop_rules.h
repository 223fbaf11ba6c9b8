#pragma once

#include <QString>

namespace app {

// Where on the main window a file is dropped.
enum class DropTarget { Window, FastMotionField, EndingField, LowMotionField, FinalField };

// What a dropped file is, by the extension of its name (any case).
enum class DroppedFile { Avi, Profile, Other };

// What a drop does; Refuse is shown by the drag cursor before the drop.
enum class DropAction { Refuse, SetFastMotion, SetEnding, SetLowMotion, SetFinal, LoadProfile };

// The state of the window a drop depends on.
struct DropContext {
    bool endingOn = false;       // the Ending AVI's field takes files
    bool fastMotionEmpty = true; // the Fast Motion field holds no path
    bool lowMotionEmpty = true;  // the Low Motion field holds no path
};

// Returns the kind of the file at path: ".avi" an AVI, ".ini" a profile, anything else Other.
DroppedFile droppedFileKind(const QString& path);

// Decides a drop: an AVI on a path field sets that field (the Ending field only while the ending
// is on); an AVI elsewhere fills the empty Fast Motion field, else the empty Low Motion field; a
// profile anywhere loads. Everything else is refused.
DropAction dropAction(DropTarget target, DroppedFile file, const DropContext& context);

} // namespace app
