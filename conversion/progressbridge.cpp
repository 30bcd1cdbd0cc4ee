#include "progressbridge.h"

#include "conversionthread.h"
#include "toolcontract.h"

#include <QCoreApplication>
#include <QObject>

#include <limits>

int progressMessageId = 0;

namespace {

const QByteArray kProgressPrefix(toolcontract::kProgressPrefix);

// Forwards the application's events to progressMessageFilter. As a filter on
// the application object it sees every event of the GUI thread first.
class ProgressMessageFilterObject : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        return progressMessageFilter(watched, event);
    }
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

int registerProgressMessage()
{
    if (progressMessageId == 0)
        progressMessageId = QEvent::registerEventType();
    return progressMessageId;
}

ProgressMessageEvent::ProgressMessageEvent(uint completedSeconds, int fileIndex)
    : QEvent(QEvent::Type(progressMessageId)), seconds(completedSeconds), index(fileIndex)
{
}

bool progressMessageFilter(QObject *watched, QEvent *event)
{
    Q_UNUSED(watched);
    if (progressMessageId == 0 || event->type() != progressMessageId)
        return false;
    const auto *progress = dynamic_cast<const ProgressMessageEvent *>(event);
    ConversionThread *worker = currentWorker;
    if (progress && worker) {
        const int index = progress->fileIndex() >= 0 ? progress->fileIndex()
                                                      : worker->currentIndex.load();
        emit worker->fileProgress(index, progress->completedSeconds());
    }
    return true;
}

void installProgressMessageFilter(QCoreApplication *app)
{
    app->installEventFilter(new ProgressMessageFilterObject(app));
}

bool parseProgressLine(const QByteArray &line, uint *completedSeconds)
{
    qsizetype end = line.size();
    while (end > 0 && isBlank(line.at(end - 1)))
        --end;
    if (!line.startsWith(kProgressPrefix))
        return false;
    qsizetype begin = kProgressPrefix.size();
    if (begin >= end || line.at(begin) != ' ')
        return false;
    while (begin < end && line.at(begin) == ' ')
        ++begin;
    if (begin == end)
        return false;

    // Digits only: no sign, no blanks inside, and no more than uint holds.
    quint64 value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const char c = line.at(i);
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + quint64(c - '0');
        if (value > std::numeric_limits<uint>::max())
            return false;
    }
    if (completedSeconds)
        *completedSeconds = uint(value);
    return true;
}
