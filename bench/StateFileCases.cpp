// The state file's costs: the caller's share of a save, one save, the first
// save of a run, loading, and a burst of updates, each beside the plain
// operation it should stay close to.

#include "Measure.h"
#include "SyntheticHistory.h"

#include "state/AppConfiguration.h"
#include "state/PersistenceStore.h"
#include "support/PrivateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace pendrel::bench {

const PersistedState &history(int jobs)
{
    static int size = -1;
    static PersistedState state;
    if (size != jobs) {
        state = PersistedState(); // the old size goes before the new one is made
        state = syntheticHistory(jobs);
        size = jobs;
    }
    return state;
}

namespace {

// A store in a throwaway folder that turns a failed save into a failed case.
class ScratchStore {
public:
    ScratchStore() : store_(std::make_unique<PersistenceStore>(folder_.path(), AppConfiguration::bundleIdentifier()))
    {
        store_->setLogSink([failed = failed_](const QString &) { failed->store(true); });
    }

    PersistenceStore &operator*() { return *store_; }
    PersistenceStore *operator->() { return store_.get(); }
    [[nodiscard]] bool failed() const { return failed_->load(); }
    [[nodiscard]] QString path(const QString &name) const { return folder_.filePath(name); }
    // A new store on the same folder: it knows none of the jobs' texts.
    void restart()
    {
        store_.reset();
        store_ = std::make_unique<PersistenceStore>(folder_.path(), AppConfiguration::bundleIdentifier());
        store_->setLogSink([failed = failed_](const QString &) { failed->store(true); });
    }

    void save(const PersistedState &state)
    {
        store_->saveState(state.settings, state.pendingClip, state.jobs);
    }
    // As the application saves: the store takes the state when it is ready.
    void takeFrom(const PersistedState &state)
    {
        store_->setSnapshotSource(&context_, [&state] { return state; });
    }
    void saveAndWait(const PersistedState &state)
    {
        save(state);
        store_->waitForPendingSaves();
    }

private:
    QObject context_; // the hand-overs' thread is the caller's
    QTemporaryDir folder_;
    std::shared_ptr<std::atomic<bool>> failed_ = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<PersistenceStore> store_;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The same atomic write as the store's, of bytes in hand, handed to the
// file in 1 MiB pieces: a single write() of a few hundred megabytes took up
// to three times as long here, and erratically.
bool plainWrite(const QString &path, const QByteArray &bytes)
{
    constexpr qsizetype kPiece = 1024 * 1024;
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < bytes.size(); at += kPiece)
        pieces.append(QByteArray::fromRawData(bytes.constData() + at, std::min(kPiece, bytes.size() - at)));
    QString error;
    return writePrivateFile(path, pieces, error);
}

// The job the queue is working on during the n-th update: eight stage
// updates each, then the next one.
JobRecord &jobOfUpdate(PersistedState &state, int update)
{
    return state.jobs[(update / 8) % state.jobs.size()];
}

// persist() asks the store for a save; the store takes a copy of the
// settings, the pending clip and the job list (reference counts) when it is
// ready, through the event loop. Both halves are the caller's. A change of
// the list while the store holds that copy (only while it encodes) copies
// the list itself (every record, not their texts); measured beside it.
void persistCallerShare(benchmark::State &st, int jobs)
{
    PersistedState state = history(jobs);
    state.jobs.detach(); // the list is the caller's alone, not shared with the generated history
    ScratchStore store;
    store.takeFrom(state);
    double copyOnWrite = 0;
    int tick = 0;
    for (auto _ : st) {
        st.SetIterationTime(secondsOf([&] {
            store->requestSave();
            QCoreApplication::processEvents();
        }));
        copyOnWrite += secondsOf([&] { advanceStage(jobOfUpdate(state, tick), tick); });
        ++tick;
    }
    st.counters["copy_on_write_s"] = perIteration(copyOnWrite);
    store->waitForPendingSaves();
    if (store.failed())
        st.SkipWithError("a save failed");
}

// One save as the application makes them: one job changed since the last
// save. Beside it, a plain atomic write of the same number of bytes to the
// same disk; the two take turns going first, so that neither always writes
// behind the other's flush.
void saveAfterOneChange(benchmark::State &st, int jobs)
{
    PersistedState state = history(jobs);
    ScratchStore store;
    store.saveAndWait(state); // the first save of a run; measured on its own
    const QByteArray bytes = readAll(store->currentFilePath());
    const QString reference = store.path(QStringLiteral("reference/clipper-state.json"));
    double plain = 0;
    int tick = 0;
    bool written = true;
    for (auto _ : st) {
        advanceStage(jobOfUpdate(state, tick), tick);
        const auto plainOne = [&] { plain += secondsOf([&] { written = plainWrite(reference, bytes) && written; }); };
        if (tick % 2 == 1)
            plainOne();
        st.SetIterationTime(secondsOf([&] { store.saveAndWait(state); }));
        if (tick % 2 == 0)
            plainOne();
        ++tick;
    }
    st.counters["plain_write_s"] = perIteration(plain);
    st.counters["file_bytes"] = double(bytes.size());
    if (store.failed() || !written)
        st.SkipWithError("a save failed");
}

// The first save of a run as the program makes it: a new store reads the
// file (not timed), and the state read is saved again. Beside it, a plain
// atomic write of the same bytes, and the same save made the usual Qt way
// (QJsonDocument::toJson, then the same atomic write).
void firstSave(benchmark::State &st, int jobs)
{
    const PersistedState &state = history(jobs);
    ScratchStore store;
    store.saveAndWait(state);
    const QByteArray bytes = readAll(store->currentFilePath());
    const QString reference = store.path(QStringLiteral("reference/clipper-state.json"));
    double qt = 0;
    double plain = 0;
    bool written = true;
    for (auto _ : st) {
        store.restart();
        PersistedState loaded = store->loadStateNow();
        // Loading ends with the articles read on the store's thread (a row
        // of its own, under "load"); the save is timed from its request.
        store->waitForPendingSaves();
        st.SetIterationTime(secondsOf([&] { store.saveAndWait(loaded); }));
        loaded = PersistedState();
        plain += secondsOf([&] { written = plainWrite(reference, bytes) && written; });
        qt += secondsOf([&] {
            const QByteArray bytes = QJsonDocument(state.toJson(JsonDates::iso8601())).toJson();
            written = plainWrite(reference, bytes) && written;
        });
    }
    st.counters["qt_save_s"] = perIteration(qt);
    st.counters["plain_write_s"] = perIteration(plain);
    if (readAll(store->currentFilePath()) != bytes)
        st.SkipWithError("the first save changed the file");
    if (store.failed() || !written)
        st.SkipWithError("a save failed");
}

// Reading the file and decoding it strictly into records, beside reading it
// and parsing it with QJsonDocument::fromJson (which builds JSON values only);
// and, as a start does it, from the index beside it: the records, then the
// articles (and finished jobs' log lines) on the store's thread.
void load(benchmark::State &st, int jobs)
{
    const PersistedState &state = history(jobs);
    ScratchStore store;
    store.saveAndWait(state);
    const QString path = store->currentFilePath();
    const QString index = store->indexFilePath();
    double qt = 0;
    double fromIndex = 0;
    double articles = 0;
    bool first = true;
    for (auto _ : st) {
        store.restart();
        QFile::remove(index); // the whole file, strictly
        PersistedState loaded;
        st.SetIterationTime(secondsOf([&] { loaded = store->loadStateNow(); }));
        if (first && loaded != state) {
            st.SkipWithError("the loaded state differs from the saved one");
            break;
        }
        first = false;
        store.saveAndWait(loaded); // the file and its index, as a save leaves them
        loaded = PersistedState();
        store.restart();
        fromIndex += secondsOf([&] { loaded = store->loadStateNow(); });
        articles += secondsOf([&] { store->waitForPendingSaves(); });
        if (!store->loadedFromIndex() || loaded.jobs.size() != state.jobs.size()) {
            st.SkipWithError("the index was not used");
            break;
        }
        loaded = PersistedState();
        QJsonDocument document;
        qt += secondsOf([&] { document = QJsonDocument::fromJson(readAll(path)); });
        if (!document.isObject()) {
            st.SkipWithError("QJsonDocument could not read the file");
            break;
        }
    }
    st.counters["qt_load_s"] = perIteration(qt);
    st.counters["index_load_s"] = perIteration(fromIndex);
    st.counters["articles_s"] = perIteration(articles);
}

// Counts the times the state file was replaced, from the folder's events.
class ReplacementCounter {
public:
    explicit ReplacementCounter(const QString &file) : name_(QFileInfo(file).fileName().toUtf8())
    {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0)
            inotify_add_watch(fd_, QFile::encodeName(QFileInfo(file).absolutePath()).constData(),
                              IN_MOVED_TO | IN_CREATE);
    }
    ~ReplacementCounter()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    ReplacementCounter(const ReplacementCounter &) = delete;
    ReplacementCounter &operator=(const ReplacementCounter &) = delete;

    [[nodiscard]] bool valid() const { return fd_ >= 0; }

    // Replacements since the last call.
    int take()
    {
        int count = 0;
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len > 0 && name_ == event->name)
                    ++count;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return count;
    }

private:
    QByteArray name_;
    int fd_ = -1;
};

// 500 updates in quick succession (a queue running through short stages):
// how many times the file is written, and how long until it holds the last.
void burst(benchmark::State &st, int jobs)
{
    constexpr int kUpdates = 500;
    PersistedState state = history(jobs);
    ScratchStore store;
    store.saveAndWait(state);
    store.takeFrom(state);
    ReplacementCounter replacements(store->currentFilePath());
    if (!replacements.valid()) {
        st.SkipWithError("inotify is not available");
        return;
    }
    int writes = 0;
    int tick = 0;
    for (auto _ : st) {
        replacements.take();
        st.SetIterationTime(secondsOf([&] {
            for (int i = 0; i < kUpdates; ++i, ++tick) {
                advanceStage(jobOfUpdate(state, tick), tick);
                store->requestSave();
                QCoreApplication::processEvents(); // the application's event loop between updates
            }
            store->waitForPendingSaves();
        }));
        writes += replacements.take();
        // The last update's log line is unique to it.
        const QByteArray last = QStringLiteral("(%1)").arg(tick - 1).toUtf8();
        if (!readAll(store->currentFilePath()).contains(last)) {
            st.SkipWithError("the file does not hold the last update");
            break;
        }
    }
    st.counters["file_writes"] = benchmark::Counter(writes, benchmark::Counter::kAvgIterations);
    if (store.failed())
        st.SkipWithError("a save failed");
}

// Enough rounds for a steady figure, few enough for a run of minutes.
int rounds(int jobs, int small, int medium, int large)
{
    return jobs <= 100 ? small : jobs <= 1000 ? medium : large;
}

} // namespace

void registerStateFileCases(int jobs)
{
    const auto add = [jobs](const char *name, void (*run)(benchmark::State &, int), int iterations) {
        benchmark::RegisterBenchmark((std::string(name) + '/' + std::to_string(jobs)).c_str(),
                                     [run, jobs](benchmark::State &st) { run(st, jobs); })
            ->UseManualTime()
            ->Iterations(iterations)
            ->Unit(benchmark::kMillisecond);
    };
    add("persist", persistCallerShare, 200);
    add("save", saveAfterOneChange, rounds(jobs, 20, 6, 4));
    add("first-save", firstSave, rounds(jobs, 5, 2, 1));
    add("load", load, rounds(jobs, 5, 2, 1));
    add("burst", burst, 1);
}

} // namespace pendrel::bench
