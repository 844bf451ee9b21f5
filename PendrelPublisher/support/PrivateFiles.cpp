#include "support/PrivateFiles.h"

#include "support/SerialExecutor.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <thread>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pendrel {

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A temporary file beside `path`, removed unless released.
class Temporary {
public:
    explicit Temporary(const QString &path) : name_(QFile::encodeName(path) + ".XXXXXX")
    {
        // mkostemp names it "<name>." and six letters or digits (what
        // removeAbandonedWrites looks for) and creates it 0600.
        fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
    }
    ~Temporary()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!released_ && fd_ != -1)
            ::unlink(name_.constData());
    }
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;

    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] const QByteArray &name() const { return name_; }
    // Closes the file; false (errno set) when the kernel reports a late error.
    bool close()
    {
        const int fd = fd_;
        fd_ = -2; // closed, still to be removed on failure
        return ::close(fd) == 0;
    }
    void release() { released_ = true; }

private:
    QByteArray name_;
    int fd_ = -1;
    bool released_ = false;
};

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, std::size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// The files that ranges are copied from, each mapped whole once for the
// write: writing from a mapping is as fast as writing bytes in hand, where
// copy_file_range() (page by page, without reflinks) or a mapping per range
// took a third as long again. Not populated ahead (MAP_POPULATE): that
// holds the process's memory map locked for the whole file, and the
// interface thread stands still meanwhile if it maps memory of its own.
class SourceMappings {
public:
    SourceMappings() = default;
    SourceMappings(const SourceMappings &) = delete;
    SourceMappings &operator=(const SourceMappings &) = delete;
    ~SourceMappings()
    {
        for (const auto &[fd, mapping] : mappings_) {
            if (mapping.data)
                ::munmap(const_cast<char *>(mapping.data), size_t(mapping.size));
        }
    }

    // The file's bytes from `offset`, when it is mapped and that long.
    const char *bytes(int fd, qint64 offset, qint64 length)
    {
        auto it = mappings_.find(fd);
        if (it == mappings_.end()) {
            Mapping mapping;
            struct stat info {};
            if (::fstat(fd, &info) == 0 && info.st_size > 0) {
                void *mapped = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
                if (mapped != MAP_FAILED) {
                    mapping.data = static_cast<const char *>(mapped);
                    mapping.size = info.st_size;
                }
            }
            it = mappings_.emplace(fd, mapping).first;
        }
        const Mapping &mapping = it->second;
        return mapping.data && offset + length <= mapping.size ? mapping.data + offset : nullptr;
    }

private:
    struct Mapping {
        const char *data = nullptr;
        qint64 size = 0;
    };
    std::map<int, Mapping> mappings_;
};

// A read-only descriptor of the file open as `fd`, through /proc (the same
// inode, whatever its name is now); a duplicate where /proc is missing.
int reopenForReading(int fd)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    const int reopened = ::open(self.constData(), O_RDONLY | O_CLOEXEC);
    return reopened >= 0 ? reopened : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// Copies a range of `from` to the end of `to`.
bool copyRange(SourceMappings &sources, int from, qint64 offset, qint64 length, int to)
{
    if (const char *mapped = sources.bytes(from, offset, length))
        return writeAll(to, QByteArray::fromRawData(mapped, qsizetype(length)));
    qint64 at = offset;
    QByteArray buffer(qsizetype(std::min<qint64>(length, 1024 * 1024)), Qt::Uninitialized);
    while (length > 0) {
        const ssize_t n = ::pread(from, buffer.data(), std::size_t(std::min<qint64>(length, buffer.size())), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        if (!writeAll(to, QByteArray::fromRawData(buffer.constData(), n)))
            return false;
        at += n;
        length -= n;
    }
    return true;
}

} // namespace

FileIdentity FileIdentity::of(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {};
    return {quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size),
            qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
}

QString sourceChangedReason()
{
    return QStringLiteral("another program changed the state file while it was being saved");
}

bool makePrivateFolder(const QString &path, QString &error)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !makePrivateFolder(parent, error))
        return false;
    // Made 0700 from the start: a folder made with the default mode and
    // narrowed afterwards is open to others for a moment.
    if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0 && errno != EEXIST) {
        error = QStringLiteral("could not create the folder %1: %2").arg(path, systemError(errno));
        return false;
    }
    if (!QFileInfo(path).isDir()) {
        error = QStringLiteral("could not create the folder %1: %2").arg(path, systemError(ENOTDIR));
        return false;
    }
    return true;
}

void restrictOwnFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return;
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        ::chmod(name.constData(), info.st_mode & S_IRWXU);
}

bool writePrivateFile(const QString &path, const QByteArray &bytes, QString &error)
{
    return writePrivateFile(path, QList<QByteArray>{bytes}, error);
}

bool writePrivateFile(const QString &path, const QList<QByteArray> &pieces, QString &error)
{
    QList<FilePiece> each;
    each.reserve(pieces.size());
    for (const QByteArray &piece : pieces)
        each.append(FilePiece{piece});
    return writePrivateFile(path, each, error);
}

bool writePrivateFile(const QString &path, const QList<FilePiece> &pieces, QString &error, int *written,
                      bool durable)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!makePrivateFolder(folder, error))
        return false;
    // Our own write, sync and rename rather than QSaveFile: QSaveFile
    // renames even when the flush of its last buffered bytes fails (a full
    // disk leaves a cut-off file in place of the whole one), ignores a
    // failed fsync, and then reports no reason.
    Temporary file(path);
    const auto fail = [&error](const QString &what) {
        error = what.isEmpty() ? systemError(errno) : what + QStringLiteral(": ") + systemError(errno);
        return false;
    };
    if (file.fd() < 0)
        return fail({});
    // A file copied from that another program cut or wrote over meanwhile
    // (a sync tool, a backup copied back) gives neither its old bytes nor
    // whole new ones. Checked after copying: a write from a mapping that
    // was cut short fails with "Bad address", which is no reason to show.
    const auto sourcesChanged = [&pieces] {
        for (const FilePiece &piece : pieces) {
            if (piece.fd >= 0 && piece.source.known() && FileIdentity::of(piece.fd) != piece.source)
                return true;
        }
        return false;
    };
    SourceMappings sources;
    for (const FilePiece &piece : pieces) {
        if (piece.fd >= 0 ? !copyRange(sources, piece.fd, piece.offset, piece.length, file.fd())
                          : !writeAll(file.fd(), piece.bytes)) {
            // A write from a mapping cut short fails with EFAULT ("Bad
            // address"): only ever a file cut under us.
            if (piece.fd >= 0 && (errno == EFAULT || sourcesChanged())) {
                error = sourceChangedReason();
                return false;
            }
            return fail({});
        }
    }
    if (sourcesChanged()) {
        error = sourceChangedReason();
        return false;
    }
    if (durable && ::fsync(file.fd()) != 0)
        return fail({});
    // The file the bytes went through, not the name again (by now the name
    // may be someone else's file), opened anew for reading only: a file
    // held open for writing keeps its file system from being remounted
    // read-only.
    const int kept = written ? reopenForReading(file.fd()) : -1;
    if (written && kept < 0)
        return fail({});
    const auto failKept = [&] {
        const int code = errno;
        if (kept >= 0)
            ::close(kept);
        errno = code;
        return fail({});
    };
    if (!file.close())
        return failKept();
    if (::rename(file.name().constData(), QFile::encodeName(path).constData()) != 0)
        return failKept();
    file.release();
    if (written)
        *written = kept;
    if (!durable)
        return true;
    // The rename itself is durable only once the folder is synced.
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

int readFileRange(int fd, char *into, qint64 from, qint64 to)
{
    while (from < to) {
        const ssize_t n = ::pread(fd, into + from, size_t(to - from), from);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return -1;
        from += n;
    }
    return 0;
}

int readFileStart(int fd, char *into, qint64 size)
{
    constexpr qint64 kSplitAt = 8 << 20; // below this one thread reads it as fast
    if (size < kSplitAt)
        return readFileRange(fd, into, 0, size);
    int second = 0;
    std::thread other([&] {
        runBelowInterfacePriority();
        second = readFileRange(fd, into, size / 2, size);
    });
    const int first = readFileRange(fd, into, 0, size / 2);
    other.join();
    if (first > 0 || second > 0)
        return first > 0 ? first : second;
    return first < 0 || second < 0 ? -1 : 0;
}

void removeAbandonedWrites(const QString &path)
{
    // Writes go to "<name>.XXXXXX" beside the file and are renamed over it;
    // nothing else ever removes one that a killed process left.
    const QFileInfo info(path);
    const QDir folder = info.absoluteDir();
    // Only "<name>." and six letters or digits, as mkstemp names them.
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
