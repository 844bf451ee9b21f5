// Capturing the clipboard with the real program running on a virtual X
// display (Xvfb, the clipboard held by xclip) and on headless sway (the
// clipboard held by wl-copy): through `--capture`, as a desktop's own
// shortcut runs it (from starting the command until the running copy has
// made the job), and inside the program (from the handler of its own
// Super+Shift+S on X11, of the D-Bus request on sway, until the job is
// made), with an empty history and with a long one. The program says when
// each happens (PENDREL_DEBUG_REPORT_STARTUP=1: `pendrel-capture:
// requested|job-created`).

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
#include <vector>

namespace pendrel::bench {

namespace {

enum class Trigger {
    commandLine,    // start of `--capture` to the job made
    x11Shortcut,    // the program's handler of Super+Shift+S (pressed through xdotool) to the job made
    commandHandled, // the program's handler of `--capture`'s request to the job made
};
enum class Desktop { x11, sway };

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
    RunningCopy(const QString &publisher, const QString &stateFile, Desktop desktop) : publisher_(publisher)
    {
        env_ = QProcessEnvironment::systemEnvironment();
        const QString data = home_.filePath(QStringLiteral("share"));
        env_.insert(QStringLiteral("HOME"), home_.path());
        env_.insert(QStringLiteral("XDG_DATA_HOME"), data);
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral("config")));
        env_.insert(QStringLiteral("XDG_CACHE_HOME"), home_.filePath(QStringLiteral("cache")));
        env_.insert(QStringLiteral("PENDREL_API_BASE_URL"), QStringLiteral("http://127.0.0.1:1"));
        env_.insert(QStringLiteral("PENDREL_DEBUG_REPORT_STARTUP"), QStringLiteral("1"));
        if (desktop == Desktop::x11 ? !startX11() : !startSway())
            return;
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
        stop(display_);
    }
    RunningCopy(const RunningCopy &) = delete;
    RunningCopy &operator=(const RunningCopy &) = delete;

    [[nodiscard]] const QString &failure() const { return failure_; }
    // The clipboard's text made it into a job.
    [[nodiscard]] bool captured() const
    {
        QFile file(stateFile_);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains(kText);
    }

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
        if (trigger != Trigger::x11Shortcut)
            other.start(publisher_, {QStringLiteral("--capture")});
        else
            other.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("super+shift+s")});
        const bool made = readUntil([this] { return created_ != 0; }, 30000);
        other.waitForFinished(10000);
        if (!made || other.exitCode() != 0)
            return -1;
        if (trigger != Trigger::commandLine)
            started = requested_;
        const qint64 took = created_ - started;
        settle();
        return took;
    }

private:
    bool startX11()
    {
        QString display;
        for (int n = 90 + int(::getpid() % 100); n < 400; ++n) {
            if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) {
                display = QStringLiteral(":%1").arg(n);
                break;
            }
        }
        display_.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                                QStringLiteral("-noreset"), QStringLiteral("-screen"),
                                                QStringLiteral("0"), QStringLiteral("1280x800x24")});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X") + display.mid(1);
        if (!display_.waitForStarted(5000) || !waitFor([&] { return QFileInfo::exists(socket); }, 10000)) {
            failure_ = QStringLiteral("Xvfb did not start");
            return false;
        }
        env_.insert(QStringLiteral("DISPLAY"), display);
        env_.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env_.remove(QStringLiteral("WAYLAND_DISPLAY"));
        clipboard_.setProcessEnvironment(env_);
        clipboard_.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-loops"), QStringLiteral("0"),
                                                   QStringLiteral("-selection"), QStringLiteral("clipboard")});
        if (!clipboard_.waitForStarted(5000)) {
            failure_ = QStringLiteral("xclip did not start");
            return false;
        }
        clipboard_.write(kText);
        clipboard_.closeWriteChannel();
        clipboard_.waitForBytesWritten(5000); // no event loop here to hand it over
        return true;
    }

    // sway refuses to run as root: it runs as nobody, in a runtime folder
    // of its own that the program (root) can reach.
    bool startSway()
    {
        const QString runtime = runtime_.path();
        const bool root = ::getuid() == 0;
        if (root
            && (::chmod(QFile::encodeName(runtime).constData(), 0700) != 0
                || ::chown(QFile::encodeName(runtime).constData(), 65534, 65534) != 0)) {
            failure_ = QStringLiteral("could not hand the runtime folder to nobody");
            return false;
        }
        QFile config(home_.filePath(QStringLiteral("sway.cfg")));
        if (!config.open(QIODevice::WriteOnly) || config.write("output HEADLESS-1 mode 1280x800\n") < 0) {
            failure_ = QStringLiteral("could not write sway's configuration");
            return false;
        }
        config.close();
        QFile::setPermissions(config.fileName(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther
                                                     | QFile::WriteOwner);
        QFile::setPermissions(home_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup
                                                | QFile::ExeOther);
        QProcessEnvironment sway = QProcessEnvironment::systemEnvironment();
        sway.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
        sway.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
        sway.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
        sway.insert(QStringLiteral("HOME"), runtime);
        sway.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        sway.remove(QStringLiteral("DISPLAY"));
        sway.remove(QStringLiteral("WAYLAND_DISPLAY"));
        display_.setProcessEnvironment(sway);
        QStringList command{QStringLiteral("sway"), QStringLiteral("-c"), config.fileName()};
        if (root)
            command = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups")}
                      + command;
        display_.start(root ? QStringLiteral("setpriv") : command.takeFirst(), command);
        QString socket;
        const bool up = display_.waitForStarted(5000) && waitFor([&] {
            for (const QString &name : QDir(runtime).entryList({QStringLiteral("wayland-*")}, QDir::System)) {
                if (!name.endsWith(QLatin1String(".lock")))
                    socket = name;
            }
            return !socket.isEmpty();
        }, 20000);
        if (!up) {
            failure_ = QStringLiteral("sway did not start");
            return false;
        }
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env_.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
        env_.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env_.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("sway"));
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        env_.remove(QStringLiteral("DISPLAY"));
        clipboard_.setProcessEnvironment(env_);
        clipboard_.start(QStringLiteral("wl-copy"), {QStringLiteral("--foreground"), QString::fromUtf8(kText)});
        if (!clipboard_.waitForStarted(5000)) {
            failure_ = QStringLiteral("wl-copy did not start");
            return false;
        }
        QThread::msleep(300); // until it owns the selection
        return true;
    }

    static constexpr const char *kText = "A paragraph to capture, copied from somewhere else.";

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
    QTemporaryDir runtime_;
    QString stateFile_;
    QProcessEnvironment env_;
    QProcess display_;
    QProcess clipboard_;
    QProcess app_;
    QString failure_;
    bool loaded_ = false;
    qint64 requested_ = 0;
    qint64 created_ = 0;
};

void capture(benchmark::State &st, const QString &publisher, int jobs, Desktop desktop, Trigger trigger)
{
    const auto tools = desktop == Desktop::x11 ? std::vector<const char *>{"Xvfb", "xclip", "xdotool"}
                                                : std::vector<const char *>{"sway", "setpriv", "wl-copy", "wl-paste"};
    for (const char *tool : tools) {
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
    RunningCopy copy(publisher, source ? source->currentFilePath() : QString(), desktop);
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
    if (!copy.captured())
        st.SkipWithError("the jobs do not hold the clipboard's text");
    st.counters["longest_s"] = longest;
}

} // namespace

void registerCaptureCases(const QString &publisher, int jobs)
{
    const auto add = [&](const char *name, Desktop desktop, Trigger trigger) {
        benchmark::RegisterBenchmark((std::string(name) + '/' + std::to_string(jobs)).c_str(),
                                     [publisher, jobs, desktop, trigger](benchmark::State &st) {
                                         capture(st, publisher, jobs, desktop, trigger);
                                     })
            ->UseManualTime()
            ->Iterations(5)
            ->Unit(benchmark::kMillisecond);
    };
    add("capture-command", Desktop::x11, Trigger::commandLine);
    add("capture-shortcut-x11", Desktop::x11, Trigger::x11Shortcut);
    add("capture-command-sway", Desktop::sway, Trigger::commandLine);
    add("capture-handled-sway", Desktop::sway, Trigger::commandHandled);
}

} // namespace pendrel::bench
