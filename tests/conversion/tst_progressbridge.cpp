// The progress bridge: progress events posted to the application become the
// worker's fileProgress signal in the GUI thread and go no further.

#include "conversionthread.h"
#include "progressbridge.h"

#include <QCoreApplication>
#include <QtTest>

#include <memory>

namespace {

// Sees the application's events after the bridge (it is installed before the
// bridge, and filters installed later run first).
class Witness : public QObject
{
public:
    QList<int> seenTypes;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == QCoreApplication::instance() && event->type() >= QEvent::User)
            seenTypes << event->type();
        return false;
    }
};

} // namespace

class TestProgressBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { witness.seenTypes.clear(); }

    void eventBecomesProgressOfItsFile();
    void eventWithoutWorkerIsConsumed();
    void currentWorkerFollowsLifetime();

private:
    Witness witness;
    int otherType = 0;
};

void TestProgressBridge::initTestCase()
{
    QCoreApplication::instance()->installEventFilter(&witness);
    QVERIFY(registerProgressMessage() >= QEvent::User);
    QCOMPARE(registerProgressMessage(), progressMessageId); // registered once
    installProgressMessageFilter(QCoreApplication::instance());
    otherType = QEvent::registerEventType();
}

void TestProgressBridge::eventBecomesProgressOfItsFile()
{
    ConversionThread worker;
    worker.currentIndex = 2;
    QSignalSpy progress(&worker, &ConversionThread::fileProgress);

    QCoreApplication::postEvent(QCoreApplication::instance(), new ProgressMessageEvent(90));
    QCoreApplication::postEvent(QCoreApplication::instance(), new ProgressMessageEvent(7, 1));
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::Type(otherType)));

    QTRY_COMPARE(witness.seenTypes, QList<int>{otherType}); // other events pass
    QCOMPARE(progress.count(), 2);
    // Without a file index the report belongs to the file being converted.
    QCOMPARE(progress.at(0), QVariantList({2, 90u}));
    // A report that names its file keeps it, whatever the worker does now.
    QCOMPARE(progress.at(1), QVariantList({1, 7u}));
}

void TestProgressBridge::eventWithoutWorkerIsConsumed()
{
    QCOMPARE(currentWorker, nullptr);
    QCoreApplication::postEvent(QCoreApplication::instance(), new ProgressMessageEvent(5, 0));
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::Type(otherType)));
    QTRY_COMPARE(witness.seenTypes, QList<int>{otherType});
}

void TestProgressBridge::currentWorkerFollowsLifetime()
{
    auto first = std::make_unique<ConversionThread>();
    QCOMPARE(currentWorker, first.get());
    auto second = std::make_unique<ConversionThread>();
    QCOMPARE(currentWorker, second.get());
    first.reset(); // not the current one: leaves it alone
    QCOMPARE(currentWorker, second.get());
    second.reset();
    QCOMPARE(currentWorker, nullptr);
}

QTEST_GUILESS_MAIN(TestProgressBridge)
#include "tst_progressbridge.moc"
