// SPDX-License-Identifier: GPL-3.0-or-later
#include "queuepaths.h"

#include "encodertool.h"

#include <QDir>
#include <QFileInfo>

QString queuePathInFolder(const QString &addedFolder, const QString &filePath)
{
    const QString folder = QDir::cleanPath(QFileInfo(addedFolder).absoluteFilePath());
    const QString parent = QFileInfo(folder).absolutePath();
    const QString relative = QDir(parent).relativeFilePath(QDir::cleanPath(QFileInfo(filePath).absoluteFilePath()));
    // A file outside the folder (it cannot be, as the folder is searched
    // downwards) keeps its name alone rather than a path that climbs out.
    if (relative.startsWith(QLatin1String("../")) || relative == QLatin1String("..") || QDir::isAbsolutePath(relative))
        return fileNameOfPath(filePath);
    return relative;
}

QString folderOfQueuePath(const QString &queuePath)
{
    return queuePath.left(queuePath.lastIndexOf(QLatin1Char('/')) + 1);
}

QString outputPathForQueuePath(const QString &queuePath)
{
    return folderOfQueuePath(queuePath) + outputNameFor(fileNameOfPath(queuePath));
}

QString numberedOutputPath(const QString &outputPath, const std::function<bool(const QString &)> &isTaken)
{
    const QString folder = folderOfQueuePath(outputPath);
    return folder + numberedOutputName(fileNameOfPath(outputPath), [&](const QString &name) {
               return isTaken(folder + name);
           });
}
