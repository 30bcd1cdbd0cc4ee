// A conversion run: the convert click, the worker's three signals, and the end
// of the run (summary, or shutting the computer down).
#include "mainwindow.h"

#include "messagebox.h"
#include "shutdown.h"
#include "ui_mainwindow.h"

#include <QColor>
#include <QCoreApplication>

#include <limits>

void MainWindow::on_btnConvert_clicked()
{
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

    ui->prgrsConversion->setValue(0);
    ui->prgrsConversion->setVisible(true);
    ui->prgrsConversion->setMaximum(static_cast<int>(inputFiles.size()) * 100);

    thread.inputList = &inputFiles;
    thread.nameList = &fileNames;
    thread.quality = ui->sliderQuality->value();
    thread.outputDir = ui->txtCurrentDir->toPlainText();
    thread.start(QThread::InheritPriority);
}

void MainWindow::OnFileProgress(int index, uint completedDuration)
{
    // A report can arrive for no file of the queue (after the last file, or
    // after the queue was emptied); it is ignored.
    if (closing || index < 0 || index >= fileDurations.size())
        return;
    const uint total = fileDurations.at(index);
    double percent = 0.0;
    if (total > 0)
        percent = static_cast<double>(completedDuration) / total * 100.0;
    // Truncated like the whole-number percentage it is; a report past the
    // recorded duration may run past the file's share of the bar.
    const qint64 value = qint64(index) * 100
                         + static_cast<qint64>(std::min(percent, double(std::numeric_limits<uint>::max())));
    // Values beyond the bar's range are ignored, as QProgressBar itself does.
    if (value <= ui->prgrsConversion->maximum())
        ui->prgrsConversion->setValue(static_cast<int>(value));
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
    MarkRow(index, isSuccess);
    if (!isSuccess)
        failedFiles.append(fileNames.at(index));
    ui->prgrsConversion->setValue((index + 1) * 100);
    if (index != fileNames.size() - 1)
        return;
    FinishRun();
}

void MainWindow::MarkRow(int row, bool isSuccess)
{
    const QColor colour = isSuccess ? QColor(Qt::darkGreen) : QColor(Qt::red);
    for (int column = 0; column < 3; ++column) {
        if (QTableWidgetItem *item = ui->tblFiles->item(row, column))
            item->setBackground(colour);
    }
}

// The last file has completed: power off, or show the summary and either
// start over or quit.
void MainWindow::FinishRun()
{
    if (ui->chckShutdown->isChecked()) {
        launchShutdown();
        return;
    }

    QString summary = tr("Completed converting the selected files!");
    if (!failedFiles.isEmpty()) {
        summary += tr("\nThe following files failed to be converted:\n");
        for (const QString &name : std::as_const(failedFiles))
            summary += name + QLatin1Char('\n');
    }
    const int answer = askWithButtons(this, QMessageBox::Information, tr("Conversion Completed!"),
                                      summary, {tr("New Conversion"), tr("Exit")});
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
