#include "support/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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
    if (!makePrivateFolder(QFileInfo(path).absolutePath(), error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace pendrel
