#pragma once

#include "conversionthread.h"
#include "desktopsession.h"
#include "rowstatus.h"

#include <QMainWindow>
#include <QStringList>
#include <QVector>

class ProbeBatch;
class QTableWidgetItem;
class Ui_MainWindow;

// The program's only window. It owns the queue of files (the table and three
// lists kept in step with it, row by row), the failed files of the current run
// and the one conversion worker.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    // A run still going on is stopped (the running tool ends and its partial
    // output is removed) before the window goes away.
    ~MainWindow() override;

    // Measures a file with the encoder tool: returns the "Duration" text and,
    // when duration is not null, leaves the whole seconds in it (0 when the
    // file could not be measured).
    QString ProbeDuration(QString path, uint *duration);
    // The "File Size" text: "1023 B", "1.50 KB", "4.77 MB".
    static QString FormatFileSize(qint64 size);
    // The user's documents folder, or an empty string when there is none.
    QString DocumentsFolder() const;

    // Adds files to the queue the way the add dialog does. A folder adds the
    // audio files below it, each under its path from the folder's parent
    // (its tree is kept below the output folder); duplicates (the same name
    // or path in the queue, ignoring case, or the same file) are refused with
    // one warning for all of them. Returns once every file is measured
    // (several at a time) or the user cancelled; the window repaints meanwhile.
    void AddFiles(const QStringList &paths);

    // Read-only views of the queue, for whoever needs to look (tests do).
    const QStringList &queuedPaths() const { return inputFiles; }
    const QStringList &queuedNames() const { return fileNames; }
    const QVector<uint> &queuedDurations() const { return fileDurations; }
    const QStringList &failedNames() const { return failedFiles; }
    const QStringList &keptNames() const { return keptFiles; }
    ConversionThread &worker() { return thread; }

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void OnFileCompleted(int index, bool isSuccess);
    void OnFileProgress(int index, uint completedDuration);
    void OnFileExists(QString outputFile);
    void on_btnAddFile_clicked();
    void on_btnRemoveFile_clicked();
    void on_btnChangeDir_clicked();
    void on_btnConvert_clicked();
    void on_tblFiles_itemSelectionChanged();
    void on_tblFiles_itemChanged(QTableWidgetItem *item);
    void on_btnHelp_clicked();

private:
    void FitToTexts();
    void SetUpKeyboard();
    void ConnectWorker();
    void ShowDefaultOutputFolder();
    static QString DurationCell(const QString &probeOutput, uint *duration);
    void MeasureAndAppend(const QStringList &paths, const QStringList &names);
    void SetAdding(ProbeBatch *batch);
    void AppendRow(const QString &path, const QString &name, const QString &probeOutput);
    void MarkRow(int row, bool isSuccess, const ConversionThread::FileResult &result);
    void ShowRunProgress();
    void FinishRun();
    void ResetForNewConversion();

    Ui_MainWindow *ui;
    QStringList inputFiles;
    QStringList fileNames;
    QVector<uint> fileDurations;
    QStringList failedFiles;
    // The files of the current run whose existing MP3 was kept.
    QStringList keptFiles;
    // For the current run: why each failed file failed ("name: reason"),
    // and how far each file has got, in percent.
    QStringList failureDetails;
    QVector<int> filePercents;
    ConversionThread thread;
    // Keeps the computer awake during a run, and tells of its end.
    DesktopSession desktop;
    const RowLook convertedLook = rowLook(true);
    const RowLook failedLook = rowLook(false);
    // Set when the window is closed during a run or an add: the worker's
    // signals are then answered without asking and without showing anything.
    bool closing = false;
    // The add under way, if any (see AddFiles).
    ProbeBatch *currentAdd = nullptr;
    // "Convert" was clicked while files were being added.
    bool convertWhenAdded = false;
    // Where the add dialog opens; empty until the first add of the session.
    QString addDialogFolder;
};
