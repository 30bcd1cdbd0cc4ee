// A conversion run: the convert click, the worker's three signals, and the end
// of the run (summary, or shutting the computer down).
#include "mainwindow.h"

#include "messagebox.h"
#include "shutdown.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <numeric>

void MainWindow::on_btnConvert_clicked()
{
    if (currentAdd) {
        convertWhenAdded = true; // see SetAdding()
        return;
    }
    if (inputFiles.isEmpty())
        return;

    QTableWidget *table = ui->tblFiles;
    for (int row = 0; row < table->rowCount(); ++row) {
        for (int column = 0; column < 3; ++column) {
            if (QTableWidgetItem *item = table->item(row, column))
                item->setSelected(false);
        }
    }
    table->setSelectionMode(QAbstractItemView::NoSelection);
    // Nothing may join the queue while the worker reads it: no drops either.
    table->setAcceptDrops(false);

    ui->btnAddFile->setEnabled(false);
    ui->btnChangeDir->setEnabled(false);
    ui->btnConvert->setEnabled(false);

    failedFiles.clear();
    failureDetails.clear();
    filePercents = QVector<int>(inputFiles.size(), 0);

    ui->prgrsConversion->setValue(0);
    ui->prgrsConversion->setVisible(true);
    ui->prgrsConversion->setMaximum(static_cast<int>(inputFiles.size()) * 100);

    thread.inputList = &inputFiles;
    thread.nameList = &fileNames;
    thread.quality = ui->sliderQuality->value();
    thread.outputDir = ui->txtCurrentDir->toPlainText();
    thread.start(QThread::InheritPriority);
    desktop.runStarted();
}

void MainWindow::OnFileProgress(int index, uint completedDuration)
{
    // A report can arrive for no file of the run (after the last file, or
    // after the queue was emptied); it is ignored.
    if (closing || index < 0 || index >= filePercents.size() || index >= fileDurations.size())
        return;
    const uint total = fileDurations.at(index);
    double percent = 0.0;
    if (total > 0)
        percent = static_cast<double>(completedDuration) / total * 100.0;
    // Truncated like the whole-number percentage it is; a report past the
    // recorded duration fills no more than the file's own share.
    filePercents[index] = qMax(filePercents.at(index), static_cast<int>(std::min(percent, 100.0)));
    ShowRunProgress();
}

// Several files convert at once: the bar shows the sum of their shares, and
// only ever moves forward.
void MainWindow::ShowRunProgress()
{
    const int value = std::accumulate(filePercents.cbegin(), filePercents.cend(), 0);
    if (value > ui->prgrsConversion->value())
        ui->prgrsConversion->setValue(qMin(value, ui->prgrsConversion->maximum()));
}

void MainWindow::OnFileExists(QString outputFile)
{
    if (closing || ui->chckShutdown->isChecked()) {
        thread.overwriteExisting = false;
        return;
    }
    const int answer = askWithButtons(
        this, QMessageBox::Question, tr("File Exists"),
        tr("File: %1 exists in the output directory!\nWould you like to overwrite it?").arg(outputFile),
        {tr("Overwrite"), tr("Ignore")});
    thread.overwriteExisting = answer == 0 && !closing;
}

void MainWindow::OnFileCompleted(int index, bool isSuccess)
{
    if (closing || index < 0 || index >= fileNames.size())
        return;
    const ConversionThread::FileResult result = thread.resultOf(index);
    MarkRow(index, isSuccess, result);
    if (!isSuccess) {
        failedFiles.append(fileNames.at(index));
        failureDetails.append(tr("%1: %2").arg(fileNames.at(index), result.failureReason));
    }
    if (index < filePercents.size())
        filePercents[index] = 100;
    ShowRunProgress();
    if (index != fileNames.size() - 1)
        return;
    FinishRun();
}

// Colours the row, and says in its tool tip, after the input's path, what
// the file became or why it failed. A mark in the name cell, and the words a
// screen reader says for it, tell the same without the colour.
void MainWindow::MarkRow(int row, bool isSuccess, const ConversionThread::FileResult &result)
{
    const RowLook &look = isSuccess ? convertedLook : failedLook;
    const QString path = inputFiles.value(row);
    const QString toolTip = isSuccess
        ? tr("%1\nConverted to %2").arg(path, QDir::toNativeSeparators(thread.outputDir + result.outputName))
        : tr("%1\nFailed: %2").arg(path, result.failureReason);
    for (int column = 0; column < 3; ++column) {
        if (QTableWidgetItem *item = ui->tblFiles->item(row, column)) {
            item->setBackground(look.background);
            item->setForeground(look.text);
            item->setToolTip(toolTip);
            item->setData(Qt::AccessibleDescriptionRole, toolTip);
        }
    }
    if (QTableWidgetItem *name = ui->tblFiles->item(row, 0)) {
        name->setIcon(look.mark);
        name->setData(Qt::AccessibleTextRole,
                      isSuccess ? tr("%1, converted").arg(name->text()) : tr("%1, failed").arg(name->text()));
    }
}

// The last file has completed: the computer may sleep again, and a user who
// is elsewhere is told by a desktop notification; then power off, or show
// the summary and either start over or quit.
void MainWindow::FinishRun()
{
    desktop.runEnded();
    if (!isActiveWindow())
        desktop.notifyRunEnded(int(fileNames.size() - failedFiles.size()), int(failedFiles.size()));
    if (ui->chckShutdown->isChecked()) {
        launchShutdown();
        return;
    }

    QString summary = tr("Completed converting the selected files!");
    if (!failedFiles.isEmpty()) {
        // Each name on a line of its own, the last one ended too.
        QString names;
        for (const QString &name : std::as_const(failedFiles))
            names += name + QLatin1Char('\n');
        summary = tr("Completed converting the selected files!\nThe following files failed to be converted:\n%1")
                      .arg(names);
    }
    const int answer = askWithButtons(this, QMessageBox::Information, tr("Conversion Completed!"), summary,
                                      {tr("New Conversion"), tr("Exit")}, failureDetails.join(QLatin1Char('\n')));
    if (closing)
        return;
    if (answer != 0) {
        QCoreApplication::exit(0);
        return;
    }
    ResetForNewConversion();
}

void MainWindow::ResetForNewConversion()
{
    // The worker has reported its last file but may still be leaving its
    // loop; a Convert click before it has returned would start nothing.
    thread.wait();
    ui->prgrsConversion->setVisible(false);
    ui->tblFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ui->tblFiles->setAcceptDrops(true);
    ui->btnAddFile->setEnabled(true);
    ui->btnChangeDir->setEnabled(true);
    ui->btnConvert->setEnabled(true);
    ui->tblFiles->setRowCount(0);
    fileNames.clear();
    inputFiles.clear();
    fileDurations = QVector<uint>();
}
