// Capturing the clipboard with the real program running on a virtual X
// display (Xvfb, the clipboard held by xclip): through `--capture`, as a
// desktop's own shortcut runs it (from starting the command until the
// running copy has made the job), and through the program's own
// Super+Shift+S (from its handler until the job is made), with an empty
// history and with a long one. The program says when each happens
// (PENDREL_DEBUG_REPORT_STARTUP=1: `pendrel-capture: requested|job-created`).

#include "Measure.h"

#include "state/AppConfiguration.h"
#include "state/PersistenceStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>

namespace pendrel::bench {

namespace {

enum class Trigger { commandLine, x11Shortcut };

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

std::optional<ino_t> inodeOf(const QString &path)
{
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return info.st_ino;
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Xvfb on a display of its own, a clipboard owner on it, and the program
// in a throwaway home, started and settled.
class RunningCopy {
public:
    RunningCopy(const QString &publisher, const QString &stateFile) : publisher_(publisher)
    {
        for (int display = 90 + int(::getpid() % 100); display < 400 && failure_.isEmpty(); ++display) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)))
                continue;
            display_ = QStringLiteral(":%1").arg(display);
            break;
        }
        xvfb_.start(QStringLiteral("Xvfb"), {display_, QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                             QStringLiteral("-noreset"), QStringLiteral("-screen"), QStringLiteral("0"),
                                             QStringLiteral("1280x800x24")});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X") + display_.mid(1);
        if (!xvfb_.waitForStarted(5000) || !waitFor([&] { return QFileInfo::exists(socket); }, 10000)) {
            failure_ = QStringLiteral("Xvfb did not start");
            return;
        }
        env_ = QProcessEnvironment::systemEnvironment();
        const QString data = home_.filePath(QStringLiteral("share"));
        env_.insert(QStringLiteral("HOME"), home_.path());
        env_.insert(QStringLiteral("XDG_DATA_HOME"), data);
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral("config")));
        env_.insert(QStringLiteral("XDG_CACHE_HOME"), home_.filePath(QStringLiteral("cache")));
        env_.insert(QStringLiteral("DISPLAY"), display_);
        env_.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env_.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env_.insert(QStringLiteral("PENDREL_API_BASE_URL"), QStringLiteral("http://127.0.0.1:1"));
        env_.insert(QStringLiteral("PENDREL_DEBUG_REPORT_STARTUP"), QStringLiteral("1"));

        clipboard_.setProcessEnvironment(env_);
        clipboard_.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-loops"), QStringLiteral("0"),
                                                   QStringLiteral("-selection"), QStringLiteral("clipboard")});
        if (!clipboard_.waitForStarted(5000)) {
            failure_ = QStringLiteral("xclip did not start");
            return;
        }
        clipboard_.write("A paragraph to capture, copied from somewhere else.");
        clipboard_.closeWriteChannel();
        clipboard_.waitForBytesWritten(5000); // no event loop here to hand it over

        const PersistenceStore paths(data + QStringLiteral("/PendrelPublisher"), AppConfiguration::bundleIdentifier());
        stateFile_ = paths.currentFilePath();
        if (!stateFile.isEmpty()
            && (!QDir().mkpath(QFileInfo(stateFile_).absolutePath()) || !QFile::copy(stateFile, stateFile_))) {
            failure_ = QStringLiteral("could not prepare the state file");
            return;
        }
        const std::optional<ino_t> copied = inodeOf(stateFile_);
        app_.setProcessEnvironment(env_);
        app_.setReadChannel(QProcess::StandardError);
        app_.start(publisher_, {});
        if (!app_.waitForStarted(10000) || !readUntil([this] { return loaded_; }, 120000)) {
            failure_ = QStringLiteral("the program did not load its state");
            return;
        }
        // The save that ends start-up (a long history's) is written before
        // the first capture.
        if (copied)
            readUntil([&] { return inodeOf(stateFile_) != copied; }, 120000);
        settle();
    }

    ~RunningCopy()
    {
        stop(app_);
        stop(clipboard_);
        stop(xvfb_);
    }
    RunningCopy(const RunningCopy &) = delete;
    RunningCopy &operator=(const RunningCopy &) = delete;

    [[nodiscard]] const QString &failure() const { return failure_; }

    // One capture: the milliseconds from the trigger (the command's start,
    // or the program's handler of the shortcut) until the job was made;
    // negative when none was.
    qint64 capture(Trigger trigger)
    {
        requested_ = 0;
        created_ = 0;
        qint64 started = now();
        QProcess other;
        other.setProcessEnvironment(env_);
        if (trigger == Trigger::commandLine)
            other.start(publisher_, {QStringLiteral("--capture")});
        else
            other.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("super+shift+s")});
        const bool made = readUntil([this] { return created_ != 0; }, 30000);
        other.waitForFinished(10000);
        if (!made || other.exitCode() != 0)
            return -1;
        if (trigger == Trigger::x11Shortcut)
            started = requested_;
        const qint64 took = created_ - started;
        settle();
        return took;
    }

private:
    template <class F>
    static bool waitFor(F &&done, int ms)
    {
        const qint64 deadline = now() + ms;
        while (!done()) {
            if (now() > deadline)
                return false;
            QThread::msleep(20);
        }
        return true;
    }

    template <class F>
    bool readUntil(F &&done, int ms)
    {
        const qint64 deadline = now() + ms;
        while (!done() && now() < deadline && app_.state() == QProcess::Running) {
            app_.waitForReadyRead(50);
            while (app_.canReadLine()) {
                const QByteArray line = app_.readLine();
                if (qEnvironmentVariableIsSet("PENDREL_BENCH_DEBUG"))
                    std::fprintf(stderr, "program: %s", line.constData());
                const QList<QByteArray> words = line.trimmed().split(' ');
                if (words.size() != 3)
                    continue;
                if (words[0] == "pendrel-startup:" && words[1] == "state-loaded")
                    loaded_ = true;
                else if (words[0] == "pendrel-capture:" && words[1] == "requested")
                    requested_ = words[2].toLongLong();
                else if (words[0] == "pendrel-capture:" && words[1] == "job-created")
                    created_ = words[2].toLongLong();
            }
        }
        return done();
    }

    // Quiet again: the job has failed (nothing answers at the service's
    // address) and the state file has not been replaced for a second.
    void settle()
    {
        std::optional<ino_t> last = inodeOf(stateFile_);
        qint64 quietSince = now();
        const qint64 deadline = now() + 60000;
        while (now() - quietSince < 1000 && now() < deadline) {
            readUntil([] { return false; }, 100);
            const std::optional<ino_t> current = inodeOf(stateFile_);
            if (current != last) {
                last = current;
                quietSince = now();
            }
        }
    }

    QString publisher_;
    QTemporaryDir home_;
    QString display_;
    QString stateFile_;
    QProcessEnvironment env_;
    QProcess xvfb_;
    QProcess clipboard_;
    QProcess app_;
    QString failure_;
    bool loaded_ = false;
    qint64 requested_ = 0;
    qint64 created_ = 0;
};

void capture(benchmark::State &st, const QString &publisher, int jobs, Trigger trigger)
{
    for (const char *tool : {"Xvfb", "xclip", "xdotool"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            st.SkipWithError((std::string(tool) + " is not installed").c_str());
            return;
        }
    }
    if (!QFileInfo(publisher).isExecutable() || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        st.SkipWithError("needs the program and a D-Bus session; scripts/bench provides them");
        return;
    }
    QTemporaryDir scratch;
    std::unique_ptr<PersistenceStore> source;
    if (jobs > 0) {
        source = std::make_unique<PersistenceStore>(scratch.path(), AppConfiguration::bundleIdentifier());
        const PersistedState &state = history(jobs);
        source->saveState(state.settings, state.pendingClip, state.jobs);
        source->waitForPendingSaves();
    }
    RunningCopy copy(publisher, source ? source->currentFilePath() : QString());
    if (!copy.failure().isEmpty()) {
        st.SkipWithError(qPrintable(copy.failure()));
        return;
    }
    double longest = 0;
    for (auto _ : st) {
        const qint64 ms = copy.capture(trigger);
        if (ms < 0) {
            st.SkipWithError("no job was made");
            break;
        }
        st.SetIterationTime(double(ms) / 1000.0);
        longest = std::max(longest, double(ms) / 1000.0);
    }
    st.counters["longest_s"] = longest;
}

} // namespace

void registerCaptureCases(const QString &publisher, int jobs)
{
    const auto add = [&](const char *name, Trigger trigger) {
        benchmark::RegisterBenchmark((std::string(name) + '/' + std::to_string(jobs)).c_str(),
                                     [publisher, jobs, trigger](benchmark::State &st) {
                                         capture(st, publisher, jobs, trigger);
                                     })
            ->UseManualTime()
            ->Iterations(5)
            ->Unit(benchmark::kMillisecond);
    };
    add("capture-command", Trigger::commandLine);
    add("capture-shortcut-x11", Trigger::x11Shortcut);
}

} // namespace pendrel::bench
