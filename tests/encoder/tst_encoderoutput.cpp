// Where the MP3 goes: it appears only complete, replaces a regular file in
// one step, never touches anything else at the output path, and nothing is
// left behind when the conversion fails or the tool is stopped.

#include "audiofixtures.h"
#include "encodertool.h"
#include "toolcontract.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace encodertool;

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray checksum(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

QByteArray head(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(64) : QByteArray();
}

bool isFifo(const QString &path)
{
    struct stat info = {};
    return stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
}

// A file system mounted for one test, unmounted on destruction: a small
// tmpfs (root only), or a FUSE view of another folder, where files cannot be
// made unnamed (as on network shares and desktop FUSE mounts).
class TestMount
{
public:
    explicit TestMount(const QString &folder) : folder_(folder) {}
    ~TestMount()
    {
        if (!unmountCommand_.isEmpty())
            QProcess::execute(unmountCommand_.first(), unmountCommand_.mid(1) << folder_);
    }
    bool mountTmpfs(const QString &options)
    {
        return geteuid() == 0 && mount("mount", {"-t", "tmpfs", "-o", options, "tmpfs"}, {"umount"});
    }
    bool mountFuse(const QString &source)
    {
        return !QStandardPaths::findExecutable("bindfs").isEmpty() && mount("bindfs", {source}, {"fusermount", "-u"});
    }

private:
    bool mount(const QString &program, const QStringList &arguments, const QStringList &unmount)
    {
        if (!QDir().mkpath(folder_) || QProcess::execute(program, QStringList(arguments) << folder_) != 0)
            return false;
        unmountCommand_ = unmount;
        return true;
    }

    QString folder_;
    QStringList unmountCommand_;
};

} // namespace

class TestEncoderOutput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QVERIFY(work.isValid()); }
    void cleanup() { work.remove(); work = QTemporaryDir(); }

    void replacesRegularFile_data() { folderKinds(); }
    void replacesRegularFile();
    void followsLinkToRegularFile();
    void refusesNonRegularOutput_data();
    void refusesNonRegularOutput();
    void failsForMissingFolder();
    void failsForReadOnlyFolder();
    void failsOnFullDisk();
    void convertsInPlace();
    void failedInPlaceKeepsInput();
    void stopSignal_data();
    void stopSignal();
    void damagedWhileWritingFails();

private:
    void folderKinds();
    QString outputFolder(TestMount &mount);

    QString shortTone() const { return fixturesDir.filePath("tone.flac"); }
    QString longTone() const { return fixturesDir.filePath("long.flac"); }

    QTemporaryDir fixturesDir;
    QTemporaryDir work; // a fresh, empty folder for every test
};

void TestEncoderOutput::initTestCase()
{
    QVERIFY(fixturesDir.isValid());
    fixtures::Tone tone;
    tone.seconds = 10.0;
    QVERIFY(fixtures::makeTone(shortTone(), tone));
    tone.seconds = 180.0; // long enough to stop the tool half-way
    QVERIFY(fixtures::makeTone(longTone(), tone));
}

// The output is written unnamed where the file system allows it, else as a
// hidden named file; both must end the same way.
void TestEncoderOutput::folderKinds()
{
    QTest::addColumn<bool>("fuse");
    QTest::newRow("local folder") << false;
    QTest::newRow("folder without unnamed files") << true;
}

QString TestEncoderOutput::outputFolder(TestMount &mount)
{
    QFETCH(bool, fuse);
    if (!fuse)
        return work.path();
    const QString folder = work.filePath("fuse");
    return QDir().mkpath(work.filePath("backing")) && mount.mountFuse(work.filePath("backing")) ? folder : QString();
}

void TestEncoderOutput::replacesRegularFile()
{
    TestMount mount(work.filePath("fuse"));
    const QString folder = outputFolder(mount);
    if (folder.isEmpty())
        QSKIP("needs bindfs to mount a FUSE folder");
    const QString output = folder + "/out.mp3";
    QFile old(output);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old contents") > 0);
    old.close();

    const Run run = convert(shortTone(), 50, output);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QVERIFY(qAbs(measure(output).seconds() - 10.0) < 0.03);
    QCOMPARE(entries(folder), QStringList{"out.mp3"});
    // Replacing passes through a hidden name, named for the program to
    // remove should the tool be killed before the rename.
    QVERIFY2(run.err.contains(toolcontract::kPartialFilePrefix), qPrintable(run.describe()));
}

void TestEncoderOutput::followsLinkToRegularFile()
{
    const QString target = work.filePath("target.mp3");
    const QString link = work.filePath("link.mp3");
    QFile(target).open(QIODevice::WriteOnly);
    QVERIFY(QFile::link(target, link));

    const Run run = convert(shortTone(), 50, link);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(QFileInfo(target).size() > 10000);
}

void TestEncoderOutput::refusesNonRegularOutput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << "folder";
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("device") << "device";
    QTest::newRow("link to device") << "link";
}

// Run as root, a rename over /dev/null would replace the device node.
void TestEncoderOutput::refusesNonRegularOutput()
{
    QFETCH(QString, kind);
    QString output = work.filePath("out.mp3");
    if (kind == "folder")
        QVERIFY(QDir().mkdir(output));
    else if (kind == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(output).constData(), 0600), 0);
    else if (kind == "link")
        QVERIFY(QFile::link("/dev/null", output));
    else
        output = "/dev/null";
    const QFileInfo info(output);

    const Run run = convert(shortTone(), 50, output);
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    // No temporary file was made beside it (in /dev for the device).
    QCOMPARE(QDir(info.absolutePath()).entryList({"." + info.fileName() + ".*"}, QDir::Hidden | QDir::Files),
             QStringList());
    if (kind == "folder")
        QVERIFY(QFileInfo(output).isDir());
    else if (kind == "fifo")
        QVERIFY(isFifo(output));
    else if (kind == "link")
        QVERIFY(QFileInfo(output).isSymLink());
    struct stat devNull = {};
    QVERIFY(stat("/dev/null", &devNull) == 0 && S_ISCHR(devNull.st_mode));
}

void TestEncoderOutput::failsForMissingFolder()
{
    const Run run = convert(shortTone(), 50, work.filePath("missing/out.mp3"));
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    QCOMPARE(entries(work.path()), QStringList());
}

void TestEncoderOutput::failsForReadOnlyFolder()
{
    const QString folder = work.filePath("readonly");
    TestMount mount(folder);
    if (!mount.mountTmpfs("ro,size=1m"))
        QSKIP("needs root to mount a read-only tmpfs");

    const Run run = convert(shortTone(), 50, folder + "/out.mp3");
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    QCOMPARE(entries(folder), QStringList());
}

void TestEncoderOutput::failsOnFullDisk()
{
    const QString folder = work.filePath("tiny");
    TestMount mount(folder);
    if (!mount.mountTmpfs("size=64k"))
        QSKIP("needs root to mount a small tmpfs");

    const Run run = convert(shortTone(), 99, folder + "/out.mp3"); // about 300 kB
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    QCOMPARE(entries(folder), QStringList());
}

void TestEncoderOutput::convertsInPlace()
{
    const QString file = work.filePath("song.mp3");
    QVERIFY(fixtures::runStockFfmpeg({"-i", shortTone(), file}));

    const Run run = convert(file, 20, file);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    QVERIFY(qAbs(measure(file).seconds() - 10.0) < 0.03);
    QCOMPARE(entries(work.path()), QStringList{"song.mp3"});
}

void TestEncoderOutput::failedInPlaceKeepsInput()
{
    const QString file = work.filePath("song.mp3");
    QVERIFY(fixtures::runStockFfmpeg({"-i", shortTone(), file}));
    QVERIFY(QFile::resize(file, QFileInfo(file).size() / 2)); // cut short: the conversion fails
    const QByteArray before = checksum(file);

    const Run run = convert(file, 20, file);
    QVERIFY2(run.failedCleanly(), qPrintable(run.describe()));
    QCOMPARE(checksum(file), before);
    QCOMPARE(entries(work.path()), QStringList{"song.mp3"});
}

void TestEncoderOutput::stopSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<bool>("fuse");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false << false;
    QTest::newRow("SIGTERM, converting in place") << int(SIGTERM) << true << false;
    QTest::newRow("SIGTERM, folder without unnamed files") << int(SIGTERM) << false << true;
    // Killed, the tool cleans up nothing: the unnamed file vanishes with it.
    QTest::newRow("SIGKILL") << int(SIGKILL) << false << false;
    QTest::newRow("SIGKILL, converting in place") << int(SIGKILL) << true << false;
}

// The output folder holds exactly what it held before.
void TestEncoderOutput::stopSignal()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, inPlace);
    TestMount mount(work.filePath("fuse"));
    const QString folder = outputFolder(mount);
    if (folder.isEmpty())
        QSKIP("needs bindfs to mount a FUSE folder");
    QString input = longTone();
    const QString output = folder + (inPlace ? "/long.flac" : "/long.mp3");
    if (inPlace) {
        QVERIFY(QFile::copy(input, output));
        input = output;
    }
    const QByteArray before = checksum(input);
    const QStringList entriesBefore = entries(folder);

    QProcess process;
    QByteArray err;
    connect(&process, &QProcess::readyReadStandardError, [&] { err += process.readAllStandardError(); });
    process.start(encodertool::path(), {"-i", input, "-acodec", "libmp3lame", "-aq", "99", output});
    // Half-way: progress beyond the start has been reported.
    QTRY_VERIFY_WITH_TIMEOUT(QRegularExpression("ProgressMessage [1-9]").match(QString::fromLatin1(err)).hasMatch(),
                             30000);
    QCOMPARE(process.state(), QProcess::Running);
    QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
    QVERIFY2(process.waitForFinished(3000), "must end promptly when told to stop");

    QVERIFY(!process.readAllStandardOutput().contains("##success##"));
    QVERIFY(process.exitStatus() == QProcess::CrashExit || process.exitCode() != 0);
    if (inPlace)
        QCOMPARE(checksum(output), before);
    QCOMPARE(entries(folder), entriesBefore);
}

// The tool reads back what it wrote before the MP3 gets its name: one bit
// flipped in the written audio (here by another process, through the
// tool's own descriptor) fails the file and leaves the old output alone.
void TestEncoderOutput::damagedWhileWritingFails()
{
    const QString output = work.filePath("long.mp3");
    QFile old(output);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old contents") > 0);
    old.close();

    QProcess process;
    process.start(encodertool::path(), {"-i", longTone(), "-acodec", "libmp3lame", "-aq", "99", output});
    QVERIFY(process.waitForStarted());
    const pid_t pid = pid_t(process.processId());
    const auto cleanup = qScopeGuard([&] { ::kill(pid, SIGCONT); process.kill(); process.waitForFinished(); });
    // The descriptor of the file being written: in the output's folder, not the old output.
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    const auto writtenFile = [&] {
        for (const QString &fd : QDir(fds).entryList(QDir::Files | QDir::System))
            if (const QString target = QFile::symLinkTarget(fds + "/" + fd); target.startsWith(work.path()) && target != output)
                return fds + "/" + fd;
        return QString();
    };
    QString written;
    QTRY_VERIFY_WITH_TIMEOUT(!(written = writtenFile()).isEmpty() && QFile(written).size() > 100000, 60000);
    QCOMPARE(::kill(pid, SIGSTOP), 0);
    QFile file(written);
    QVERIFY2(file.open(QIODevice::ReadWrite), qPrintable(written));
    QVERIFY(file.seek(50000));
    const char byte = file.read(1).at(0);
    QVERIFY(file.seek(50000) && file.write(QByteArray(1, char(byte ^ 0x10))) == 1);
    file.close();
    QCOMPARE(::kill(pid, SIGCONT), 0);

    QVERIFY(process.waitForFinished(60000));
    const QByteArray err = process.readAllStandardError();
    QVERIFY(process.exitCode() != 0 && !process.readAllStandardOutput().contains("##success##"));
    QVERIFY2(err.contains("the written MP3 is damaged"), err.right(300).constData());
    QCOMPARE(head(output), QByteArray("old contents"));
    QCOMPARE(entries(work.path()), QStringList{"long.mp3"});
}

QTEST_GUILESS_MAIN(TestEncoderOutput)
#include "tst_encoderoutput.moc"
