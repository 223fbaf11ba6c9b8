#include "app/file_picker.h"

#include <QFileDialog>

namespace app {

std::optional<QString> DialogFilePicker::pickFile(QWidget* owner, PickerKind kind, const QStringList& filters,
                                                  const QString& startFolder)
{
    QFileDialog dialog(owner);
    if (!startFolder.isEmpty())
        dialog.setDirectory(startFolder);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.front());
    switch (kind) {
    case PickerKind::Open:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::AnyFile);
        break;
    case PickerKind::OpenExisting:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case PickerKind::Save:
        // Overwrite confirmation is on by default for the save mode.
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        break;
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

QString fileNameExtension(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QStringList aviFilters()
{
    return {QStringLiteral("DivX ;-) AVI-Files (*.avi)"), QStringLiteral("All Files (*.*)")};
}

QStringList profileFilters()
{
    return {QStringLiteral("KestrelIon Profile-Files (*.ini)"), QStringLiteral("All Files (*.*)")};
}

} // namespace app
