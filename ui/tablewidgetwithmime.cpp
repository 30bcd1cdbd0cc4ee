#include "tablewidgetwithmime.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QUrl>

TableWidgetWithMime::TableWidgetWithMime(QWidget *parent)
    : QTableWidget(parent)
{
    setAcceptDrops(true);
}

QStringList TableWidgetWithMime::localFilePaths(const QMimeData *mimeData)
{
    if (!mimeData || !mimeData->hasUrls())
        return {};
    QStringList paths;
    for (const QUrl &url : mimeData->urls()) {
        if (!url.isLocalFile())
            return {};
        // A folder is taken too: the window adds the audio files below it.
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            return {};
        paths.append(path);
    }
    return paths;
}

bool TableWidgetWithMime::acceptAsCopy(QDropEvent *event)
{
    if (!acceptDrops() || !(event->possibleActions() & Qt::CopyAction)
        || localFilePaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void TableWidgetWithMime::dragEnterEvent(QDragEnterEvent *event)
{
    acceptAsCopy(event);
}

void TableWidgetWithMime::dragMoveEvent(QDragMoveEvent *event)
{
    acceptAsCopy(event);
}

void TableWidgetWithMime::dragLeaveEvent(QDragLeaveEvent *event)
{
    event->accept();
}

void TableWidgetWithMime::dropEvent(QDropEvent *event)
{
    if (acceptAsCopy(event))
        emit localFilesDropped(localFilePaths(event->mimeData()));
}

// The frame goes around the whole of the rows, not only the current cell;
// the view repaints its whole viewport when the focus comes or goes.
void TableWidgetWithMime::paintEvent(QPaintEvent *event)
{
    QTableWidget::paintEvent(event);
    if (!hasFocus())
        return;
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = viewport()->rect();
    option.backgroundColor = palette().color(QPalette::Base);
    QPainter painter(viewport());
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}
