#pragma once

// What another program, or the system, does to the state file under the
// store: the immutable attribute (chattr +i), a copy written over it in
// place, a cut. Test helpers over the real system calls.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pendrel::test {

// Sets or clears the immutable attribute; false where the file system or
// the user's rights do not allow it.
inline bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

// Writes `bytes` over the file in place, as cp does (the same inode,
// truncated first), `chunk` bytes at a time with `pause` between them, as
// a sync tool does. With keepTimes the file's times are put back after;
// without truncateFirst the bytes go over the old ones (rsync --inplace).
inline bool copyOver(const QString &path, const QByteArray &bytes, qsizetype chunk = 0,
                     std::chrono::microseconds pause = {}, bool keepTimes = false, bool truncateFirst = true)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    if (::stat(name.constData(), &before) != 0)
        return false;
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC | (truncateFirst ? O_TRUNC : 0));
    if (fd < 0)
        return false;
    if (chunk <= 0)
        chunk = bytes.size();
    bool ok = true;
    for (qsizetype at = 0; ok && at < bytes.size(); at += chunk) {
        const qsizetype n = std::min(chunk, bytes.size() - at);
        ok = ::write(fd, bytes.constData() + at, size_t(n)) == n;
        if (pause.count() > 0)
            std::this_thread::sleep_for(pause);
    }
    if (ok && keepTimes) {
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ok = ::futimens(fd, times) == 0;
    }
    return ::close(fd) == 0 && ok;
}

} // namespace pendrel::test
