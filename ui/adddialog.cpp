// SPDX-License-Identifier: GPL-3.0-or-later
#include "adddialog.h"

#include <QFileInfo>

AddDialog::AddDialog(QWidget *parent, const QString &folder, const QString &filter)
    : QFileDialog(parent, tr("Add File(s)"), folder, filter)
{
    // Qt's own dialog, whose accepting this class decides; a desktop's
    // dialog would open a chosen folder instead of adding it.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, tr("&Add"));
    setLabelText(QFileDialog::FileName, tr("Files or folder:"));
}

void AddDialog::accept()
{
    const QStringList selection = selectedFiles();
    bool folderChosen = false;
    bool allThere = !selection.isEmpty();
    for (const QString &path : selection) {
        const QFileInfo entry(path);
        folderChosen = folderChosen || entry.isDir();
        allThere = allThere && entry.exists();
    }
    // Files alone are checked by the dialog as always; a folder among them
    // is taken as chosen rather than opened.
    if (folderChosen && allThere) {
        picked = selection;
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
    if (result() == QDialog::Accepted)
        picked = selectedFiles();
}
