#pragma once

#include "state/PersistedState.h"
#include "state/PersistedStateEncoder.h"
#include "state/StateIndex.h"
#include "support/SerialExecutor.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace pendrel {

// Reads the state file once at start and rewrites it whole after each
// change, encoding again only the jobs that changed (PersistedStateEncoder).
// Work runs on the store's own thread; callers hand over implicitly
// shared copies and never wait for a save. While a save is being written,
// newer requests replace each other, so at most one waits and the file ends
// up holding the last snapshot issued.
//
// A caller that changes its job list often asks with requestSave() instead:
// the store takes the snapshot from the caller's source only when it is
// ready to encode it, and lets go of it before the file is written. A copy
// held while a long save is written would make each change of the caller's
// list copy the whole list (every record), and dropping the copies it
// replaces would cost the caller as much again.
class PersistenceStore {
public:
    static constexpr QStringView fileName = u"clipper-state.json";

    // baseFolder: the application-support folder ("…/PendrelPublisher").
    PersistenceStore(QString baseFolder, const QString &bundleIdentifier);
    // Writes whatever save is still waiting before it returns. When the last
    // save could not be written, the state not saved goes to the fallback
    // file instead (a paid stage the program holds must not be made and
    // charged again after a restart); where that fails too, the log and
    // stderr name the jobs whose finished stages will be requested again.
    ~PersistenceStore();

    // ~/.local/share/PendrelPublisher (XDG_DATA_HOME honoured).
    static QString defaultBaseFolder();
    // ~/.cache/PendrelPublisher (XDG_CACHE_HOME honoured): the fallback
    // file's, on purpose not beside the state file, which may be the thing
    // that cannot be written.
    static QString defaultFallbackBaseFolder();

    // Starts reading and decoding the state file on a thread of its own,
    // before the application and its store exist (the program's start-up
    // meanwhile costs as much again): the first loadState() of a store for
    // the same file takes over what it read instead of reading it again.
    static void startEarlyLoad(const QString &baseFolder, const QString &bundleIdentifier);
    // Waits until that read is done; what it read stays for the store.
    static void waitForEarlyLoad();

    [[nodiscard]] const QString &currentFilePath() const { return currentFile_; }
    [[nodiscard]] const QString &legacyFilePath() const { return legacyFile_; }
    // Where the state goes at quit when the state file cannot be written:
    // <fallback base>/<bundle folder>/clipper-state.json, 0600 in 0700
    // folders. Loading takes it when it is newer than the state file and
    // whole; the first save that works removes it. A store on another base
    // folder than the default (tests) uses "<base folder>-cache" instead.
    [[nodiscard]] const QString &fallbackFilePath() const { return fallbackFile_; }
    void setFallbackBaseFolder(const QString &baseFolder); // before loading

    // Never fails: without a usable document it gives the default state.
    QCoro::Task<PersistedState> loadState();
    PersistedState loadStateNow(); // the same, on the calling thread

    void saveState(const ClipperSettings &settings, const std::optional<ClipPayload> &pendingClip,
                   const QList<JobRecord> &jobs);
    // Blocks until every save issued so far is on disk (tests, shutdown).
    void waitForPendingSaves();

    // The state requestSave() saves, read on `context`'s thread (which must
    // run an event loop, and is the thread the store is used and destroyed
    // on) when the store is ready for it. Source and context must outlive
    // the store.
    using SnapshotSource = std::function<PersistedState()>;
    void setSnapshotSource(QObject *context, SnapshotSource source);
    // Saves the source's state (nothing without a source); returns at once.
    // With a save under way it only notes the request, and the state is
    // taken once that save is done.
    void requestSave();

    // Receives the log lines: one when saves start failing (or fail for
    // another reason), one when they work again, never one per attempt.
    // The default writes them to the system log and to stderr.
    using LogSink = std::function<void(const QString &line)>;
    void setLogSink(LogSink sink);

    // Each save request gets the next number; a written (or failed)
    // snapshot reports the last request it holds.
    struct SaveOutcome {
        quint64 covers = 0;
        bool saved = false;
        QString error; // the system's reason when not saved
    };
    // The number of the last request made so far (saveState or requestSave).
    [[nodiscard]] quint64 lastRequest() const;
    // How many jobs the last save encoded rather than copied from the file
    // before it (after waitForPendingSaves()).
    [[nodiscard]] qsizetype jobsEncodedLastSave() const { return jobsEncoded_; }
    // The index beside the state file (StateIndex), and whether the last
    // load took the state from it.
    [[nodiscard]] const QString &indexFilePath() const { return indexFile_; }
    [[nodiscard]] bool loadedFromIndex() const { return loadedFromIndex_; }
    // The outcome of the last write, if any.
    [[nodiscard]] std::optional<SaveOutcome> lastOutcome() const;
    // Called on the snapshot source's context after each write.
    using OutcomeSink = std::function<void(const SaveOutcome &)>;
    void setOutcomeSink(OutcomeSink sink);

private:
    void handOver();
    void saveFromSource();
    void hand(PersistedState state, quint64 covers);
    void writeLatest();
    void log(const QString &line);
    void keepUnsaved(std::optional<PersistedState> state);
    void saveUnsavedAtQuit(const QString &reason);
    void finishIndexedLoad();
    void keepTimesApart(int fd);
    void writeIndex();
    bool dropIndex(); // true when that freed an index
    std::optional<PersistedState> loadFallback(const QString &stateFile);

    QString currentFile_;
    QString writeFile_; // where saves go: the file, or what it links to
    QString legacyFile_;
    QString indexFile_;
    bool loadedFromIndex_ = false;
    std::unique_ptr<StateIndex::Pending> pending_; // the texts still to read after an indexed load
    // Saves must not replace the state file: it changed while its texts were
    // read after an indexed load, and what is held lacks them.
    std::optional<QString> mustNotSave_;
    qint64 lastModified_ = 0; // the modification time of the last state file read or written, in ns
    QString fallbackFile_;
    bool fallbackPresent_ = false; // to remove once a save works (the store's thread)

    mutable std::mutex mutex_;
    std::optional<PersistedState> waiting_;
    quint64 waitingCovers_ = 0;
    quint64 requests_ = 0;
    std::optional<SaveOutcome> lastOutcome_;
    std::optional<QString> failure_; // the reason saves are failing, logged once
    QDateTime failingSince_;         // when saves started failing
    // Without a snapshot source: the last state that could not be saved,
    // for the fallback file at quit. (With one, the source gives it then.)
    std::optional<PersistedState> unsaved_;
    OutcomeSink outcomeSink_;
    bool writing_ = false;   // a snapshot is being encoded or written
    bool requested_ = false; // requestSave() during a save: take the source's state after it
    bool handOverQueued_ = false;
    SnapshotSource source_;
    QObject *sourceContext_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // for hand-overs queued to the context
    LogSink logSink_;
    PersistedStateEncoder encoder_; // the store's thread only
    std::atomic<qsizetype> jobsEncoded_ = 0;
    JobTextPacker packer_;    // the loaded jobs' texts, while the program starts
    SerialExecutor executor_; // last: it must stop before the members above go
};

} // namespace pendrel
