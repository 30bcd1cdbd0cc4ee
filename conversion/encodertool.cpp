#include "encodertool.h"

#include <QCoreApplication>
#include <QLatin1String>

#include <mutex>

namespace {

// The tool's path is read by the worker thread and may be set by a test in
// the GUI thread, so both go through one lock. std::mutex rather than QMutex:
// ThreadSanitizer sees the ordering it gives.
std::mutex toolPathLock;
QString toolPathOverride;   // guarded by toolPathLock
QString defaultToolPath;    // guarded by toolPathLock; computed once

QString replacePlaceholders(const QString &word, const QString &inputPath,
                            const QString &qualityText, const QString &outputPath)
{
    // One pass over the template word: only the template's own text is
    // searched, so a path that contains "##", ">" or "<" is copied verbatim.
    QString filled;
    for (qsizetype i = 0; i < word.size();) {
        const QStringView rest = QStringView(word).mid(i);
        if (rest.startsWith(QLatin1Char('>'))) {
            filled += inputPath;
            i += 1;
        } else if (rest.startsWith(QLatin1String("##"))) {
            filled += qualityText;
            i += 2;
        } else if (rest.startsWith(QLatin1Char('<'))) {
            filled += outputPath;
            i += 1;
        } else {
            filled += word.at(i);
            i += 1;
        }
    }
    return filled;
}

QStringList fillTemplate(const char *argumentTemplate, const QString &inputPath,
                         const QString &qualityText, const QString &outputPath)
{
    QStringList arguments;
    const QStringList words = splitArgumentTemplate(QString::fromLatin1(argumentTemplate));
    for (const QString &word : words)
        arguments << replacePlaceholders(word, inputPath, qualityText, outputPath);
    return arguments;
}

} // namespace

QString encoderToolPath()
{
    std::lock_guard<std::mutex> lock(toolPathLock);
    if (!toolPathOverride.isEmpty())
        return toolPathOverride;
    // applicationDirPath() caches inside Qt without a lock; asking it once,
    // under our lock, keeps the worker thread from racing the GUI thread.
    if (defaultToolPath.isEmpty() && QCoreApplication::instance())
        defaultToolPath = QCoreApplication::applicationDirPath() + QLatin1Char('/')
                          + QLatin1String(toolcontract::kToolName);
    // Without an application object there is no program folder: the empty
    // path makes every start fail instead of searching PATH for "ffmpeg".
    return defaultToolPath;
}

void setEncoderToolPath(const QString &path)
{
    std::lock_guard<std::mutex> lock(toolPathLock);
    toolPathOverride = path;
}

QStringList splitArgumentTemplate(const QString &argumentTemplate)
{
    QStringList words;
    for (const std::string &word : toolcontract::splitTemplate(argumentTemplate.toUtf8().constData()))
        words << QString::fromStdString(word);
    return words;
}

QStringList conversionArguments(const QString &inputPath, int quality, const QString &outputPath)
{
    return fillTemplate(kConversionTemplate, inputPath, QString::number(quality, 10), outputPath);
}

QStringList probeArguments(const QString &inputPath)
{
    return fillTemplate(kProbeTemplate, inputPath, QString(), QString());
}

QString outputNameFor(const QString &inputName)
{
    // left() of a negative count is the whole name.
    return inputName.left(inputName.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".mp3");
}

QString numberedOutputName(const QString &outputName, const std::function<bool(const QString &)> &isTaken)
{
    const qsizetype dot = outputName.lastIndexOf(QLatin1Char('.'));
    const QString stem = outputName.left(dot);
    const QString suffix = dot < 0 ? QString() : outputName.mid(dot);
    for (int number = 2;; ++number) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem, QString::number(number), suffix);
        if (!isTaken(candidate))
            return candidate;
    }
}

QString fileNameOfPath(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString toolOutputText(const QByteArray &bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

bool isSuccessOutput(const QString &outputText)
{
    return outputText.contains(QLatin1String(kSuccessMarker), Qt::CaseSensitive);
}
