#pragma once

#include "state/PersistedState.h"
#include "state/PersistedStateEncoder.h"
#include "support/SerialExecutor.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

namespace pendrel {

// Reads the state file once at start and rewrites it whole after each
// change, encoding again only the jobs that changed (PersistedStateEncoder).
// Work runs on the store's own thread; callers hand over implicitly
// shared copies and never wait for a save. While a save is being written,
// newer requests replace each other, so at most one waits and the file ends
// up holding the last snapshot issued.
class PersistenceStore {
public:
    static constexpr QStringView fileName = u"clipper-state.json";

    // baseFolder: the application-support folder ("…/PendrelPublisher").
    PersistenceStore(QString baseFolder, const QString &bundleIdentifier);
    // Writes whatever save is still waiting before it returns.
    ~PersistenceStore();

    // ~/.local/share/PendrelPublisher (XDG_DATA_HOME honoured).
    static QString defaultBaseFolder();

    [[nodiscard]] const QString &currentFilePath() const { return currentFile_; }
    [[nodiscard]] const QString &legacyFilePath() const { return legacyFile_; }

    // Never fails: without a usable document it gives the default state.
    QCoro::Task<PersistedState> loadState();
    PersistedState loadStateNow(); // the same, on the calling thread

    void saveState(const ClipperSettings &settings, const std::optional<ClipPayload> &pendingClip,
                   const QList<JobRecord> &jobs);
    // Blocks until every save issued so far is on disk (tests, shutdown).
    void waitForPendingSaves();

    // Receives the single line of a failed save. The default writes it to
    // the system log and to stderr.
    using LogSink = std::function<void(const QString &line)>;
    void setLogSink(LogSink sink);

private:
    void writeLatest();
    bool write(const PersistedState &state, QString &error);
    void log(const QString &line);

    QString currentFile_;
    QString legacyFile_;

    std::mutex mutex_;
    std::optional<PersistedState> waiting_;
    LogSink logSink_;
    PersistedStateEncoder encoder_; // the store's thread only
    SerialExecutor executor_; // last: it must stop before the members above go
};

} // namespace pendrel
