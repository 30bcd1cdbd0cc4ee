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
    keptFiles.clear();
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

// The question names the file that would replace the existing one, and
// offers to give the same answer for the rest of the run.
void MainWindow::OnFileExists(QString outputFile)
{
    if (closing || ui->chckShutdown->isChecked()) {
        thread.overwriteExisting = false;
        thread.sameAnswerForRest = true;
        return;
    }
    const QString input = QDir::toNativeSeparators(inputFiles.value(thread.questionIndex.load()));
    QString text = tr("File: %1 exists in the output directory!\nWould you like to overwrite it?")
                       .arg(QDir::toNativeSeparators(outputFile));
    if (!input.isEmpty())
        text += QStringLiteral("\n\n") + tr("It would be replaced by the conversion of %1.").arg(input);
    bool forRest = false;
    const int answer = askWithButtons(this, QMessageBox::Question, tr("File Exists"), text,
                                      {tr("Overwrite"), tr("Ignore")}, QString(),
                                      tr("Do the same for every existing file in this run"), &forRest);
    thread.overwriteExisting = answer == 0 && !closing;
    thread.sameAnswerForRest = forRest && answer >= 0;
}

void MainWindow::OnFileCompleted(int index, bool isSuccess)
{
    if (closing || index < 0 || index >= fileNames.size())
        return;
    const ConversionThread::FileResult result = thread.resultOf(index);
    MarkRow(index, isSuccess, result);
    const QString &name = fileNames.at(index);
    if (result.outcome == ConversionThread::Outcome::Kept) {
        keptFiles.append(name);
        failureDetails.append(tr("%1: %2").arg(name, result.failureReason));
    } else if (!isSuccess) {
        failedFiles.append(name);
        failureDetails.append(tr("%1: %2").arg(name, result.failureReason));
    } else {
        for (const QString &note : result.notes)
            failureDetails.append(tr("%1: converted; %2").arg(name, note));
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
    QString toolTip;
    if (isSuccess) {
        toolTip = tr("%1\nConverted to %2").arg(path, QDir::toNativeSeparators(thread.outputDir + result.outputName));
        for (const QString &note : result.notes)
            toolTip += QLatin1Char('\n') + note;
    } else if (result.outcome == ConversionThread::Outcome::Kept) {
        toolTip = tr("%1\nKept: %2").arg(path, result.failureReason);
    } else {
        toolTip = tr("%1\nFailed: %2").arg(path, result.failureReason);
    }
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
        const bool kept = result.outcome == ConversionThread::Outcome::Kept;
        name->setData(Qt::AccessibleTextRole, isSuccess ? tr("%1, converted").arg(name->text())
                                              : kept    ? tr("%1, kept").arg(name->text())
                                                        : tr("%1, failed").arg(name->text()));
    }
}

// The last file has completed: the computer may sleep again, and a user who
// is elsewhere is told by a desktop notification; then power off, or show
// the summary and either start over or quit.
void MainWindow::FinishRun()
{
    desktop.runEnded();
    const int kept = int(keptFiles.size());
    const int failed = int(failedFiles.size());
    const int converted = int(fileNames.size()) - failed - kept;
    if (!isActiveWindow())
        desktop.notifyRunEnded(converted, failed, kept);
    if (ui->chckShutdown->isChecked()) {
        launchShutdown();
        return;
    }

    // Whole sentences, one paragraph each; at most a screenful of names, and
    // every name with its reason behind "Show Details...".
    QStringList paragraphs;
    paragraphs << (converted > 0 ? tr("Completed converting the selected files!") : tr("No file was converted."));
    if (failed > 0)
        paragraphs << tr("The following files failed to be converted:\n%1").arg(shortList(failedFiles));
    if (kept > 0)
        paragraphs << tr("%n file(s) kept as they were, since their MP3 already exists.", "", kept);
    const QStringList details = failureDetails + thread.runNotes();
    const int answer = askWithButtons(this, QMessageBox::Information, tr("Conversion Completed!"),
                                      paragraphs.join(QLatin1Char('\n')),
                                      {tr("New Conversion"), tr("Exit")}, details.join(QLatin1Char('\n')));
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
