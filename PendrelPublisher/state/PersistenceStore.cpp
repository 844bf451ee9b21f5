#include "state/PersistenceStore.h"

#include "state/AppConfiguration.h"
#include "support/Error.h"
#include "support/PrivateFiles.h"

#include <QCoroFuture>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPromise>
#include <QStandardPaths>

#include <algorithm>
#include <mutex>
#include <thread>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace pendrel {

namespace {

// The state file's bytes, mapped rather than copied where the file system
// allows: a long history's file runs to hundreds of megabytes, and reading
// it into memory first costs a sixth of its loading. The file is only ever
// replaced by a rename, never changed in place, so the mapping stays whole.
// Finished jobs' texts are read from here until they are packed (JobText);
// the last of them lets it go, on whichever thread that is.
class StateFileBytes {
public:
    explicit StateFileBytes(const QString &path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
            problem_ = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        if (S_ISDIR(info.st_mode)) {
            problem_ = QString::fromLocal8Bit(std::strerror(EISDIR));
            return;
        }
        if (S_ISREG(info.st_mode) && info.st_size > 0) {
            void *mapped = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd_, 0);
            if (mapped != MAP_FAILED) {
                // Faulted in as read, not populated ahead: MAP_POPULATE (or
                // MADV_POPULATE_READ, even a few megabytes at a time) holds
                // the process's memory map locked, and the interface thread
                // stood still for 80 to 100 ms with 5,000 jobs whenever it
                // mapped memory of its own meanwhile. Reading costs a tenth
                // more this way.
                mapped_ = mapped;
                mappedSize_ = size_t(info.st_size);
                readAhead(info.st_size);
                bytes_ = QByteArray::fromRawData(static_cast<const char *>(mapped), qsizetype(info.st_size));
                readable_ = true;
                return;
            }
        }
        QFile file;
        if (!file.open(fd_, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            problem_ = file.errorString();
            return;
        }
        bytes_ = file.readAll();
        readable_ = file.error() == QFileDevice::NoError;
        if (!readable_)
            problem_ = file.errorString();
    }
    ~StateFileBytes()
    {
        if (reader_.joinable())
            reader_.join();
        if (mapped_)
            ::munmap(mapped_, mappedSize_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    StateFileBytes(const StateFileBytes &) = delete;
    StateFileBytes &operator=(const StateFileBytes &) = delete;

    [[nodiscard]] bool readable() const { return readable_; }
    [[nodiscard]] QString problem() const { return problem_; }
    [[nodiscard]] const QByteArray &bytes() const { return bytes_; }
    // A descriptor of its own on the file, for reading it later.
    [[nodiscard]] int duplicate() const { return fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0); }

private:
    // A file that is not in the page cache (the first launch after logging
    // in) would otherwise come in a fault at a time, each reading only a
    // little ahead: asked for in pieces ahead of the readers, from the start
    // and from the middle (where a second reader starts), on a thread of its
    // own, since asking waits while the disk queue is full. In the cache,
    // each ask finds the pages there and costs next to nothing.
    void readAhead(qint64 size)
    {
        const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            return;
        reader_ = std::thread([fd, size] {
            constexpr qint64 kPiece = 4 << 20;
            const qint64 half = size / 2;
            for (qint64 at = 0; at < half; at += kPiece) {
                ::posix_fadvise(fd, at, std::min(kPiece, half - at), POSIX_FADV_WILLNEED);
                ::posix_fadvise(fd, half + at, std::min(kPiece, size - half - at), POSIX_FADV_WILLNEED);
            }
            ::close(fd);
        });
    }

    std::thread reader_;
    int fd_ = -1;
    void *mapped_ = nullptr;
    size_t mappedSize_ = 0;
    QByteArray bytes_;
    bool readable_ = false;
    QString problem_;
};

// The state file read and decoded by startEarlyLoad() while the program
// starts; the store that loads the same file takes it over.
struct EarlyRead {
    QString path;
    std::shared_ptr<const StateFileBytes> file;
    std::optional<PersistedState> state; // decoded, unless it failed
    std::optional<DecodingError> failure;
    QList<PersistedState::JobPlace> places;
    QList<std::shared_ptr<JobText::Block>> borrowed;
};

struct EarlyLoader {
    std::mutex mutex;
    std::thread thread;
    std::unique_ptr<EarlyRead> read; // once the thread is joined
    // A program that ends before loading (or never loads that file) waits for it.
    ~EarlyLoader()
    {
        if (thread.joinable())
            thread.join();
    }
};

EarlyLoader &earlyLoader()
{
    static EarlyLoader loader;
    return loader;
}

// What startEarlyLoad() read of `path`, once it is done; nothing when it read
// another file or was not started.
std::unique_ptr<EarlyRead> takeEarlyRead(const QString &path)
{
    EarlyLoader &early = earlyLoader();
    const std::lock_guard lock(early.mutex);
    if (early.thread.joinable())
        early.thread.join();
    if (!early.read || early.read->path != path)
        return nullptr;
    return std::move(early.read);
}

QString currentFileOf(const QString &baseFolder, const QString &bundleIdentifier)
{
    return baseFolder + u'/' + AppConfiguration::bundleFolderName(bundleIdentifier) + u'/'
           + PersistenceStore::fileName;
}

} // namespace

void PersistenceStore::startEarlyLoad(const QString &baseFolder, const QString &bundleIdentifier)
{
    EarlyLoader &early = earlyLoader();
    const std::lock_guard lock(early.mutex);
    if (early.thread.joinable() || early.read)
        return;
    early.thread = std::thread([&early, path = currentFileOf(baseFolder, bundleIdentifier)] {
        auto read = std::make_unique<EarlyRead>();
        read->path = path;
        read->file = std::make_shared<const StateFileBytes>(path);
        if (read->file->readable()) {
            try {
                read->state = PersistedState::decode(read->file->bytes(), &read->places, read->file, &read->borrowed);
            } catch (const DecodingError &e) {
                read->failure = e;
            }
        }
        early.read = std::move(read); // the thread is joined before anyone reads it
    });
}

PersistenceStore::PersistenceStore(QString baseFolder, const QString &bundleIdentifier)
{
    currentFile_ = currentFileOf(baseFolder, bundleIdentifier);
    legacyFile_ = baseFolder + u'/' + fileName;
    writeFile_ = currentFile_;
}

PersistenceStore::~PersistenceStore()
{
    waitForPendingSaves();
    std::optional<QString> failure;
    {
        const std::lock_guard lock(mutex_);
        failure = failure_;
    }
    // The last chance to tell: the changes since the last good save are lost.
    if (failure)
        log(QStringLiteral("PersistenceStore could not save the latest changes before quitting: ")
            + *failure);
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
    // Read once at start, before any save of ours: a temporary file beside
    // it is what a killed save left.
    // A state file that is a link (into a synced folder, say) stays one:
    // saves replace what it points at, not the link.
    const QFileInfo at(currentFile_);
    writeFile_ = at.isSymLink() ? at.symLinkTarget() : currentFile_;
    removeAbandonedWrites(writeFile_);
    restrictOwnFolder(QFileInfo(legacyFile_).absolutePath());
    restrictOwnFolder(QFileInfo(currentFile_).absolutePath());

    // The state starts over from the defaults, but the user's articles in a
    // file that cannot be read are kept aside rather than replaced by the
    // next save. The legacy file is only ever read, never moved.
    const auto setAside = [this](const QString &why) {
        const QString aside =
            currentFile_ + QStringLiteral(".unreadable-")
            + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        log(QStringLiteral("PersistenceStore cannot read the state file (%1); it is kept as %2")
                .arg(why, aside));
        if (!QFile::rename(currentFile_, aside))
            log(QStringLiteral("PersistenceStore could not keep the unreadable state file: ") + currentFile_);
        writeFile_ = currentFile_;
    };
    std::unique_ptr<EarlyRead> early = takeEarlyRead(currentFile_);
    std::shared_ptr<const StateFileBytes> file =
        early ? early->file : std::make_shared<const StateFileBytes>(currentFile_);
    const bool fromCurrent = file->readable();
    if (!fromCurrent)
        early.reset();
    // There, but not for us to read (another user's, a folder): the legacy
    // file is read instead, and the first save must not destroy this one.
    if (!fromCurrent && at.exists())
        setAside(at.isDir() ? QStringLiteral("it is a folder") : file->problem());
    if (!fromCurrent)
        file = std::make_shared<const StateFileBytes>(legacyFile_);
    if (!file->readable())
        return PersistedState{};
    try {
        QList<PersistedState::JobPlace> read;
        QList<std::shared_ptr<JobText::Block>> borrowed;
        PersistedState state;
        if (early) {
            if (early->failure)
                throw *early->failure;
            state = std::move(*early->state);
            read = std::move(early->places);
            borrowed = std::move(early->borrowed);
            early.reset();
        } else {
            state = PersistedState::decode(file->bytes(), &read, file, &borrowed);
        }
        if (const int fd = file->duplicate(); fd >= 0) {
            const auto offset = [&](QByteArrayView in) {
                return qint64(in.data() - file->bytes().constData());
            };
            QList<PersistedStateEncoder::Place> places;
            places.reserve(read.size());
            for (const PersistedState::JobPlace &job : std::as_const(read)) {
                PersistedStateEncoder::Place place{
                    offset(job.bytes), qint64(job.bytes.size()), {}, job.longTextsInWritersForm};
                for (const QByteArrayView text : job.longTexts)
                    place.longTexts.append({offset(text), qint64(text.size())});
                places.append(std::move(place));
            }
            encoder_.seed(fd, state.jobs, places);
        }
        file.reset();
        // The finished jobs' texts are packed while the program starts; the
        // file's bytes go once they all are.
        packer_.add(std::move(borrowed), [] { malloc_trim(0); });
        return state;
    } catch (const DecodingError &e) {
        if (fromCurrent)
            setAside(e.description());
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
    quint64 covers;
    {
        const std::lock_guard lock(mutex_);
        covers = ++requests_;
    }
    hand(PersistedState{settings, pendingClip, jobs}, covers);
}

void PersistenceStore::hand(PersistedState state, quint64 covers)
{
    bool schedule;
    {
        const std::lock_guard lock(mutex_);
        schedule = !waiting_.has_value();
        waiting_ = std::move(state);
        waitingCovers_ = covers;
    }
    if (schedule)
        executor_.post([this] { writeLatest(); });
}

void PersistenceStore::saveFromSource()
{
    quint64 covers;
    {
        const std::lock_guard lock(mutex_);
        covers = requests_;
    }
    hand(source_(), covers);
}

quint64 PersistenceStore::lastRequest() const
{
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<PersistenceStore::SaveOutcome> PersistenceStore::lastOutcome() const
{
    const std::lock_guard lock(mutex_);
    return lastOutcome_;
}

void PersistenceStore::setOutcomeSink(OutcomeSink sink)
{
    const std::lock_guard lock(mutex_);
    outcomeSink_ = std::move(sink);
}

void PersistenceStore::waitForPendingSaves()
{
    for (;;) {
        executor_.waitForIdle();
        bool pending;
        {
            const std::lock_guard lock(mutex_);
            pending = requested_ || handOverQueued_;
            requested_ = false;
            handOverQueued_ = false;
        }
        if (!pending || !source_)
            return;
        // A request the source has not answered yet: this is its thread.
        saveFromSource();
    }
}

void PersistenceStore::setSnapshotSource(QObject *context, SnapshotSource source)
{
    const std::lock_guard lock(mutex_);
    sourceContext_ = context;
    source_ = std::move(source);
}

void PersistenceStore::requestSave()
{
    if (!source_)
        return;
    {
        const std::lock_guard lock(mutex_);
        ++requests_;
        if (writing_ || waiting_ || handOverQueued_) {
            requested_ = true;
            return;
        }
    }
    saveFromSource();
}

void PersistenceStore::handOver()
{
    {
        const std::lock_guard lock(mutex_);
        if (!handOverQueued_) // waitForPendingSaves() took care of it
            return;
        handOverQueued_ = false;
        requested_ = false; // requests since the hand-over was queued are covered by this snapshot
    }
    saveFromSource();
}

void PersistenceStore::writeLatest()
{
    std::optional<PersistedState> state;
    SaveOutcome outcome;
    {
        const std::lock_guard lock(mutex_);
        state.swap(waiting_);
        outcome.covers = waitingCovers_;
        writing_ = state.has_value();
    }
    if (!state)
        return;
    const QList<FilePiece> pieces = encoder_.encode(*state);
    jobsEncoded_ = encoder_.lastEncodedJobs();
    state.reset(); // the caller's list is its own again while the file is written
    int written = -1;
    outcome.saved = writePrivateFile(writeFile_, pieces, outcome.error, &written);
    if (outcome.saved)
        encoder_.written(written);
    if (encoder_.lastEncodedJobs() > 1) // a first save writes out every packed text once
        malloc_trim(0);

    std::optional<QString> line;
    QObject *context;
    OutcomeSink sink;
    bool handOverNow = false;
    {
        const std::lock_guard lock(mutex_);
        // One line when saves start failing or fail for a new reason, one
        // when they work again: a full disk must not flood the log.
        if (!outcome.saved && failure_ != outcome.error)
            line = QStringLiteral("PersistenceStore save failed: ") + outcome.error;
        else if (outcome.saved && failure_)
            line = QStringLiteral("PersistenceStore saves again: ") + currentFile_;
        failure_ = outcome.saved ? std::nullopt : std::optional<QString>(outcome.error);
        lastOutcome_ = outcome;
        writing_ = false;
        if (requested_ && !waiting_) {
            requested_ = false;
            handOverQueued_ = true;
            handOverNow = true;
        }
        context = sourceContext_;
        sink = outcomeSink_;
    }
    if (line)
        log(*line);
    if (!context)
        return;
    QMetaObject::invokeMethod(
        context,
        [this, alive = std::weak_ptr<bool>(alive_), sink, outcome, handOverNow] {
            if (alive.expired())
                return;
            if (sink)
                sink(outcome);
            if (handOverNow)
                handOver();
        },
        Qt::QueuedConnection);
}

} // namespace pendrel
