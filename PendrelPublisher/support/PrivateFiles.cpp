#include "support/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace pendrel {

bool makePrivateFolder(const QString &path, QString &error)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !makePrivateFolder(parent, error))
        return false;
    if (!QDir().mkdir(path) && !QFileInfo(path).isDir()) {
        error = QStringLiteral("could not create the folder %1").arg(path);
        return false;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

bool writePrivateFile(const QString &path, const QByteArray &bytes, QString &error)
{
    return writePrivateFile(path, QList<QByteArray>{bytes}, error);
}

bool writePrivateFile(const QString &path, const QList<QByteArray> &pieces, QString &error)
{
    if (!makePrivateFolder(QFileInfo(path).absolutePath(), error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    for (const QByteArray &piece : pieces) {
        if (file.write(piece) != piece.size()) {
            error = file.errorString();
            file.cancelWriting();
            return false;
        }
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

void removeAbandonedWrites(const QString &path)
{
    // QSaveFile writes into "<name>.XXXXXX" beside the file where the file
    // system has no unnamed temporary files (NFS, for one), and everywhere
    // for a moment before the rename; nothing else ever removes one that a
    // killed process left.
    const QFileInfo info(path);
    const QDir folder = info.absoluteDir();
    // Only "<name>." and six letters or digits, as QSaveFile names them.
    const auto isTemporary = [&](const QString &name) {
        const QString prefix = info.fileName() + u'.';
        if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
            return false;
        return std::all_of(name.cbegin() + prefix.size(), name.cend(), [](QChar c) {
            return c.unicode() < 0x80 && c.isLetterOrNumber();
        });
    };
    const QStringList candidates =
        folder.entryList({info.fileName() + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden);
    for (const QString &name : candidates) {
        if (isTemporary(name))
            QFile::remove(folder.filePath(name));
    }
}

} // namespace pendrel
