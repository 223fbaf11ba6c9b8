#include "app/drop_rules.h"

#include "app/file_picker.h"

namespace app {

DroppedFile droppedFileKind(const QString& path)
{
    const QString extension = fileNameExtension(path);
    if (extension.compare(QLatin1String("avi"), Qt::CaseInsensitive) == 0)
        return DroppedFile::Avi;
    if (extension.compare(QLatin1String("ini"), Qt::CaseInsensitive) == 0)
        return DroppedFile::Profile;
    return DroppedFile::Other;
}

DropAction dropAction(DropTarget target, DroppedFile file, const DropContext& context)
{
    if (file == DroppedFile::Profile)
        return DropAction::LoadProfile;
    if (file != DroppedFile::Avi)
        return DropAction::Refuse;
    switch (target) {
    case DropTarget::FastMotionField:
        return DropAction::SetFastMotion;
    case DropTarget::EndingField:
        // The person aimed at the switched-off field; filling another one would surprise.
        return context.endingOn ? DropAction::SetEnding : DropAction::Refuse;
    case DropTarget::LowMotionField:
        return DropAction::SetLowMotion;
    case DropTarget::FinalField:
        return DropAction::SetFinal;
    case DropTarget::Window:
        break;
    }
    if (context.fastMotionEmpty)
        return DropAction::SetFastMotion;
    if (context.lowMotionEmpty)
        return DropAction::SetLowMotion;
    return DropAction::Refuse;
}

} // namespace app
