#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace pendrel {

// Files that hold the user's articles or session: folders this creates are
// for the owner only (0700), files are 0600 and replaced atomically (written
// to a temporary file, synced to disk, renamed over the old one).

// Creates every missing folder on the way to `path`; existing ones are left
// as they are. On failure `error` says why.
bool makePrivateFolder(const QString &path, QString &error);

// Narrows a folder of ours that something else made with the default mode
// (0755) to 0700. Folders of other users, and missing ones, are left alone.
void restrictOwnFolder(const QString &path);

// Removes the temporary files that writes of `path` left beside it when
// they were killed before their rename. Only while nothing writes `path`.
void removeAbandonedWrites(const QString &path);

// Writes `bytes` to `path`, creating its folder first. The file is replaced
// only when every byte was written and synced; otherwise it is left as it
// was and `error` gives the system's reason ("No space left on device").
bool writePrivateFile(const QString &path, const QByteArray &bytes, QString &error);
// The same for a file given in consecutive pieces, which are not joined in
// memory first.
bool writePrivateFile(const QString &path, const QList<QByteArray> &pieces, QString &error);

// Which file an open descriptor is, and whether it was changed since: any
// write, truncation or copy over it moves its change time (and mostly its
// size and modification time); a file replaced by a rename is another inode.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;    // -1: unknown (fstat failed)
    qint64 modified = 0; // nanoseconds
    qint64 changed = 0;  // nanoseconds

    [[nodiscard]] static FileIdentity of(int fd);
    [[nodiscard]] bool known() const { return size >= 0; }
    bool operator==(const FileIdentity &) const = default;
    // The same bytes as far as the file system tells: setting a file's
    // attributes (chmod, chattr, a backup tool's) moves only its change time.
    [[nodiscard]] bool sameBytesAs(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode && size == other.size && modified == other.modified;
    }
};

// The reason a save gives when a file it copies from was changed by another
// program meanwhile (the state file cut or copied over): nothing of it is
// used, and the caller writes its own content whole instead.
QString sourceChangedReason();

// A piece of a file to write: bytes in hand, or (with fd >= 0) `length`
// bytes of an open file from `offset`, which the kernel copies without
// them passing through this process. The file must still be `source` (when
// known) once copied; otherwise the write fails with sourceChangedReason().
struct FilePiece {
    QByteArray bytes;
    int fd = -1;
    qint64 offset = 0;
    qint64 length = 0;
    FileIdentity source{};

    [[nodiscard]] qint64 size() const { return fd >= 0 ? length : bytes.size(); }
};
// The same again; on success `written`, when given, receives a descriptor
// of the file just written (the one it was written through, so surely that
// file; the caller closes it), so that its bytes stay reachable after the
// file is replaced in turn.
// Bytes [from, to) of the file open as `fd` into `into` + from: 0; errno;
// or -1 where the file ended before `to`.
int readFileRange(int fd, char *into, qint64 from, qint64 to);
// Its first `size` bytes, from 8 MB on in two halves at once (the second on
// a thread below the interface's priority): copying out of the page cache,
// and faulting the buffer in, are most of reading a long history. Answers as
// readFileRange() does, an errno before a short file.
int readFileStart(int fd, char *into, qint64 size);

// Without `durable`, nothing waits for the disk: for a file that is only
// ever a cache, checked when read.
bool writePrivateFile(const QString &path, const QList<FilePiece> &pieces, QString &error,
                      int *written = nullptr, bool durable = true);

} // namespace pendrel
