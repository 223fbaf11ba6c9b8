#include "app/window_memory.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace app {

namespace {

const QString kLastFolderKey = QStringLiteral("lastFolder");
const QString kPositionKey = QStringLiteral("windowPosition");

QSettings userSettings()
{
    return QSettings(QStringLiteral("KestrelIon"), QStringLiteral("kestrelion"));
}

} // namespace

QString WindowMemory::lastFolder() const
{
    const QString folder = userSettings().value(kLastFolderKey).toString();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

void WindowMemory::rememberFolderOf(const QString& path)
{
    userSettings().setValue(kLastFolderKey, QFileInfo(path).absolutePath());
}

std::optional<QPoint> WindowMemory::position() const
{
    const QVariant stored = userSettings().value(kPositionKey);
    if (!stored.canConvert<QPoint>())
        return std::nullopt;
    const QPoint position = stored.toPoint();
    // A screen that was unplugged since would leave the window out of reach.
    if (QGuiApplication::screenAt(position) == nullptr)
        return std::nullopt;
    return position;
}

void WindowMemory::rememberPosition(QPoint position)
{
    userSettings().setValue(kPositionKey, position);
}

QString pickerStartFolder(const QString& fieldPath, const QString& lastFolder)
{
    if (!fieldPath.trimmed().isEmpty()) {
        const QFileInfo field(fieldPath.trimmed());
        if (field.absoluteDir().exists())
            return field.absolutePath();
    }
    return lastFolder;
}

} // namespace app
