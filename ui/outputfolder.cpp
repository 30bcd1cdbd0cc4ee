// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing the output folder, and opening the help.
#include "mainwindow.h"

#include "help.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

void MainWindow::on_btnChangeDir_clicked()
{
    QString folder = QFileDialog::getExistingDirectory(this, tr("Output Directory"),
                                                       ui->txtCurrentDir->toPlainText(),
                                                       QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    folder = QDir::fromNativeSeparators(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    ui->txtCurrentDir->setPlainText(QDir::toNativeSeparators(folder));
}

// The help lies beside the program. When the desktop can show neither
// help.chm nor the HTML pages, the user is told where they are.
void MainWindow::on_btnHelp_clicked()
{
    const HelpFiles files{QCoreApplication::applicationDirPath()};
    if (openHelp(files) != HelpShown::Nothing)
        return;
    QMessageBox::warning(
        this, tr("Help Not Available"),
        tr("No program on this computer could open the help.\n\n"
           "The help files are in %1: open help/index.html in a web browser, "
           "or help.chm in a CHM viewer such as xchm.")
            .arg(QDir::toNativeSeparators(files.folder)));
}
