// Start-up of the real program with a long history: the time until the
// stored state is in, until the panel is first drawn and until it is drawn
// with the stored state, the longest the main thread stood still until the
// save at the end of start-up was written, and the memory it keeps once
// idle. The program reports all but the memory itself
// (PENDREL_DEBUG_REPORT_STARTUP=1).

#include "Measure.h"

#include "state/AppConfiguration.h"
#include "state/PersistenceStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace pendrel::bench {

namespace {

std::optional<ino_t> inode(const QString &path)
{
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return info.st_ino;
}

qint64 residentBytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// The file's pages out of the page cache, as after logging in: written
// back first (dirty pages stay), then dropped.
bool dropFromCache(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool dropped = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return dropped;
}

// A cold sequential read of the whole file in 1 MiB pieces: what reading
// it from the disk costs at the least.
double coldRead(const QString &path)
{
    if (!dropFromCache(path))
        return -1;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    const double seconds = secondsOf([&] {
        while (::read(fd, buffer.data(), size_t(buffer.size())) > 0) {
        }
    });
    ::close(fd);
    return seconds;
}

struct Launch {
    double stateLoaded = 0;    // seconds from launch
    double firstDrawn = 0;     // seconds from launch
    double drawnWithState = 0; // seconds from launch
    double longestStall = 0;   // seconds
    qint64 idleResident = 0;   // bytes
    QString failure;
};

// One run in a throwaway home holding `state`, saved there as the program
// leaves it (the state file and its index); `cold`: not in the page cache.
Launch launchOnce(const QString &publisher, const PersistedState &state, bool cold = false)
{
    Launch result;
    QTemporaryDir home;
    const QString dataHome = home.filePath(QStringLiteral("share"));
    QString target;
    QString index;
    {
        PersistenceStore store(dataHome + QStringLiteral("/PendrelPublisher"), AppConfiguration::bundleIdentifier());
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        target = store.currentFilePath();
        index = store.indexFilePath();
    }
    if (!QFileInfo::exists(target) || !QFileInfo::exists(index)) {
        result.failure = QStringLiteral("could not prepare the state file and its index");
        return result;
    }
    const std::optional<ino_t> copied = inode(target);
    if (cold && (!dropFromCache(target) || !dropFromCache(index))) {
        result.failure = QStringLiteral("could not drop the state file from the page cache");
        return result;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("PENDREL_API_BASE_URL"), QStringLiteral("http://127.0.0.1:1"));
    env.insert(QStringLiteral("PENDREL_DEBUG_SHOW_PANEL_ON_LAUNCH"), QStringLiteral("1"));
    env.insert(QStringLiteral("PENDREL_DEBUG_REPORT_STARTUP"), QStringLiteral("1"));

    QProcess app;
    app.setProcessEnvironment(env);
    app.setReadChannel(QProcess::StandardError);
    const qint64 launched = QDateTime::currentMSecsSinceEpoch();
    app.start(publisher, {});
    if (!app.waitForStarted(10000)) {
        result.failure = QStringLiteral("could not start %1").arg(publisher);
        return result;
    }

    const auto stop = [&app] {
        app.terminate();
        if (!app.waitForFinished(10000)) {
            app.kill();
            app.waitForFinished(5000);
        }
    };

    qint64 loaded = 0;
    qint64 drawn = 0;
    qint64 withState = 0;
    qint64 stall = 0; // ms
    const auto read = [&](int waitMs) {
        app.waitForReadyRead(waitMs);
        while (app.canReadLine()) {
            const QList<QByteArray> words = app.readLine().trimmed().split(' ');
            if (words.size() != 3)
                continue;
            if (words[0] == "pendrel-stall:") {
                stall = std::max(stall, words[1].toLongLong());
                continue;
            }
            if (words[0] != "pendrel-startup:")
                continue;
            if (words[1] == "state-loaded")
                loaded = words[2].toLongLong();
            else if (words[1] == "panel-drawn")
                drawn = words[2].toLongLong();
            else if (words[1] == "panel-drawn-with-state")
                withState = words[2].toLongLong();
        }
    };
    const qint64 deadline = launched + 120000;
    while ((withState == 0 || loaded == 0) && QDateTime::currentMSecsSinceEpoch() < deadline
           && app.state() == QProcess::Running)
        read(100);
    if (withState == 0 || loaded == 0) {
        result.failure = QStringLiteral("the panel was not drawn with the stored state within two minutes");
        stop();
        return result;
    }

    // Idle: the save at the end of start-up has replaced the file, and a
    // moment has passed. The stalls count until then.
    const qint64 saveDeadline = QDateTime::currentMSecsSinceEpoch() + 180000;
    while (inode(target) == copied && QDateTime::currentMSecsSinceEpoch() < saveDeadline)
        read(50);
    const qint64 settled = QDateTime::currentMSecsSinceEpoch() + 2000;
    while (QDateTime::currentMSecsSinceEpoch() < settled)
        read(100);
    result.idleResident = residentBytes(app.processId());
    stop();

    result.stateLoaded = double(loaded - launched) / 1000.0;
    result.firstDrawn = double(drawn - launched) / 1000.0;
    result.drawnWithState = double(withState - launched) / 1000.0;
    result.longestStall = double(stall) / 1000.0;
    return result;
}

void startup(benchmark::State &st, const QString &publisher, int jobs)
{
    if (!QFileInfo(publisher).isExecutable()) {
        st.SkipWithError(qPrintable(QStringLiteral("no program at %1").arg(publisher)));
        return;
    }
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        st.SkipWithError("needs a D-Bus session; scripts/bench provides one");
        return;
    }
    // Written once through the store, as the program itself writes it.
    QTemporaryDir scratch;
    PersistenceStore source(scratch.path(), AppConfiguration::bundleIdentifier());
    const PersistedState &state = history(jobs);
    source.saveState(state.settings, state.pendingClip, state.jobs);
    source.waitForPendingSaves();

    double stateLoaded = 0;
    double firstDrawn = 0;
    double delay = 0;
    double longestStall = 0;
    double resident = 0;
    for (auto _ : st) {
        const Launch run = launchOnce(publisher, state);
        if (!run.failure.isEmpty()) {
            st.SkipWithError(qPrintable(run.failure));
            break;
        }
        st.SetIterationTime(run.drawnWithState);
        stateLoaded += run.stateLoaded;
        firstDrawn += run.firstDrawn;
        delay += run.drawnWithState - run.firstDrawn;
        longestStall = std::max(longestStall, run.longestStall); // of every run, not their mean
        resident += double(run.idleResident);
    }
    st.counters["state_loaded_s"] = perIteration(stateLoaded);
    st.counters["first_drawn_s"] = perIteration(firstDrawn);
    st.counters["state_delay_s"] = perIteration(delay);
    st.counters["longest_stall_s"] = longestStall;
    st.counters["idle_rss_bytes"] = perIteration(resident);
    st.counters["file_bytes"] = double(QFileInfo(source.currentFilePath()).size());
}

// Start to `state-loaded` with the state file not in the page cache, as at
// the first launch after logging in, beside a cold sequential read of the
// same file.
void coldStartup(benchmark::State &st, const QString &publisher, int jobs)
{
    if (!QFileInfo(publisher).isExecutable() || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        st.SkipWithError("needs the program and a D-Bus session; scripts/bench provides them");
        return;
    }
    QTemporaryDir scratch;
    PersistenceStore source(scratch.path(), AppConfiguration::bundleIdentifier());
    const PersistedState &state = history(jobs);
    source.saveState(state.settings, state.pendingClip, state.jobs);
    source.waitForPendingSaves();
    double read = 0;
    for (auto _ : st) {
        const double reading = coldRead(source.currentFilePath());
        const Launch run = launchOnce(publisher, state, true);
        if (!run.failure.isEmpty() || reading < 0) {
            st.SkipWithError(qPrintable(run.failure.isEmpty() ? QStringLiteral("the cold read failed") : run.failure));
            break;
        }
        st.SetIterationTime(run.stateLoaded);
        read += reading;
    }
    st.counters["cold_read_s"] = perIteration(read);
}

} // namespace

void registerColdStartupCase(const QString &publisher, int jobs)
{
    benchmark::RegisterBenchmark(("cold-startup/" + std::to_string(jobs)).c_str(),
                                 [publisher, jobs](benchmark::State &st) { coldStartup(st, publisher, jobs); })
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
}

void registerStartupCase(const QString &publisher, int jobs)
{
    benchmark::RegisterBenchmark(("startup/" + std::to_string(jobs)).c_str(),
                                 [publisher, jobs](benchmark::State &st) { startup(st, publisher, jobs); })
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
}

} // namespace pendrel::bench
