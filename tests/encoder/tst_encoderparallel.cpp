// One file on several threads: the chunks joined into one stream that
// decodes without an error to exactly the input's length, as loud and about
// as large as one encoder's, without a click where chunks meet; files of one
// chunk come out as one encoder makes them; the threads come from a make
// jobserver and go back to it, also when the tool is stopped.

#include "audiofixtures.h"
#include "encodertool.h"
#include "toolcontract.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace encodertool;

namespace {

// Long enough for several chunks of about 20 seconds.
constexpr double kLongSeconds = 70;

Run convertWithThreads(const QString &input, const QString &output, const char *threads, int quality = 50)
{
    qputenv(toolcontract::kThreadsVariable, threads);
    const Run result = convert(input, quality, output);
    qunsetenv(toolcontract::kThreadsVariable);
    return result;
}

// What the stock ffmpeg says while decoding the whole file.
QByteArray decodeErrors(const QString &file)
{
    QProcess process;
    process.start(fixtures::stockFfmpeg(), {"-nostdin", "-v", "error", "-i", file, "-f", "null", "-"});
    process.waitForFinished(60000);
    return process.readAllStandardError() + (process.exitCode() != 0 ? QByteArray("failed") : QByteArray());
}

// The decoded samples (mono float) of file, as the stock ffmpeg gives them.
QVector<float> decodeMono(const QString &file, const QString &raw)
{
    QVector<float> samples;
    if (!fixtures::runStockFfmpeg({"-i", file, "-ac", "1", "-f", "f32le", raw}))
        return samples;
    QFile data(raw);
    if (!data.open(QIODevice::ReadOnly))
        return samples;
    const QByteArray bytes = data.readAll();
    samples.resize(bytes.size() / int(sizeof(float)));
    memcpy(samples.data(), bytes.constData(), size_t(samples.size()) * sizeof(float));
    return samples;
}

double largestError(const QVector<float> &a, const QVector<float> &b)
{
    double largest = a.size() == b.size() ? 0.0 : 1e9;
    for (int i = 0; i < std::min(a.size(), b.size()); ++i)
        largest = std::max(largest, double(std::fabs(a[i] - b[i])));
    return largest;
}

int bytesInPipe(int fd)
{
    int bytes = 0;
    return ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : -1;
}

} // namespace

class TestEncoderParallel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void joinedStream_data();
    void joinedStream();
    void sineWithoutClicks();
    void shortFileAsOneEncoder();
    void jobserverTokens_data();
    void jobserverTokens();
    void jobserverNotAPipe();

private:
    QString file(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void TestEncoderParallel::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(makeMusic(file("music.wav"), kLongSeconds));
}

void TestEncoderParallel::joinedStream_data()
{
    QTest::addColumn<QStringList>("shape");
    QTest::addColumn<int>("quality");
    // MPEG-1 at both ends of the quality scale, MPEG-2 mono, MPEG-2.5.
    QTest::newRow("stereo 44.1 kHz") << QStringList() << 50;
    QTest::newRow("stereo 44.1 kHz, lowest quality") << QStringList() << 0;
    QTest::newRow("stereo 44.1 kHz, highest quality") << QStringList() << 99;
    QTest::newRow("mono 22.05 kHz") << QStringList{"-ac", "1", "-ar", "22050"} << 50;
    QTest::newRow("stereo 8 kHz") << QStringList{"-ar", "8000"} << 50;
}

void TestEncoderParallel::joinedStream()
{
    QFETCH(QStringList, shape);
    QFETCH(int, quality);
    QString input = file("music.wav");
    if (!shape.isEmpty()) {
        input = file(QStringLiteral("shaped-%1.wav").arg(shape.join(QString()).remove('-')));
        QVERIFY(fixtures::runStockFfmpeg(QStringList{"-i", file("music.wav")} + shape + QStringList{input}));
    }
    const QString one = file("one.mp3");
    const QString joined = file("joined.mp3");
    const Run single = convertWithThreads(input, one, "1", quality);
    QVERIFY2(single.succeeded(), qPrintable(single.describe()));
    const Run several = convertWithThreads(input, joined, "4", quality);
    QVERIFY2(several.succeeded(), qPrintable(several.describe()));

    QFile a(one), b(joined);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray oneBytes = a.readAll();
    const QByteArray joinedBytes = b.readAll();
    QVERIFY2(oneBytes != joinedBytes, "the file was not split");
    QVERIFY(std::abs(joinedBytes.size() - oneBytes.size()) <= oneBytes.size() / 50);

    QCOMPARE(decodeErrors(joined), QByteArray());
    // The lowest qualities are resampled to a lower rate, so the joined
    // stream is held against one encoder's, not against the input.
    const Levels single1 = measure(one);
    const Levels out = measure(joined);
    QCOMPARE(out.samples, single1.samples);
    QVERIFY(std::fabs(out.rmsDb - single1.rmsDb) < 0.1);
    // The Xing header states the joined stream's length as one encoder's
    // states its own.
    auto duration = [](const QString &mp3) {
        return describeMedia(mp3).value("format").toObject().value("duration").toString();
    };
    QVERIFY(!duration(joined).isEmpty());
    QCOMPARE(duration(joined), duration(one));
}

void TestEncoderParallel::sineWithoutClicks()
{
    const QString sine = file("sine.wav");
    fixtures::Tone tone;
    tone.seconds = kLongSeconds;
    tone.channels = 1;
    QVERIFY(fixtures::makeTone(sine, tone));
    QVERIFY(convertWithThreads(sine, file("sine1.mp3"), "1").succeeded());
    QVERIFY(convertWithThreads(sine, file("sineN.mp3"), "4").succeeded());
    const QVector<float> input = decodeMono(sine, file("sine.f32"));
    const QVector<float> one = decodeMono(file("sine1.mp3"), file("sine1.f32"));
    const QVector<float> joined = decodeMono(file("sineN.mp3"), file("sineN.f32"));
    QVERIFY(!input.isEmpty());
    const double oneError = largestError(input, one);
    const double joinedError = largestError(input, joined);
    QVERIFY2(joinedError <= 2 * oneError, qPrintable(QStringLiteral("%1 against %2").arg(joinedError).arg(oneError)));
}

void TestEncoderParallel::shortFileAsOneEncoder()
{
    QVERIFY(makeMusic(file("short.wav"), 15));
    QVERIFY(convertWithThreads(file("short.wav"), file("short1.mp3"), "1").succeeded());
    QVERIFY(convertWithThreads(file("short.wav"), file("shortN.mp3"), "4").succeeded());
    QFile a(file("short1.mp3")), b(file("shortN.mp3"));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QVERIFY(a.readAll() == b.readAll());
}

void TestEncoderParallel::jobserverTokens_data()
{
    QTest::addColumn<bool>("fifo");
    QTest::addColumn<int>("tokens");
    QTest::addColumn<QByteArray>("threads");
    QTest::addColumn<bool>("stop");
    QTest::newRow("pipe") << false << 3 << QByteArray() << false;
    QTest::newRow("pipe, stopped") << false << 3 << QByteArray() << true;
    QTest::newRow("pipe, one thread") << false << 3 << QByteArray("1") << false;
    QTest::newRow("pipe, no token free") << false << 0 << QByteArray() << false;
    QTest::newRow("fifo") << true << 3 << QByteArray() << false;
}

// A jobserver of free tokens: the tool takes at most as many as it has
// cores beside its own, never one with MORVANE_THREADS=1, and all come back
// when it ends, whichever way. Without a token it is one encoder, byte for
// byte.
void TestEncoderParallel::jobserverTokens()
{
    QFETCH(bool, fifo);
    QFETCH(int, tokens);
    QFETCH(QByteArray, threads);
    QFETCH(bool, stop);

    int readEnd = -1;
    int writeEnd = -1;
    QString makeflags;
    const QString fifoPath = file("jobserver.fifo");
    if (fifo) {
        QFile::remove(fifoPath);
        QCOMPARE(mkfifo(QFile::encodeName(fifoPath).constData(), 0600), 0);
        readEnd = open(QFile::encodeName(fifoPath).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        writeEnd = readEnd;
        makeflags = QStringLiteral(" -j4 --jobserver-auth=fifo:%1").arg(fifoPath);
    } else {
        int ends[2];
        QCOMPARE(pipe2(ends, O_CLOEXEC), 0);
        readEnd = ends[0];
        writeEnd = ends[1];
        makeflags = QStringLiteral(" -j4 --jobserver-auth=%1,%2").arg(readEnd).arg(writeEnd);
    }
    QVERIFY(readEnd >= 0);
    QCOMPARE(write(writeEnd, "+++", size_t(tokens)), ssize_t(tokens));

    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MAKEFLAGS", makeflags);
    environment.remove(toolcontract::kThreadsVariable);
    if (!threads.isEmpty())
        environment.insert(toolcontract::kThreadsVariable, QString::fromLatin1(threads));
    tool.setProcessEnvironment(environment);
    const int r = readEnd;
    const int w = writeEnd;
    tool.setChildProcessModifier([r, w] {
        fcntl(r, F_SETFD, 0);
        fcntl(w, F_SETFD, 0);
    });
    tool.start(path(), {"-i", file("music.wav"), "-acodec", "libmp3lame", "-aq", "50", file("tokens.mp3")});
    QVERIFY(tool.waitForStarted());
    int fewest = tokens;
    QElapsedTimer timer;
    timer.start();
    bool signalled = false;
    while (!tool.waitForFinished(5)) {
        fewest = std::min(fewest, bytesInPipe(readEnd));
        if (stop && !signalled && fewest < tokens) {
            ::kill(pid_t(tool.processId()), SIGTERM);
            signalled = true;
        }
        QVERIFY(timer.elapsed() < 120000);
    }
    const int cores = std::min(4, int(sysconf(_SC_NPROCESSORS_ONLN)));
    if (stop) {
        QVERIFY(signalled);
        QVERIFY(tool.exitStatus() == QProcess::CrashExit || tool.exitCode() != 0);
    } else {
        QCOMPARE(tool.exitCode(), 0);
    }
    QVERIFY(fewest >= tokens - (threads == "1" ? 0 : cores - 1));
    if (threads.isEmpty() && cores > 1 && !stop && tokens > 0)
        QVERIFY2(fewest < tokens, "no token was taken");
    QCOMPARE(bytesInPipe(readEnd), tokens);
    if (tokens == 0) {
        QVERIFY(convertWithThreads(file("music.wav"), file("tokens1.mp3"), "1").succeeded());
        QFile a(file("tokens.mp3")), b(file("tokens1.mp3"));
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QVERIFY(a.readAll() == b.readAll());
    }
    close(readEnd);
    if (writeEnd != readEnd)
        close(writeEnd);
}

// MAKEFLAGS naming descriptors that are no pipe (make closed its pipe for
// this job, and the numbers name another file): one thread, and the file
// is neither read nor written.
void TestEncoderParallel::jobserverNotAPipe()
{
    const QByteArray other = QFile::encodeName(file("not-a-pipe"));
    const int fd = open(other.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QVERIFY(fd >= 0);
    QCOMPARE(write(fd, "xyz", 3), ssize_t(3));
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MAKEFLAGS", QStringLiteral(" -j4 --jobserver-auth=%1,%1").arg(fd));
    environment.remove(toolcontract::kThreadsVariable);
    tool.setProcessEnvironment(environment);
    tool.setChildProcessModifier([fd] { fcntl(fd, F_SETFD, 0); });
    tool.start(path(), {"-i", file("music.wav"), "-acodec", "libmp3lame", "-aq", "50", file("notpipe.mp3")});
    QVERIFY(tool.waitForFinished(120000));
    QCOMPARE(tool.exitCode(), 0);
    close(fd);
    QFile written(file("not-a-pipe"));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("xyz"));
    QVERIFY(convertWithThreads(file("music.wav"), file("notpipe1.mp3"), "1").succeeded());
    QFile a(file("notpipe.mp3")), b(file("notpipe1.mp3"));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QVERIFY(a.readAll() == b.readAll());
}

QTEST_GUILESS_MAIN(TestEncoderParallel)
#include "tst_encoderparallel.moc"
