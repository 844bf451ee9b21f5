#pragma once

#include <QByteArray>
#include <QString>

namespace pendrel {

// Files that hold the user's articles or session: folders this creates are
// for the owner only (0700), files are 0600 and replaced atomically (written
// to a temporary file, synced to disk, renamed over the old one).

// Creates every missing folder on the way to `path`; existing ones are left
// as they are. On failure `error` says why.
bool makePrivateFolder(const QString &path, QString &error);

// Writes `bytes` to `path`, creating its folder first.
bool writePrivateFile(const QString &path, const QByteArray &bytes, QString &error);

} // namespace pendrel
