// SPDX-License-Identifier: GPL-3.0-or-later
// The queue of files: adding (dialog, drops, folders), removing, the enabling
// rules, and the texts of the "Duration" and "File Size" columns.
#include "mainwindow.h"

#include "adddialog.h"
#include "audioformats.h"
#include "durationprobe.h"
#include "encodertool.h"
#include "messagebox.h"
#include "probebatch.h"
#include "queuepaths.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSet>
#include <QStandardPaths>

namespace {

constexpr Qt::Alignment kCentred = Qt::AlignHCenter | Qt::AlignVCenter;
// An add that takes longer than this shows its progress, with Cancel.
constexpr int kAddProgressDelayMs = 500;

} // namespace

QString MainWindow::ProbeDuration(QString path, uint *duration)
{
    return DurationCell(runDurationProbe(encoderToolPath(), path), duration);
}

QString MainWindow::DurationCell(const QString &probeOutput, uint *duration)
{
    QString text = tr("Couldn't estimate duration");
    const qint64 seconds = parseProbeOutput(probeOutput);
    if (duration)
        *duration = static_cast<uint>(seconds);
    if (seconds > 0)
        text = durationText(seconds);
    return text;
}

QString MainWindow::FormatFileSize(qint64 size)
{
    const qint64 kilobytes = size / 1024;
    if (kilobytes == 0)
        return QString::number(size) + QStringLiteral(" B");
    if (kilobytes < 1024)
        return QString::number(size * (1.0 / 1024.0), 'f', 2) + QStringLiteral(" KB");
    return QString::number(size * (1.0 / 1048576.0), 'f', 2) + QStringLiteral(" MB");
}

// The dialog starts in the user's music folder, and later in the folder the
// last files came from, by whatever way they were added.
void MainWindow::on_btnAddFile_clicked()
{
    if (addDialogFolder.isEmpty()) {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        addDialogFolder = QFileInfo(music).isDir() ? music : QDir::homePath();
    }
    const QString filter = tr("All Sound Files (%1)").arg(audioFilePatterns()) + QStringLiteral(";;")
                           + tr("All Files (*)");
    AddDialog dialog(this, addDialogFolder, filter);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen().isEmpty())
        return;
    AddFiles(dialog.chosen());
}

// A file chosen on its own is queued under its name; a file found in a chosen
// folder under its path from that folder's parent, which its MP3 keeps below
// the output folder. Two entries with the same such path (letter case aside)
// would write one MP3, and the same file twice would be converted twice:
// both are refused.
void MainWindow::AddFiles(const QStringList &paths)
{
    // The worker reads the queue during a run, and an add already under way
    // owns the rows being appended.
    if (thread.isRunning() || currentAdd || paths.isEmpty())
        return;
    const QFileInfo first(QDir::fromNativeSeparators(paths.first()));
    addDialogFolder = first.isDir() ? first.absoluteFilePath() : first.absolutePath();
    QStringList candidates;
    QStringList candidateNames;
    QStringList skipped;
    for (const QString &chosen : paths) {
        const QString path = QDir::fromNativeSeparators(chosen);
        if (QFileInfo(path).isDir()) {
            QStringList notAudio;
            for (const QString &file : audioFilesIn(path, &notAudio)) {
                candidates << file;
                candidateNames << queuePathInFolder(path, file);
            }
            for (const QString &file : std::as_const(notAudio))
                skipped << queuePathInFolder(path, file);
        } else {
            candidates << path;
            candidateNames << fileNameOfPath(path);
        }
    }

    QSet<QString> knownNames;
    QSet<QString> knownFiles;
    for (const QString &name : std::as_const(fileNames))
        knownNames.insert(name.toCaseFolded());
    for (const QString &path : std::as_const(inputFiles))
        knownFiles.insert(QFileInfo(path).absoluteFilePath());
    QStringList refused;
    QStringList accepted;
    QStringList acceptedNames;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const QString &name = candidateNames.at(i);
        const QString key = name.toCaseFolded();
        const QString file = QFileInfo(candidates.at(i)).absoluteFilePath();
        if (knownNames.contains(key) || knownFiles.contains(file)) {
            refused << name;
            continue;
        }
        knownNames.insert(key);
        knownFiles.insert(file);
        accepted << candidates.at(i);
        acceptedNames << name;
    }

    MeasureAndAppend(accepted, acceptedNames);
    if (closing)
        return;
    if (!refused.isEmpty()) {
        showFileList(this, QMessageBox::Warning, tr("Duplicate Files"),
                     tr("The following files already exist in the list and will not be added:\n%1"), refused);
    }
    if (!skipped.isEmpty()) {
        showFileList(this, QMessageBox::Information, tr("Files Skipped"),
                     tr("%n file(s) in the added folders are not audio files and were not added:\n%1", "",
                        int(skipped.size())),
                     skipped);
    }
}

// Measures the files several at a time and appends their rows in the order
// given. The window keeps repainting meanwhile; when it takes a while, a
// progress dialog offers Cancel, which keeps the files measured so far.
void MainWindow::MeasureAndAppend(const QStringList &paths, const QStringList &names)
{
    if (paths.isEmpty())
        return;
    ProbeBatch batch(encoderToolPath(), paths, QThread::idealThreadCount(), kProbeTimeoutMs);
    QProgressDialog progress(tr("Measuring the files to add..."), tr("Cancel"), 0, int(paths.size()), this);
    progress.setWindowTitle(tr("Adding Files"));
    // Not modal: a modal progress dialog handles events inside every
    // setValue(), which here runs inside the handing out of results.
    progress.setWindowModality(Qt::NonModal);
    progress.setMinimumDuration(kAddProgressDelayMs);
    progress.setValue(0);
    QEventLoop loop;
    int handled = 0;
    connect(&batch, &ProbeBatch::measured, this, [&](int index, const QString &output) {
        const QString &path = paths.at(index);
        AppendRow(path, names.at(index), output);
        progress.setValue(++handled);
    });
    connect(&progress, &QProgressDialog::canceled, &batch, &ProbeBatch::cancel);

    connect(&progress, &QProgressDialog::canceled, this, [this] { convertWhenAdded = false; });
    connect(&batch, &ProbeBatch::finished, &loop, &QEventLoop::quit);

    SetAdding(&batch);
    batch.start();
    if (!batch.isFinished())
        loop.exec();
    // The loop also ends when the program quits (the window was closed).
    batch.cancel();
    SetAdding(nullptr);
    if (convertWhenAdded && !closing) {
        convertWhenAdded = false;
        on_btnConvert_clicked();
    }
}

// While files are being added, nothing else may join the queue. "Convert"
// stays available: a click meanwhile starts the run once the add is done, as
// a click made while the window was busy would.
void MainWindow::SetAdding(ProbeBatch *batch)
{
    currentAdd = batch;
    const bool adding = batch != nullptr;
    ui->btnAddFile->setEnabled(!adding);
    ui->tblFiles->setAcceptDrops(!adding);
    ui->btnConvert->setEnabled(adding || ui->tblFiles->rowCount() > 0);
}

void MainWindow::AppendRow(const QString &path, const QString &name, const QString &probeOutput)
{
    QTableWidget *table = ui->tblFiles;
    const int row = table->rowCount();
    table->insertRow(row);

    auto *nameItem = new QTableWidgetItem(name);
    nameItem->setToolTip(path);
    table->setItem(row, 0, nameItem);

    uint duration = 0;
    auto *durationItem = new QTableWidgetItem(DurationCell(probeOutput, &duration));
    durationItem->setTextAlignment(kCentred);
    table->setItem(row, 1, durationItem);

    auto *sizeItem = new QTableWidgetItem(FormatFileSize(QFileInfo(path).size()));
    sizeItem->setTextAlignment(kCentred);
    table->setItem(row, 2, sizeItem);

    fileNames.append(name);
    inputFiles.append(path);
    fileDurations.append(duration);
}

// The selected rows go from the table and from the three lists in one pass
// each, so that removing thousands of rows costs no more than listing them.
void MainWindow::on_btnRemoveFile_clicked()
{
    QTableWidget *table = ui->tblFiles;
    QVector<bool> selected(table->rowCount(), false);
    for (const QModelIndex &index : table->selectionModel()->selectedIndexes())
        selected[index.row()] = true;

    QStringList keptPaths;
    QStringList keptNames;
    QVector<uint> keptDurations;
    for (int row = 0; row < selected.size(); ++row) {
        if (selected.at(row))
            continue;
        if (row < inputFiles.size())
            keptPaths << inputFiles.at(row);
        if (row < fileNames.size())
            keptNames << fileNames.at(row);
        if (row < fileDurations.size())
            keptDurations << fileDurations.at(row);
    }
    inputFiles = keptPaths;
    fileNames = keptNames;
    fileDurations = keptDurations;

    // Runs of selected rows, last first, so the row numbers ahead stay valid.
    for (int end = int(selected.size()); end > 0;) {
        if (!selected.at(end - 1)) {
            --end;
            continue;
        }
        int begin = end - 1;
        while (begin > 0 && selected.at(begin - 1))
            --begin;
        table->model()->removeRows(begin, end - begin);
        end = begin;
    }
    if (table->rowCount() == 0)
        ui->btnConvert->setEnabled(false);
}

void MainWindow::on_tblFiles_itemSelectionChanged()
{
    ui->btnRemoveFile->setEnabled(ui->tblFiles->selectionModel()->hasSelection());
}

// Marking the rows of a run changes its items too, the last row's after the
// worker may have ended already: while the run's layout shows (the progress
// bar, until "New Conversion"), Convert stays as the run left it.
void MainWindow::on_tblFiles_itemChanged(QTableWidgetItem *)
{
    if (thread.isRunning() || currentAdd || !ui->prgrsConversion->isHidden())
        return;
    ui->btnConvert->setEnabled(ui->tblFiles->rowCount() > 0);
}
