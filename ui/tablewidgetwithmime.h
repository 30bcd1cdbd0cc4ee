#pragma once

#include <QStringList>
#include <QTableWidget>

// The file table. It takes local files and folders dragged onto it (from a
// file manager) and hands their paths to the window, which adds them like
// files chosen in the add dialog (a folder adds the audio files below it).
// Anything else dragged onto it is refused, and an accepted drop is always
// reported to the source as a copy, so the source never takes it as a move
// and deletes its files.
//
// With the keyboard focus it shows a focus frame around its rows, the
// style's own, also while it is empty and has no current cell to mark.
class TableWidgetWithMime : public QTableWidget
{
    Q_OBJECT

public:
    explicit TableWidgetWithMime(QWidget *parent = nullptr);

    // The local paths a drop with this content would add; empty when the
    // content carries anything that is not a local file or folder.
    static QStringList localFilePaths(const QMimeData *mimeData);

signals:
    void localFilesDropped(const QStringList &paths);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool acceptAsCopy(QDropEvent *event);
};
