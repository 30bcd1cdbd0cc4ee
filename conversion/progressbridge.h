#pragma once

#include <QEvent>
#include <QtGlobal>

class QCoreApplication;
class QObject;

// The channel that brings the tool's progress reports into the GUI thread.
// The worker posts a ProgressMessageEvent to the application object for every
// "ProgressMessage <seconds>" line the tool writes; the filter installed on the
// application turns it into the worker's fileProgress signal.

// Event type registered at start-up; 0 until registerProgressMessage() runs.
extern int progressMessageId;

// Registers the event type (QEvent::registerEventType) and stores it in
// progressMessageId. Called once, first thing in main (tests call it too).
int registerProgressMessage();

class ProgressMessageEvent : public QEvent
{
public:
    // fileIndex: the file the report belongs to, as the worker knew it when it
    // posted the event. -1 leaves it to the worker's currentIndex at delivery,
    // which may already name the next file.
    explicit ProgressMessageEvent(uint completedSeconds, int fileIndex = -1);
    uint completedSeconds() const { return seconds; }
    int fileIndex() const { return index; }

private:
    uint seconds;
    int index;
};

// For an event of type progressMessageId: emits currentWorker->fileProgress with
// the event's file index (the worker's currentIndex if the event has none) and
// seconds, and returns true (the event is consumed, also when there is no
// worker). Every other event: returns false.
bool progressMessageFilter(QObject *watched, QEvent *event);

// Installs an event filter on the application that forwards to
// progressMessageFilter. The filter object is a child of the application.
void installProgressMessageFilter(QCoreApplication *app);

// Reads one line the tool wrote to standard error: "ProgressMessage <seconds>"
// (trailing blanks and CR allowed). Returns false for any other line.
bool parseProgressLine(const QByteArray &line, uint *completedSeconds);
