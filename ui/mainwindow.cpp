// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"

#include "durationprobe.h"
#include "messagebox.h"
#include "probebatch.h"
#include "textfit.h"
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
// The table keeps room for this many rows, whatever the font.
constexpr int kRowsShown = 5;
// Cell texts the columns make room for: a name of this many characters (a
// longer one is shortened in the middle, and its tool tip has it whole), the
// longest duration and the largest size the columns can show.
constexpr int kNameSampleLength = 20;
constexpr qint64 kLongestDuration = 359999;
constexpr qint64 kLargestSize = Q_INT64_C(99999) * 1048576;
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags())
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    ui->pctBanner->setPixmap(QPixmap(QStringLiteral(":/resources/banners/MP3")));
    FitToTexts();
    setWindowTitle(tr("Morvane"));
    setWindowIcon(QIcon(QStringLiteral(":/resources/banners/ICON_AUDIO.ico")));
    ConnectWorker();
    connect(ui->tblFiles, &TableWidgetWithMime::localFilesDropped, this, &MainWindow::AddFiles);
    SetUpKeyboard();
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

// The form's sizes hold its texts at a small font. Where the font or the
// language needs more, the widgets grow, and the window with them; it is
// fixed at that size. The progress bar still counts here, before it is
// hidden, so that showing it during a run takes no room from the texts.
void MainWindow::FitToTexts()
{
    for (QWidget *widget : std::initializer_list<QWidget *>{
             ui->btnAddFile, ui->btnRemoveFile, ui->btnHelp, ui->label_5, ui->btnChangeDir, ui->label_2,
             ui->label_3, ui->chckShutdown, ui->btnConvert})
        growToText(widget);
    growToLine(ui->txtCurrentDir);
    growTable(ui->tblFiles,
              {{QString(kNameSampleLength, QLatin1Char('n'))},
               {DurationCell(QString(), nullptr), durationText(kLongestDuration)},
               {FormatFileSize(kLargestSize)}},
              kRowsShown);
    fixWindowSize(this, size(), ui->pctBanner);
}

// F1 opens the help; Delete in the table removes the selected rows, as
// "Remove Selected" does (and only when it could be clicked).
void MainWindow::SetUpKeyboard()
{
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            &MainWindow::on_btnHelp_clicked);
    auto *remove = new QShortcut(QKeySequence::Delete, ui->tblFiles, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(remove, &QShortcut::activated, this, [this] {
        if (ui->btnRemoveFile->isEnabled())
            on_btnRemoveFile_clicked();
    });
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
        desktop.runEnded();
        thread.requestStop();
        if (QMessageBox *box = openQuestionBox())
            box->done(-1);
    }
    QMainWindow::closeEvent(event);
}
