#include "state/PersistenceStore.h"

#include "support/Error.h"

#include <QCoroFuture>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPromise>
#include <QSaveFile>
#include <QStandardPaths>

#include <syslog.h>

namespace pendrel {

namespace {

constexpr QFile::Permissions kOwnerOnlyFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
constexpr QFile::Permissions kOwnerOnlyFile =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;

std::optional<QByteArray> readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

// Creates every missing folder on the way to `path`, for the owner only;
// folders that exist are left as they are.
bool makeOwnerOnlyPath(const QString &path, QString &error)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !makeOwnerOnlyPath(parent, error))
        return false;
    if (!QDir().mkdir(path) && !QFileInfo(path).isDir()) {
        error = QStringLiteral("could not create the folder %1").arg(path);
        return false;
    }
    QFile::setPermissions(path, kOwnerOnlyFolder);
    return true;
}

} // namespace

PersistenceStore::PersistenceStore(QString baseFolder, const QString &bundleIdentifier)
    : baseFolder_(std::move(baseFolder))
{
    QString subfolder = bundleIdentifier;
    subfolder.replace(u'.', u'-');
    currentFolder_ = baseFolder_ + u'/' + subfolder;
    currentFile_ = currentFolder_ + u'/' + fileName;
    legacyFile_ = baseFolder_ + u'/' + fileName;
}

PersistenceStore::~PersistenceStore()
{
    waitForPendingSaves();
}

QString PersistenceStore::defaultBaseFolder()
{
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) // no home folder reported; keep to the XDG default
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/PendrelPublisher");
}

void PersistenceStore::setLogSink(LogSink sink)
{
    const std::lock_guard lock(mutex_);
    logSink_ = std::move(sink);
}

void PersistenceStore::log(const QString &line)
{
    LogSink sink;
    {
        const std::lock_guard lock(mutex_);
        sink = logSink_;
    }
    if (sink) {
        sink(line);
        return;
    }
    const QByteArray utf8 = line.toUtf8();
    syslog(LOG_ERR, "%s", utf8.constData());
    std::fprintf(stderr, "%s\n", utf8.constData());
}

PersistedState PersistenceStore::loadStateNow()
{
    std::optional<QByteArray> bytes = readAll(currentFile_);
    const bool fromCurrent = bytes.has_value();
    if (!bytes)
        bytes = readAll(legacyFile_);
    if (!bytes)
        return PersistedState{};
    try {
        return PersistedState::decode(*bytes);
    } catch (const DecodingError &) {
        // The state starts over from the defaults, but the user's articles
        // in the unreadable file are kept aside rather than overwritten by
        // the next save. The legacy file is only ever read, never moved.
        if (fromCurrent) {
            const QString aside =
                currentFile_ + QStringLiteral(".unreadable-")
                + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
            if (!QFile::rename(currentFile_, aside))
                log(QStringLiteral("PersistenceStore could not keep the unreadable state file: ")
                    + currentFile_);
        }
        return PersistedState{};
    }
}

QCoro::Task<PersistedState> PersistenceStore::loadState()
{
    auto promise = std::make_shared<QPromise<PersistedState>>();
    QFuture<PersistedState> future = promise->future();
    promise->start();
    executor_.post([this, promise] {
        promise->addResult(loadStateNow());
        promise->finish();
    });
    co_return co_await future;
}

void PersistenceStore::saveState(const ClipperSettings &settings,
                                 const std::optional<ClipPayload> &pendingClip, const QList<JobRecord> &jobs)
{
    bool schedule;
    {
        const std::lock_guard lock(mutex_);
        schedule = !waiting_.has_value();
        waiting_ = PersistedState{settings, pendingClip, jobs};
    }
    if (schedule)
        executor_.post([this] { writeLatest(); });
}

void PersistenceStore::waitForPendingSaves()
{
    executor_.waitForIdle();
}

void PersistenceStore::writeLatest()
{
    std::optional<PersistedState> state;
    {
        const std::lock_guard lock(mutex_);
        state.swap(waiting_);
    }
    if (!state)
        return;
    QString error;
    if (!write(*state, error))
        log(QStringLiteral("PersistenceStore save failed: ") + error);
}

bool PersistenceStore::write(const PersistedState &state, QString &error)
{
    if (!makeOwnerOnlyPath(currentFolder_, error))
        return false;
    const QByteArray bytes = state.encode();
    QSaveFile file(currentFile_);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    file.setPermissions(kOwnerOnlyFile);
    if (file.write(bytes) != bytes.size()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    // commit() flushes, syncs to disk and renames over the old file.
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace pendrel
