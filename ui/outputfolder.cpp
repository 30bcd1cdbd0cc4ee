// Choosing the output folder, and opening the help file.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QUrl>

void MainWindow::on_btnChangeDir_clicked()
{
    QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Output Directory"),
                                                       ui->txtCurrentDir->toPlainText(),
                                                       QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    folder = QDir::fromNativeSeparators(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    ui->txtCurrentDir->setPlainText(QDir::toNativeSeparators(folder));
}

// help.chm lies beside the program; the desktop opens it with its CHM viewer.
void MainWindow::on_btnHelp_clicked()
{
    const QString helpFile = QCoreApplication::applicationDirPath() + QStringLiteral("/help.chm");
    QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile));
}
