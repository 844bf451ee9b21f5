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
#include <ctime>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace pendrel {

namespace {

qint64 nowNs()
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Until the file has not changed for `quiet` nanoseconds; five seconds at
// most. `identity` looks at it.
template <class Identity>
void waitUntilQuiet(Identity identity, qint64 quiet)
{
    const qint64 start = nowNs();
    FileIdentity last = identity();
    qint64 quietSince = start;
    while (nowNs() - quietSince < quiet && nowNs() - start < 5'000'000'000) {
        ::usleep(2000);
        if (const FileIdentity seen = identity(); seen != last) {
            last = seen;
            quietSince = nowNs();
        }
    }
}

// The file at `path` now.
FileIdentity identityAt(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const FileIdentity seen = fd >= 0 ? FileIdentity::of(fd) : FileIdentity{};
    if (fd >= 0)
        ::close(fd);
    return seen;
}

// The state file's bytes, read into memory whole. Not mapped: the file is
// the user's, and another program may cut it or copy a backup over it in
// place (cp, truncate, a sync tool) while it is read or while the finished
// jobs' texts still borrow its bytes (JobText). A mapping then raises
// SIGBUS at the first page past the new end, or shows the other program's
// bytes as ours. Read bytes are ours whatever happens to the file; reading
// costs about a sixth of loading more than faulting a mapping in.
//
// The file is checked before and after reading (FileIdentity: the change
// time moves with every write and truncation): what was read while it
// changed is read again, and a file that will not hold still is refused.
// The finished jobs' texts are read from here until they are packed; the
// last of them lets it go, on whichever thread that is.
class StateFileBytes {
public:
    explicit StateFileBytes(const QString &path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            problem_ = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        // The first thing: at the first launch after logging in the file is
        // on the disk only, and the kernel then reads all of it ahead in
        // large requests while the rest of this starts.
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_WILLNEED);
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (attempt > 0)
                ::usleep(20000 << attempt); // give a copy under way the time to end
            const FileIdentity before = FileIdentity::of(fd_);
            if (!before.known()) {
                problem_ = QString::fromLocal8Bit(std::strerror(errno));
                return;
            }
            struct stat info {};
            if (::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
                problem_ = QString::fromLocal8Bit(std::strerror(EISDIR));
                return;
            }
            if (!readWhole(before.size))
                return;
            if (FileIdentity::of(fd_) != before || bytes_.size() != before.size)
                continue;
            // Changed a moment ago: perhaps by a program that writes it in
            // place a piece at a time (a sync tool), read between two of its
            // writes. Taken once it has held still for a moment.
            if (attempt < 4 && nowNs() - before.changed < 200'000'000) {
                waitUntilQuiet([this] { return FileIdentity::of(fd_); }, 10'000'000);
                if (FileIdentity::of(fd_) != before)
                    continue;
            }
            identity_ = before;
            readable_ = true;
            return;
        }
        bytes_ = QByteArray();
        problem_ = QStringLiteral("another program kept changing it while it was read");
    }
    ~StateFileBytes()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    StateFileBytes(const StateFileBytes &) = delete;
    StateFileBytes &operator=(const StateFileBytes &) = delete;

    [[nodiscard]] bool readable() const { return readable_; }
    [[nodiscard]] QString problem() const { return problem_; }
    [[nodiscard]] const QByteArray &bytes() const { return bytes_; }
    // The file as it was while its bytes were read.
    [[nodiscard]] const FileIdentity &identity() const { return identity_; }
    // A descriptor of its own on the file, for reading it later.
    [[nodiscard]] int duplicate() const { return fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0); }

private:
    // Reads from the start until the end of file; `expected` sizes the
    // buffer (a file that grows meanwhile is read to its end all the same).
    bool readWhole(qint64 expected)
    {
        bytes_ = QByteArray();
        QByteArray buffer(qsizetype(std::max<qint64>(expected, 0)) + 1, Qt::Uninitialized);
        qsizetype got = 0;
        // A long history is read in two halves at once: copying it out of
        // the page cache (and faulting the buffer in) is most of reading it,
        // and from a cold disk two requests in flight keep it busier.
        if (expected > 0) {
            const int error = readFileStart(fd_, buffer.data(), expected);
            if (error > 0) {
                problem_ = QString::fromLocal8Bit(std::strerror(error));
                return false;
            }
            // Cut meanwhile: read on one's own from the start (the checks
            // after reading then tell that it changed).
            got = error < 0 ? 0 : qsizetype(expected);
        }
        for (;;) {
            if (got == buffer.size())
                buffer.resize(buffer.size() + std::max<qsizetype>(buffer.size() / 2, 4096));
            const ssize_t n = ::pread(fd_, buffer.data() + got, size_t(buffer.size() - got), got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                problem_ = QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
            if (n == 0)
                break;
            got += n;
        }
        buffer.truncate(got);
        bytes_ = std::move(buffer);
        return true;
    }


    int fd_ = -1;
    QByteArray bytes_;
    FileIdentity identity_;
    bool readable_ = false;
    QString problem_;
};

// A document that does not end as a whole one does, in a file changed in
// the last second: what another program leaves while it writes. Read
// again if it changes within a moment; a writer that pauses longer is not
// told from damage, and the file is set aside (never overwritten).
bool beingWritten(const StateFileBytes &file)
{
    const QByteArrayView bytes = QByteArrayView(file.bytes()).trimmed();
    return !bytes.endsWith('}') && nowNs() - file.identity().changed < 1'000'000'000;
}

// The state file read and decoded by startEarlyLoad() while the program
// starts; the store that loads the same file takes it over.
struct EarlyRead {
    QString path;
    std::optional<StateIndex::Loaded> indexed; // from the index: nothing else is read
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

QString indexFileOf(const QString &stateFile)
{
    return QFileInfo(stateFile).absolutePath() + u'/' + StateIndex::fileName;
}

// What saves say once the state file changed under an indexed load.
QString changedWhileReadReason()
{
    return QStringLiteral("another program changed the state file while it was read; quit Pendrel Publisher "
                          "and start it again to read that file");
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
        if (std::optional<StateIndex::Loaded> indexed = StateIndex::load(path, indexFileOf(path))) {
            read->indexed.emplace(std::move(*indexed));
            early.read = std::move(read);
            return;
        }
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

void PersistenceStore::waitForEarlyLoad()
{
    EarlyLoader &early = earlyLoader();
    const std::lock_guard lock(early.mutex);
    if (early.thread.joinable())
        early.thread.join();
}

PersistenceStore::PersistenceStore(QString baseFolder, const QString &bundleIdentifier)
{
    currentFile_ = currentFileOf(baseFolder, bundleIdentifier);
    indexFile_ = indexFileOf(currentFile_);
    legacyFile_ = baseFolder + u'/' + fileName;
    writeFile_ = currentFile_;
    // A store on a folder of its own (tests, tools) keeps its fallback
    // beside that folder, so that it never meets the user's.
    setFallbackBaseFolder(baseFolder == defaultBaseFolder() ? defaultFallbackBaseFolder()
                                                            : baseFolder + QStringLiteral("-cache"));
}

void PersistenceStore::setFallbackBaseFolder(const QString &baseFolder)
{
    fallbackFile_ =
        baseFolder + u'/' + QFileInfo(QFileInfo(currentFile_).absolutePath()).fileName() + u'/' + fileName;
}

PersistenceStore::~PersistenceStore()
{
    waitForPendingSaves();
    std::optional<QString> failure;
    {
        const std::lock_guard lock(mutex_);
        failure = failure_;
    }
    if (failure)
        saveUnsavedAtQuit(*failure);
}

void PersistenceStore::keepUnsaved(std::optional<PersistedState> state)
{
    const std::lock_guard lock(mutex_);
    unsaved_ = source_ ? std::nullopt : std::move(state);
}

void PersistenceStore::saveUnsavedAtQuit(const QString &reason)
{
    if (mustNotSave_) {
        // A fallback file would be taken over the other program's file at
        // the next start, without the articles this run never read.
        log(QStringLiteral("PersistenceStore saved nothing: ") + reason);
        return;
    }
    // The store's thread is idle (waitForPendingSaves), and this is the
    // source's thread: the snapshot is read here, the encoder used here.
    std::optional<PersistedState> state;
    QDateTime since;
    {
        const std::lock_guard lock(mutex_);
        state = unsaved_;
        since = failingSince_;
    }
    if (source_)
        state = source_();
    if (!state) {
        log(QStringLiteral("PersistenceStore could not save the latest changes before quitting: ") + reason);
        return;
    }
    QString error;
    const QList<FilePiece> pieces = encoder_.encode(*state);
    if (writePrivateFile(fallbackFile_, pieces, error)) {
        log(QStringLiteral("PersistenceStore could not save the latest changes before quitting (%1); "
                           "they are kept in %2 and taken at the next start")
                .arg(reason, fallbackFile_));
        return;
    }
    // Nothing could be written: say what a restart will make (and charge) again.
    QStringList names;
    for (const JobRecord &job : std::as_const(state->jobs)) {
        if (since.isValid() && job.updatedAt.isValid() && job.updatedAt < since.addSecs(-1))
            continue;
        const QString id = job.id.toString(QUuid::WithoutBraces).toUpper();
        names.append(job.title && !job.title->isEmpty() ? QStringLiteral("\"%1\" (%2)").arg(*job.title, id)
                                                        : id);
    }
    QString line = QStringLiteral("PersistenceStore could not save the latest changes before quitting (%1), "
                                  "nor keep them in %2 (%3)")
                       .arg(reason, fallbackFile_, error);
    line += names.isEmpty()
                ? QStringLiteral("; the settings changed since then are lost")
                : QStringLiteral(
                      "; the stages these jobs finished since then will be requested again at the next "
                      "start: ")
                      + names.join(QStringLiteral(", "));
    log(line);
}

std::optional<PersistedState> PersistenceStore::loadFallback(const QString &stateFile)
{
    const QFileInfo fallback(fallbackFile_);
    if (!fallback.isFile())
        return std::nullopt;
    fallbackPresent_ = true;
    const QFileInfo state(stateFile);
    // Newer than the state file: written at a quit after the state file's
    // last save. An older one was superseded by a save of a later run.
    if (state.exists() && fallback.lastModified() <= state.lastModified()) {
        log(QStringLiteral("PersistenceStore leaves %1 aside: the state file is newer").arg(fallbackFile_));
        return std::nullopt;
    }
    const auto file = std::make_shared<const StateFileBytes>(fallbackFile_);
    if (!file->readable()) {
        log(QStringLiteral("PersistenceStore cannot read %1: %2").arg(fallbackFile_, file->problem()));
        return std::nullopt;
    }
    try {
        QList<std::shared_ptr<JobText::Block>> borrowed;
        PersistedState loaded = PersistedState::decode(file->bytes(), nullptr, file, &borrowed);
        packer_.add(std::move(borrowed), [] { malloc_trim(0); });
        log(QStringLiteral("PersistenceStore takes the state that could not be saved at the last quit from ")
            + fallbackFile_);
        return loaded;
    } catch (const DecodingError &e) { // cut short: not whole, not taken
        log(QStringLiteral("PersistenceStore leaves %1 aside: %2").arg(fallbackFile_, e.description()));
        return std::nullopt;
    }
}

QString PersistenceStore::defaultBaseFolder()
{
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) // no home folder reported; keep to the XDG default
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/PendrelPublisher");
}

QString PersistenceStore::defaultFallbackBaseFolder()
{
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/PendrelPublisher");
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
    removeAbandonedWrites(indexFile_);
    restrictOwnFolder(QFileInfo(legacyFile_).absolutePath());
    restrictOwnFolder(QFileInfo(currentFile_).absolutePath());
    if (std::optional<PersistedState> unsaved = loadFallback(currentFile_))
        return std::move(*unsaved); // the first save writes every job (nothing to copy from)

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
    std::optional<StateIndex::Loaded> indexed =
        early ? std::move(early->indexed) : StateIndex::load(currentFile_, indexFile_);
    if (indexed) {
        // The whole state from the index; the articles are read next, on
        // this thread, before anything is saved.
        loadedFromIndex_ = true;
        lastModified_ = indexed->pending->identity.modified;
        encoder_.seed(std::exchange(indexed->stateFd, -1), indexed->state.jobs, indexed->places,
                      indexed->pending->identity, std::exchange(indexed->indexFd, -1), indexed->indexIdentity);
        {
            const std::lock_guard lock(mutex_);
            pending_ = std::move(indexed->pending);
        }
        executor_.post([this] { finishIndexedLoad(); });
        return std::move(indexed->state);
    }
    loadedFromIndex_ = false;
    std::shared_ptr<const StateFileBytes> file =
        early && early->file ? early->file : std::make_shared<const StateFileBytes>(currentFile_);
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
    for (int attempt = 0;; ++attempt) {
        try {
            QList<PersistedState::JobPlace> read;
            QList<std::shared_ptr<JobText::Block>> borrowed;
            PersistedState state;
            if (early) { // read while the program started; a second attempt reads afresh
                const std::unique_ptr<EarlyRead> taken = std::move(early);
                if (taken->failure)
                    throw *taken->failure;
                state = std::move(*taken->state);
                read = std::move(taken->places);
                borrowed = std::move(taken->borrowed);
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
                        offset(job.bytes), qint64(job.bytes.size()), {}, job.longTextsInWritersForm, -1, 0, 0, {}};
                    for (const QByteArrayView text : job.longTexts)
                        place.longTexts.append({offset(text), qint64(text.size())});
                    places.append(std::move(place));
                }
                encoder_.seed(fd, state.jobs, places, file->identity());
                lastModified_ = file->identity().modified;
            }
            file.reset();
            // The finished jobs' texts are packed while the program starts; the
            // file's bytes go once they all are.
            packer_.add(std::move(borrowed), [] { malloc_trim(0); });
            return state;
        } catch (const DecodingError &e) {
            // Cut short by a program that is writing it right now (a backup
            // copied back, a sync tool): read again once it has been quiet for
            // a moment, before it is called unreadable.
            if (fromCurrent && attempt < 3 && beingWritten(*file)) {
                waitUntilQuiet([this] { return identityAt(currentFile_); }, 20'000'000);
                if (identityAt(currentFile_) != file->identity()) {
                    auto again = std::make_shared<const StateFileBytes>(currentFile_);
                    if (again->readable()) {
                        file = std::move(again);
                        continue;
                    }
                }
            }
            if (fromCurrent)
                setAside(e.description());
            return PersistedState{};
        }
    }
}

void PersistenceStore::finishIndexedLoad()
{
    std::unique_ptr<StateIndex::Pending> pending;
    {
        const std::lock_guard lock(mutex_);
        pending = std::move(pending_);
    }
    if (!pending)
        return;
    const bool read = StateIndex::finishReading(*pending);
    // The finished jobs' log lines, read here rather than while the panel
    // waits; they let go of the file's bytes, as the texts do once packed.
    for (const std::shared_ptr<JobLogs::Source> &logs : std::as_const(pending->logs))
        JobLogs::read(logs);
    pending->logs.clear();
    if (read) {
        packer_.add(std::move(pending->blocks), [] { malloc_trim(0); });
        return;
    }
    pending->blocks.clear();
    {
        const std::lock_guard lock(mutex_);
        mustNotSave_ = changedWhileReadReason();
    }
    log(QStringLiteral("PersistenceStore will not save: ") + changedWhileReadReason());
}

// Every state file written here is given a later modification time than the
// one before, even within one tick of the file system's clock (a few ms):
// an index names its file by its times among others, and must never take a
// newer file that happens to get an older one's inode and size.
void PersistenceStore::keepTimesApart(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return;
    qint64 modified = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    if (modified <= lastModified_) {
        modified = lastModified_ + 1;
        const struct timespec times[2] = {{0, UTIME_OMIT}, {modified / 1'000'000'000, modified % 1'000'000'000}};
        ::futimens(fd, times);
    }
    lastModified_ = modified;
}

void PersistenceStore::writeIndex()
{
    {
        const std::lock_guard lock(mutex_);
        if (waiting_ || requested_ || mustNotSave_)
            return; // the save after this one writes it
    }
    const QList<FilePiece> pieces = encoder_.indexPieces();
    if (pieces.isEmpty())
        return;
    QString error;
    int written = -1;
    // Only ever a cache, checked when read: nothing waits for the disk.
    if (writePrivateFile(indexFile_, pieces, error, &written, false)) {
        encoder_.indexWritten(written);
        return;
    }
    encoder_.indexNotWritten(error == sourceChangedReason());
    QFile::remove(indexFile_); // it describes an older file: reading it would only cost time
}

bool PersistenceStore::dropIndex()
{
    // Unlinked, an index still holds its room while the encoder has it open.
    const bool removed = QFile::remove(indexFile_);
    return encoder_.releaseIndex() || removed;
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
    // A save asked for before the articles of an indexed load were read
    // waits for them: it may have to encode some, and must know whether the
    // file still is the one the index described.
    finishIndexedLoad();
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
    std::optional<QString> mustNotSave;
    {
        const std::lock_guard lock(mutex_);
        mustNotSave = mustNotSave_;
    }
    QList<FilePiece> pieces = mustNotSave ? QList<FilePiece>() : encoder_.encode(*state);
    jobsEncoded_ = encoder_.lastEncodedJobs();
    int written = -1;
    if (mustNotSave)
        outcome.error = *mustNotSave;
    else
        outcome.saved = writePrivateFile(writeFile_, pieces, outcome.error, &written);
    if (!outcome.saved && outcome.error == sourceChangedReason()) {
        // The file the unchanged jobs were copied from was cut or written
        // over by another program: the history held here is written whole
        // instead (the encoder no longer trusts that file), over whatever
        // the other program left.
        pieces = encoder_.encode(*state);
        jobsEncoded_ = encoder_.lastEncodedJobs();
        outcome.saved = writePrivateFile(writeFile_, pieces, outcome.error, &written);
    }
    if (!outcome.saved && !mustNotSave && dropIndex()) {
        // The index is only a cache: on a full disk it gives its room to the
        // state file, which is tried once more at once.
        outcome.saved = writePrivateFile(writeFile_, pieces, outcome.error, &written);
    }
    pieces.clear();
    if (outcome.saved) {
        keepTimesApart(written);
        encoder_.written(written);
        executor_.post([this] { writeIndex(); });
        keepUnsaved({});
        // The state file holds the newest state now: a fallback file left
        // by an earlier quit has served.
        if (fallbackPresent_ && (!QFile::exists(fallbackFile_) || QFile::remove(fallbackFile_)))
            fallbackPresent_ = false;
    } else {
        keepUnsaved(std::move(state));
    }
    state.reset();                      // the caller's list is its own again
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
        if (!outcome.saved && !failure_)
            failingSince_ = QDateTime::currentDateTimeUtc();
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
