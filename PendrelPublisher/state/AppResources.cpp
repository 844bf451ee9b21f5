#include "state/AppResources.h"

#include "BundleInfo.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace pendrel::AppResources {

QStringList candidateLocations()
{
    QStringList candidates;
    const auto add = [&](const QString &folder) {
        candidates.append(QDir::cleanPath(folder + u'/' + bundleName));
    };
    const QString installed = QStringLiteral(PENDREL_INSTALL_DATADIR_VALUE);
    if (!installed.isEmpty())
        add(installed + QStringLiteral("/pendrel-publisher"));
    if (QCoreApplication::instance()) {
        // An installation moved to (or installed into) another prefix.
        add(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/pendrel-publisher"));
        add(QCoreApplication::applicationDirPath());
    }
    const QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty()) {
        const QFileInfo executable(arguments.first());
        const QString resolved = executable.canonicalFilePath();
        add(QFileInfo(resolved.isEmpty() ? executable.absoluteFilePath() : resolved).absolutePath());
    }
    return candidates;
}

std::optional<QString> findBundle(const QStringList &candidates)
{
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isDir())
            return candidate;
    }
    return std::nullopt;
}

QString missingBundleMessage(const QStringList &candidates)
{
    return QStringLiteral("could not load resource bundle from: ") + candidates.join(QStringLiteral(", "));
}

const QDir &bundle()
{
    static const QDir dir = [] {
        const QStringList candidates = candidateLocations();
        if (const auto found = findBundle(candidates))
            return QDir(*found);
        std::fprintf(stderr, "%s\n", qPrintable(missingBundleMessage(candidates)));
        std::exit(EXIT_FAILURE);
    }();
    return dir;
}

std::optional<QString> imagePath(QStringView folder, QStringView name, QStringView extension)
{
    const QString path = bundle().filePath(folder + u'/' + name + u'.' + extension);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

} // namespace pendrel::AppResources
