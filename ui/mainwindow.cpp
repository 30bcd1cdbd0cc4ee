// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"

#include "messagebox.h"
#include "probebatch.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QPixmap>
#include <QShortcut>
#include <QStandardPaths>

namespace {
constexpr unsigned long kTeardownPollMs = 50;
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags())
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    ui->pctBanner->setPixmap(QPixmap(QStringLiteral(":/resources/banners/MP3")));
    setFixedSize(width(), height());
    setWindowTitle(tr("Morvane"));
    setWindowIcon(QIcon(QStringLiteral(":/resources/banners/ICON_AUDIO.ico")));
    ConnectWorker();
    connect(ui->tblFiles, &TableWidgetWithMime::localFilesDropped, this, &MainWindow::AddFiles);
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            &MainWindow::on_btnHelp_clicked);
    ui->prgrsConversion->setVisible(false);
    ShowDefaultOutputFolder();
}

// A run still going on is stopped before the worker goes. A question the
// worker asked that was never delivered (the event loop ended first) is
// dropped: it is this window's own queued call, and the worker takes the
// missing answer as "do not overwrite".
MainWindow::~MainWindow()
{
    closing = true;
    thread.requestStop();
    while (!thread.wait(kTeardownPollMs))
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    delete ui;
}

void MainWindow::ConnectWorker()
{
    connect(&thread, &ConversionThread::fileCompleted, this, &MainWindow::OnFileCompleted,
            Qt::AutoConnection);
    connect(&thread, &ConversionThread::fileExists, this, &MainWindow::OnFileExists,
            Qt::BlockingQueuedConnection);
    connect(&thread, &ConversionThread::fileProgress, this, &MainWindow::OnFileProgress,
            Qt::AutoConnection);
}

QString MainWindow::DocumentsFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// "<documents>/<title> Output/", created at every start; shown with exactly
// one trailing separator, since output names are appended to it directly.
void MainWindow::ShowDefaultOutputFolder()
{
    const QString path = QDir::fromNativeSeparators(DocumentsFolder()) + QLatin1Char('/')
                         + windowTitle() + QStringLiteral(" Output") + QLatin1Char('/');
    const QDir folder(path);
    folder.mkpath(folder.absolutePath());
    ui->txtCurrentDir->setPlainText(QDir::toNativeSeparators(folder.absolutePath())
                                    + QDir::separator());
}

// Closing the window while files are converting: a question the worker waits
// for is ended unanswered (the file is not overwritten), and the run is
// stopped (the worker's destructor waits for it once the window is gone).
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (currentAdd) {
        closing = true;
        currentAdd->cancel();
    }
    if (thread.isRunning()) {
        closing = true;
        thread.requestStop();
        if (QMessageBox *box = openQuestionBox())
            box->done(-1);
    }
    QMainWindow::closeEvent(event);
}
