#include "platform/XdgLoginItemBackend.h"

#include "support/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace pendrel {

namespace {

// The keys of the [Desktop Entry] group; nothing when the file is not a
// desktop entry at all.
std::optional<QHash<QString, QString>> desktopEntry(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QHash<QString, QString> keys;
    bool inEntry = false;
    bool sawEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
            sawEntry = sawEntry || inEntry;
            continue;
        }
        if (!inEntry || line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    if (!sawEntry)
        return std::nullopt;
    return keys;
}

// Exec quoting of the desktop entry specification.
QString quotedExec(const QString &program)
{
    QString escaped = program;
    for (const char *c : {"\\", "\"", "`", "$"})
        escaped.replace(QLatin1StringView(c), QStringLiteral("\\") + QLatin1StringView(c));
    return u'"' + escaped + u'"';
}

// A string value of a desktop entry: only backslashes and control characters are escaped.
QString escapedValue(const QString &value)
{
    QString escaped = value;
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'\n', QStringLiteral("\\n"));
    escaped.replace(u'\t', QStringLiteral("\\t"));
    escaped.replace(u'\r', QStringLiteral("\\r"));
    return escaped;
}

} // namespace

XdgLoginItemBackend::XdgLoginItemBackend(QString autostartFolder, QString installedEntry, QString executable)
    : autostartFolder_(std::move(autostartFolder)), installedEntry_(std::move(installedEntry)),
      executable_(std::move(executable))
{
    if (autostartFolder_.isEmpty())
        autostartFolder_ = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                           + QStringLiteral("/autostart");
    if (installedEntry_.isEmpty())
        installedEntry_ = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entryName.toString());
    if (executable_.isEmpty())
        executable_ = QCoreApplication::applicationFilePath();
}

QString XdgLoginItemBackend::entryPath() const
{
    return QDir(autostartFolder_).filePath(entryName.toString());
}

LoginItemBackend::Status XdgLoginItemBackend::status() const
{
    // Only an installed application can be started at login reliably: a
    // build tree moves and vanishes. An entry that is there all the same
    // (written by hand, or by a build before it checked) is still reported
    // as what it is, so that the switch shows it and can remove it.
    if (!QFileInfo::exists(entryPath()))
        return installedEntry_.isEmpty() || !QFileInfo::exists(installedEntry_) ? Status::notFound
                                                                                : Status::notRegistered;
    const std::optional<QHash<QString, QString>> entry = desktopEntry(entryPath());
    if (!entry || !entry->contains(QStringLiteral("Exec")))
        return Status::unavailable;
    // Switched off in the desktop's startup settings: only the user can turn it back on there.
    if (entry->value(QStringLiteral("Hidden")) == u"true"
        || entry->value(QStringLiteral("X-GNOME-Autostart-enabled")) == u"false")
        return Status::requiresApproval;
    return Status::enabled;
}

void XdgLoginItemBackend::registerItem()
{
    if (!QDir().mkpath(autostartFolder_))
        throw MessageError(QStringLiteral("Could not create the autostart folder %1.").arg(autostartFolder_));
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw MessageError(QStringLiteral("Could not write %1: %2").arg(entryPath(), file.errorString()));
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Pendrel Publisher\n"
                                         "Comment=Turn captured text into published articles\n"
                                         "Exec=%1\n"
                                         // Once the program is removed the desktop skips the entry
                                         // rather than fail to start it.
                                         "TryExec=%2\n"
                                         "Icon=com.pendrel.publisher\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quotedExec(executable_), escapedValue(executable_));
    file.write(entry.toUtf8());
    if (!file.commit())
        throw MessageError(QStringLiteral("Could not write %1: %2").arg(entryPath(), file.errorString()));
}

void XdgLoginItemBackend::unregisterItem()
{
    if (QFileInfo::exists(entryPath()) && !QFile::remove(entryPath()))
        throw MessageError(QStringLiteral("Could not remove %1.").arg(entryPath()));
}

} // namespace pendrel
