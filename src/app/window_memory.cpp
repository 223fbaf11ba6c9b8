#include "app/window_memory.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <algorithm>

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
    return stored.toPoint();
}

void WindowMemory::rememberPosition(QPoint position)
{
    userSettings().setValue(kPositionKey, position);
}

QRect fitIntoAreas(const QRect& frame, const QList<QRect>& areas)
{
    if (areas.isEmpty())
        return frame;
    QRect area = areas.front();
    qint64 mostShown = 0;
    for (const QRect& candidate : areas) {
        const QRect shown = candidate.intersected(frame);
        const qint64 pixels = qint64{shown.width()} * shown.height();
        if (pixels > mostShown) {
            mostShown = pixels;
            area = candidate;
        }
    }
    const QSize size = frame.size().boundedTo(area.size());
    // The upper bound never falls below the lower one, since size fits the area.
    return {QPoint(std::clamp(frame.left(), area.left(), area.right() + 1 - size.width()),
                   std::clamp(frame.top(), area.top(), area.bottom() + 1 - size.height())),
            size};
}

void placeOnScreen(QWidget& window, QPoint topLeft)
{
    QList<QRect> areas;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        areas << primary->availableGeometry();
    for (QScreen* screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    const QRect frame = window.frameGeometry();
    const QRect fitted = fitIntoAreas(QRect(topLeft, frame.size()), areas);
    // A fixed size refuses the resize; its frame then starts at the area's left or top edge.
    window.resize(window.size() - (frame.size() - fitted.size()));
    window.move(fitted.topLeft());
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
