// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFileDialog>
#include <QStringList>

// The add dialog: files, and folders too. Files are chosen as in any open
// dialog; a folder selected in the list, or typed, and then "Add"ed is
// taken whole (the window adds the audio files below it, as for a dropped
// folder). Double-clicking a folder still opens it.
class AddDialog : public QFileDialog
{
    Q_OBJECT

public:
    AddDialog(QWidget *parent, const QString &folder, const QString &filter);

    // What was chosen: files and folders, absolute paths; empty if cancelled.
    QStringList chosen() const { return picked; }

    void accept() override;

private:
    QStringList picked;
};
