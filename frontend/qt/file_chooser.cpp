#include "file_chooser.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

void DialogFileChooser::Configure(QFileDialog& dialog) const {
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({QString::fromLatin1(kAllFilesFilter), QString::fromLatin1(kMpegFilter)});
    dialog.selectNameFilter(QString::fromLatin1(kMpegFilter));
    if (!previousChoice_.isEmpty()) {
        const QFileInfo previous(previousChoice_);
        dialog.setDirectory(previous.absolutePath());
        dialog.selectFile(previous.fileName());
    }
}

QString DialogFileChooser::ChooseBaseFile(QWidget* owner) {
    // A fresh dialog every time, so that nothing but the previous choice
    // carries over (the filter in particular).
    QFileDialog dialog(owner);
    Configure(dialog);
    // Blocks the main window only: a message box opened meanwhile by a
    // tick must stay usable.
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return QString();
    }
    previousChoice_ = chosen.first();
    return previousChoice_;
}
