// The queue of files: adding (dialog and drops), removing, the enabling rules,
// and the texts of the "Duration" and "File Size" columns.
#include "mainwindow.h"

#include "durationprobe.h"
#include "encodertool.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <algorithm>

namespace {
constexpr Qt::Alignment kCentred = Qt::AlignHCenter | Qt::AlignVCenter;
}

QString MainWindow::ProbeDuration(QString path, uint *duration)
{
    QString text = tr("Couldn't estimate duration");
    const qint64 seconds = parseProbeOutput(runDurationProbe(encoderToolPath(), path));
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

void MainWindow::on_btnAddFile_clicked()
{
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, tr("Add File(s)"), QString(),
        tr("All Sound Files (*.aac *.aif *.iff *.mid *.mp3 *.mpa *.ra *.wav *.wma);;All Files (*.*)"));
    AddFiles(paths);
}

void MainWindow::AddFiles(const QStringList &paths)
{
    QString refused;
    for (const QString &chosen : paths) {
        const QString path = QDir::fromNativeSeparators(chosen);
        const QString name = fileNameOfPath(path);
        if (fileNames.contains(name, Qt::CaseInsensitive)) {
            refused += QLatin1Char('\n') + name;
            continue;
        }
        AppendRow(path, name);
    }
    if (!refused.isEmpty()) {
        QMessageBox::warning(
            this, tr("Duplicate Files"),
            tr("The folowing files already exist in the list and will not be added:") + refused,
            QMessageBox::Ok, QMessageBox::NoButton);
    }
}

void MainWindow::AppendRow(const QString &path, const QString &name)
{
    QTableWidget *table = ui->tblFiles;
    const int row = table->rowCount();
    table->insertRow(row);

    auto *nameItem = new QTableWidgetItem(name);
    nameItem->setToolTip(path);
    table->setItem(row, 0, nameItem);

    uint duration = 0;
    auto *durationItem = new QTableWidgetItem(ProbeDuration(path, &duration));
    durationItem->setTextAlignment(kCentred);
    table->setItem(row, 1, durationItem);

    auto *sizeItem = new QTableWidgetItem(FormatFileSize(QFileInfo(path).size()));
    sizeItem->setTextAlignment(kCentred);
    table->setItem(row, 2, sizeItem);

    fileNames.append(name);
    inputFiles.append(path);
    fileDurations.append(duration);
}

void MainWindow::on_btnRemoveFile_clicked()
{
    QTableWidget *table = ui->tblFiles;
    QVector<int> rows;
    for (const QTableWidgetItem *item : table->selectedItems()) {
        if (!rows.contains(item->row()))
            rows.append(item->row());
    }
    std::sort(rows.begin(), rows.end());

    int removed = 0;
    for (const int row : std::as_const(rows)) {
        const int index = row - removed;
        if (index < inputFiles.size())
            inputFiles.removeAt(index);
        if (index < fileNames.size())
            fileNames.removeAt(index);
        if (index < fileDurations.size())
            fileDurations.removeAt(index);
        for (int column = 0; column < table->columnCount(); ++column)
            delete table->takeItem(index, column);
        table->removeRow(index);
        ++removed;
    }
    if (table->rowCount() == 0)
        ui->btnConvert->setEnabled(false);
}

void MainWindow::on_tblFiles_itemSelectionChanged()
{
    ui->btnRemoveFile->setEnabled(!ui->tblFiles->selectedItems().isEmpty());
}

void MainWindow::on_tblFiles_itemChanged(QTableWidgetItem *)
{
    if (thread.isRunning())
        return;
    ui->btnConvert->setEnabled(ui->tblFiles->rowCount() > 0);
}
