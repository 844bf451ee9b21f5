// A randomized fault simulation: the real application state, queue and
// store, driven by a seeded schedule of faults (network refused, silent or
// answering errors, sessions running out or refused, the state folder
// unwritable, quit and restart) and user actions (captures, Cancel now or a
// moment later, Retry, sign-in), against the fake content service over
// HTTP. After every step the invariants below are checked; the first broken
// one ends the run and prints its seed and schedule.
//
//   PENDREL_FAULTSIM_SEED=1234     replays one seed alone
//   PENDREL_FAULTSIM_RUNS=N        how many seeds from the first (default 1500; ./test runs 1 to 1200 in three parts)
//   PENDREL_FAULTSIM_FIRST=S       the first seed (default 1)
//   PENDREL_FAULTSIM_SECONDS=T     runs seeds until T seconds have passed (long runs)
//   PENDREL_FAULTSIM_ALL=1         goes on after a failure, printing each failing seed whole
//   PENDREL_FAULTSIM_TRACE=1       prints every run's schedule, failing or not
//   PENDREL_FAULTSIM_VERBOSE=1     lets the program's own log lines through
//
// The schedule is fixed by the seed; the program's timing is not, so a
// seed whose failure hangs on a race may need a few replays.

#include "AppStateHarness.h"
#include "TcpRelay.h"
#include "TestFiles.h"

#include "auth/KeychainStore.h"
#include "support/EnumStrings.h"
#include "support/Uuid.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace pendrel;
using namespace pendrel::test;

namespace {

// Time scaled down so that one run takes tens of milliseconds: a request
// without an answer gives up after transferMs, the service is asked again
// after a pause doubling from reconnectMs, a failed save is tried again
// every saveRetryMs. Once the faults clear, everything must have settled
// within settleMs, which leaves room for all of them on a busy machine.
constexpr int transferMs = 80;
constexpr int reconnectMs = 20;
constexpr int longestReconnectMs = 160;
constexpr int saveRetryMs = 25;
constexpr int settleMs = 5000;

const QRegularExpression kMarker(QStringLiteral("clip-\\d+"));

// The calls the service charges credits for, by path; each names the
// checkpoint that shows its answer reached the job. The save is not among
// them: sent again under the same article id it stays one article.
const QString kSavePath = QStringLiteral("/api/blog/save");
const QHash<QString, QString> kPaidStages{
    {QStringLiteral("/api/documents/extract-text"), QStringLiteral("extract")},
    {QStringLiteral("/api/blog/admin/transform"), QStringLiteral("transform")},
    {QStringLiteral("/api/blog/illustrations/generate"), QStringLiteral("illustrations")},
    {QStringLiteral("/api/blog/humanize"), QStringLiteral("humanize")},
    {QStringLiteral("/api/blog/voice-over/generate"), QStringLiteral("voiceover")},
};

QSet<QString> arrivedStages(const JobRecord &j)
{
    QSet<QString> s;
    if (j.sourceText)
        s << QStringLiteral("extract");
    if (j.transformResult)
        s << QStringLiteral("transform");
    if (j.contentAfterIllustrations)
        s << QStringLiteral("illustrations");
    if (j.contentAfterHumanize)
        s << QStringLiteral("humanize");
    if (j.voiceoverQueued) // a failed voice-over may never have had an answer
        s << QStringLiteral("voiceover");
    return s;
}

bool isTerminal(JobStatus s)
{
    return s == JobStatus::success || s == JobStatus::error || s == JobStatus::aborted;
}

QString marker(const QString &text)
{
    return kMarker.match(text).captured();
}

QByteArray jsonBytes(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// The state folder made unwritable the way an immutable attribute (or a
// read-only remount) does: even root cannot create, rename or replace
// files in it. Folder permissions would not stop root.
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

enum class Net { up, refused, silent, failing, slow };
const char *netName(Net n)
{
    switch (n) {
    case Net::up: return "up";
    case Net::refused: return "refused (connections refused)";
    case Net::silent: return "silent (no answer until the time-out)";
    case Net::failing: return "failing (5xx answers)";
    case Net::slow: return "slow (answers late, within the time-out)";
    }
    return "";
}

class Simulation {
public:
    explicit Simulation(quint32 seed) : seed_(seed), rng_(seed), answers_(~seed)
    {
        qputenv("XDG_CACHE_HOME", h_.dir.filePath(QStringLiteral("cache")).toUtf8());
        qputenv("PENDREL_API_BASE_URL", relay_.origin().toUtf8());
        h_.service.onRequest = [this](const RecordedRequest &r) { serve(r); };
        h_.create(); // again, now with this run's cache folder
        stateFile_ = h_.state->persistenceStore().currentFilePath();
    }
    ~Simulation()
    {
        setDisk(true);
        if (h_.state)
            h_.state->persistenceStore().setLogSink([](const QString &) {});
    }

    // The schedule; an empty result when every invariant held.
    QString run()
    {
        clock_.start();
        ClipperSettings settings;
        settings.enableImages = rng_.bounded(2);
        settings.enableHumanize = rng_.bounded(2);
        settings.enableAudio = rng_.bounded(2);
        h_.writeStateFile(PersistedState{settings, std::nullopt, {}});
        QString session = QStringLiteral("signed out");
        if (rng_.bounded(4) != 0)
            session = QStringLiteral("signed in, ") + storeSession(rng_.bounded(2) == 0);
        note(QStringLiteral("start (images %1, humanize %2, voice-over %3, %4)")
                 .arg(settings.enableImages)
                 .arg(settings.enableHumanize)
                 .arg(settings.enableAudio)
                 .arg(session));
        start();
        if (rng_.bounded(2)) { // else the schedule begins while it starts up
            note(QStringLiteral("wait until started"));
            (void)QTest::qWaitFor([this] { return !h_.state->isBootstrapping(); }, settleMs);
        }
        const int steps = 6 + int(rng_.bounded(10));
        for (int i = 0; i < steps && failure_.isEmpty(); ++i) {
            step();
            if (failure_.isEmpty())
                QTest::qWait(int(rng_.bounded(3)));
            check();
        }
        if (failure_.isEmpty())
            settle();
        note(QStringLiteral("end"));
        if (qEnvironmentVariableIsSet("PENDREL_FAULTSIM_TRACE"))
            fprintf(stdout, "%s\n", qPrintable(trace_.join(u'\n')));
        if (failure_.isEmpty())
            return {};
        return QStringLiteral("seed %1: %2\nschedule (ms since start):\n%3\nstate:\n%4")
            .arg(seed_)
            .arg(failure_, trace_.join(u'\n'), describeState());
    }

private:
    // --- The world the program lives in

    // A stored session, as the last run left it; says how long it lasts.
    QString storeSession(bool shortLived)
    {
        const QString token = QStringLiteral("tok-%1").arg(++tokens_);
        validTokens_ << token;
        const double ends = expiry(shortLived);
        const UserSession session{token, QStringLiteral("refresh"), ends, QStringLiteral("u-1"),
                                  QStringLiteral("ann@pendrel.test")};
        blockingWait(h_.state->authManager().keychainStore().save(session));
        return lasting(ends);
    }

    // Sessions are dropped 30 s before they end: a short one runs out
    // within the next second or so.
    double expiry(bool shortLived)
    {
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        return now + AuthManager::expiryMarginSeconds
               + (shortLived && !calm_ ? 0.05 + answers_.bounded(600) / 1000.0 : 3600.0);
    }

    static QString lasting(double expiresAt)
    {
        const double left = expiresAt - AuthManager::expiryMarginSeconds
                            - double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        return left > 60 ? QStringLiteral("session lasts")
                         : QStringLiteral("session runs out in %1 ms").arg(qRound(left * 1000));
    }

    void setNet(Net n)
    {
        if ((n == Net::refused) != (net_ == Net::refused)) {
            if (n == Net::refused)
                relay_.cut();
            else
                relay_.restore();
        }
        net_ = n;
    }

    void setDisk(bool writable)
    {
        const QString folder = QFileInfo(stateFile_).absolutePath();
        if (!writable)
            QDir().mkpath(folder);
        if (QFileInfo::exists(stateFile_))
            setImmutable(stateFile_, !writable);
        setImmutable(folder, !writable);
        diskWritable_ = writable;
    }

    void serve(const RecordedRequest &r)
    {
        if (const QString stage = kPaidStages.value(r.path); !stage.isEmpty() || r.path == kSavePath)
            checkPaid(r, stage);
        ScriptedAnswer a = answer(r);
        if (net_ == Net::silent) {
            a.delayMs = 60000; // the client gives up long before
        } else if (net_ == Net::failing) {
            a = ScriptedAnswer::json(500 + 2 * int(answers_.bounded(2)), R"({"error":"Service unavailable"})");
        } else if (net_ == Net::slow) {
            a.delayMs = 5 + int(answers_.bounded(25));
        }
        h_.service.answerOnce(r.method, r.path, a);
    }

    ScriptedAnswer answer(const RecordedRequest &r)
    {
        const QJsonObject in = r.json.toObject();
        const QString tag = marker(QString::fromUtf8(r.body));
        if (r.path == u"/api/auth/signin") {
            const QString token = QStringLiteral("tok-%1").arg(++tokens_);
            validTokens_ << token;
            const double ends = expiry(answers_.bounded(4) == 0);
            note(QStringLiteral("(the service signs in; %1)").arg(lasting(ends)));
            return ScriptedAnswer::json(
                200, jsonBytes({{"message", "ok"},
                                {"user", QJsonObject{{"id", "u-1"}, {"email", "ann@pendrel.test"}}},
                                {"session", QJsonObject{{"access_token", token},
                                                        {"refresh_token", "refresh"},
                                                        {"expires_at", ends}}}}));
        }
        const QString bearer = QString::fromUtf8(r.header("Authorization")).mid(7);
        if (!validTokens_.contains(bearer))
            return ScriptedAnswer::json(401, R"({"error":"Unauthorized"})");
        if (r.path == u"/api/tenants")
            return ScriptedAnswer::json(200, q("{'tenants':[{'id':'t1','name':'Acme','balance_credits':500}]}"));
        if (r.path == u"/api/domains")
            return ScriptedAnswer::json(200, q("{'status':'active','domain':'blog.acme.test'}"));
        if (r.path == u"/api/internal-links/presets")
            return ScriptedAnswer::json(200, q("{'presets':[]}"));
        if (r.path == u"/api/tenant-settings")
            return ScriptedAnswer::json(200, "{}");
        if (r.path == u"/api/ai-insights/favorites")
            return ScriptedAnswer::json(200, q("{'favorites':[]}"));
        if (r.path == u"/api/social-accounts")
            return ScriptedAnswer::json(200, q("{'accounts':[]}"));
        if (r.path == u"/api/blog/admin/analyze")
            return ScriptedAnswer::json(200, q("{'categories':['tech'],'age':['adult'],'problems':['time']}"));
        // The article carries the capture's marker through every stage, so
        // each request can be told apart.
        if (r.path == u"/api/blog/admin/transform")
            return ScriptedAnswer::json(200, jsonBytes({{"transformedContent", "# " + tag + "\n\nBody " + tag}}));
        const QString content = in.value(QStringLiteral("content")).toString();
        if (r.path == u"/api/blog/illustrations/generate")
            return ScriptedAnswer::json(
                200, jsonBytes({{"content", content + "\n\n![a](https://i.test/a)"},
                                {"assets", QJsonArray{QJsonObject{{"url", "https://i.test/a"}}}},
                                {"generationId", "g1"}}));
        if (r.path == u"/api/blog/humanize")
            return ScriptedAnswer::json(200, jsonBytes({{"success", true}, {"content", content + " (human)"}}));
        if (r.path == u"/api/blog/save")
            return ScriptedAnswer::json(200, jsonBytes({{"articleId", in.value(QStringLiteral("articleId"))},
                                                        {"url", "/blog/" + tag}}));
        if (r.path == u"/api/blog/voice-over/generate")
            return ScriptedAnswer::json(202, "");
        return ScriptedAnswer::json(404, "{}");
    }

    // The job a paid request belongs to is the one a live run holds.
    void checkPaid(const RecordedRequest &r, const QString &stage)
    {
        if (!h_.state)
            return;
        for (const JobRecord &j : h_.state->jobs()) {
            if (!h_.state->jobQueue().holdsJob(j.id) || marker(j.clip.text) != marker(QString::fromUtf8(r.body)))
                continue;
            if (!stage.isEmpty() && arrived_.value(j.id).contains(stage))
                fail(QStringLiteral("paid stage %1 sent again for job %2 (%3) although its first answer had "
                                    "arrived")
                         .arg(stage, uuidString(j.id), marker(j.clip.text)));
            if (r.path == kSavePath && r.json[QStringLiteral("articleId")].toString() != uuidString(j.id))
                fail(QStringLiteral("save of job %1 under another article id %2")
                         .arg(uuidString(j.id), r.json[QStringLiteral("articleId")].toString()));
            return;
        }
    }

    // A stage's answer reached the job when its checkpoint appears.
    void noteArrivals()
    {
        if (!h_.state)
            return;
        for (const JobRecord &j : h_.state->jobs())
            arrived_[j.id] += arrivedStages(j);
    }

    // --- The program: started, quit and started again on the same folder

    void start()
    {
        ++generation_;
        h_.state->persistenceStore().setLogSink([](const QString &) {});
        if (auto *retry = h_.state->findChild<QTimer *>(QStringLiteral("saveRetryTimer")))
            retry->setInterval(saveRetryMs);
        QObject::connect(h_.state.get(), &AppState::jobsChanged, h_.state.get(), [this] { noteArrivals(); });
        // As the shell starts it: nobody waits for it.
        startDetached(h_.state->bootstrap(), QStringLiteral("Start-up"));
    }

    void restart()
    {
        const bool wait = rng_.bounded(2);
        note(QStringLiteral("quit%1 and start again").arg(wait ? " after waiting for saves" : ""));
        // Captures still held by a start-up that never finished may be lost with it.
        if (h_.state->isBootstrapping()) {
            for (Capture &c : captures_)
                c.mayBeLost = c.mayBeLost || c.generation == generation_;
        }
        if (wait)
            h_.state->persistenceStore().waitForPendingSaves();
        noteArrivals();
        h_.create();
        start();
    }

    // --- One step of the schedule

    void step()
    {
        const quint32 roll = rng_.bounded(100);
        if (roll < 24) {
            capture();
        } else if (roll < 40) {
            const int ms = rng_.bounded(3) == 0 ? 20 + int(rng_.bounded(150)) : int(rng_.bounded(15));
            note(QStringLiteral("wait %1 ms").arg(ms));
            QTest::qWait(ms);
        } else if (roll < 58) {
            const Net n = Net(rng_.bounded(5));
            note(QStringLiteral("network %1").arg(netName(n)));
            setNet(n);
        } else if (roll < 66) {
            note(diskWritable_ ? QStringLiteral("state folder unwritable") : QStringLiteral("state folder writable"));
            setDisk(!diskWritable_);
        } else if (roll < 71) {
            note(QStringLiteral("the service refuses the current sessions (401)"));
            validTokens_.clear();
        } else if (roll < 79) {
            // Pressed now, or a moment later while whatever runs is inside an await.
            const int later = rng_.bounded(2) ? int(rng_.bounded(200)) : -1;
            if (later < 0) {
                note(QStringLiteral("Cancel"));
                h_.state->abortLatestJob();
            } else {
                note(QStringLiteral("Cancel in %1 ms").arg(later));
                QTimer::singleShot(later, h_.state.get(), [state = h_.state.get()] { state->abortLatestJob(); });
            }
        } else if (roll < 85) {
            retry();
        } else if (roll < 93) {
            restart();
        } else {
            signInIfAsked();
        }
    }

    // What the key press does: new text on the clipboard, then the capture.
    void capture()
    {
        const QString text = QStringLiteral("clip-%1 of seed %2").arg(captures_.size() + 1).arg(seed_);
        note(QStringLiteral("capture %1%2").arg(marker(text), h_.state->isBootstrapping() ? " (starting up)" : ""));
        captures_.append({text, generation_});
        h_.clipboard.text = text;
        h_.capture();
    }

    void retry()
    {
        const QList<JobRecord> &jobs = h_.state->jobs();
        if (jobs.isEmpty())
            return;
        const JobRecord picked = jobs.at(int(rng_.bounded(quint32(jobs.size()))));
        note(QStringLiteral("Retry %1 (%2)").arg(marker(picked.clip.text), enumString(picked.status)));
        const qsizetype before = jobs.size();
        h_.state->retryJob(picked.id);
        if (h_.state->jobs().size() > before)
            ++retries_[picked.clip.text];
    }

    // The user signs in when the panel shows the sign-in form.
    void signInIfAsked()
    {
        const AuthStatus status = h_.state->authState().status;
        if (h_.state->isBootstrapping() || h_.state->isSigningIn() || h_.state->isBrowserAuthInProgress()
            || status == AuthStatus::authenticated || status == AuthStatus::authenticating)
            return;
        note(QStringLiteral("sign in"));
        h_.state->setSignInEmail(QStringLiteral("ann@pendrel.test"));
        h_.state->setSignInPassword(QStringLiteral("secret"));
        h_.state->signIn();
    }

    // --- Invariants

    void check()
    {
        if (!failure_.isEmpty())
            return;
        noteArrivals();
        checkStateFile();
        if (h_.state->isBootstrapping())
            return;
        checkCaptures();
        checkStages();
    }

    // Every capture is exactly one job (and one more per Retry that made a
    // new record) holding the text the clipboard had when it was made.
    void checkCaptures()
    {
        QHash<QString, int> held;
        for (const JobRecord &j : h_.state->jobs())
            ++held[j.clip.text];
        QSet<QString> made;
        for (const Capture &c : std::as_const(captures_)) {
            made << c.text;
            const int want = 1 + retries_.value(c.text);
            const int have = held.value(c.text);
            if (have > want || (have < want && !c.mayBeLost)) {
                fail(QStringLiteral("capture %1 is held by %2 jobs, not %3").arg(marker(c.text)).arg(have).arg(want));
                return;
            }
        }
        for (auto it = held.cbegin(); it != held.cend(); ++it) {
            if (!made.contains(it.key()))
                fail(QStringLiteral("a job holds text nobody captured: %1").arg(it.key()));
        }
    }

    // A job shown as running has a run working on it.
    void checkStages()
    {
        if (h_.state->jobQueue().isProcessing())
            return;
        for (const JobRecord &j : h_.state->jobs()) {
            if (j.status == JobStatus::running && !j.aborted)
                fail(QStringLiteral("job %1 shows %2 while nothing works on it")
                         .arg(marker(j.clip.text), j.step ? enumString(*j.step) : QStringLiteral("running")));
        }
    }

    // The file is always one whole document, and keeps every job it held.
    void checkStateFile()
    {
        const QByteArray bytes = readFile(stateFile_);
        if (bytes.isEmpty())
            return;
        QSet<QUuid> ids;
        try {
            const JsonDates dates = JsonDates::iso8601();
            for (const JobRecord &j : PersistedState::fromJson(json::parseDocument(bytes), dates).jobs)
                ids << j.id;
        } catch (const std::exception &e) {
            fail(QStringLiteral("the state file is not a whole document: %1").arg(describeError(e)));
            return;
        }
        for (const QUuid &id : std::as_const(fileJobs_)) {
            if (!ids.contains(id)) {
                fail(QStringLiteral("the state file lost job %1").arg(uuidString(id)));
                return;
            }
        }
        fileJobs_ = ids;
    }

    // The faults clear. Within a bounded time, with nobody touching it, the
    // panel stops saying "Offline" and "Not saving"; then, once the user
    // has signed in wherever the panel asks for it, every job has ended.
    void settle()
    {
        note(QStringLiteral("faults clear: network up, state folder writable"));
        calm_ = true;
        setNet(Net::up);
        setDisk(true);
        if (waitFor([this] { return shownFaults(); }, false))
            waitFor([this] { return unsettled(); }, true);
    }

    bool waitFor(const std::function<QString()> &wrong, bool userSignsIn)
    {
        QElapsedTimer waited;
        waited.start();
        while (failure_.isEmpty()) {
            check();
            if (userSignsIn)
                signInIfAsked();
            const QString why = wrong();
            if (why.isEmpty())
                return true;
            if (waited.elapsed() > settleMs) {
                fail(QStringLiteral("%1 ms after the faults cleared%2: %3")
                         .arg(settleMs)
                         .arg(userSignsIn ? " and the user signed in" : "", why));
                break;
            }
            QTest::qWait(5);
        }
        return false;
    }

    QString shownFaults() const
    {
        const AppState &s = *h_.state;
        QStringList why;
        if (s.isBootstrapping())
            why << QStringLiteral("still starting up");
        if (s.serviceUnreachable())
            why << QStringLiteral("shows offline (%1) while the service answers").arg(*s.serviceUnreachable());
        if (s.stateSaveError())
            why << QStringLiteral("shows saves failing (%1) while they work").arg(*s.stateSaveError());
        return why.join(QStringLiteral("; "));
    }

    QString unsettled() const
    {
        QStringList why;
        if (const QString shown = shownFaults(); !shown.isEmpty())
            why << shown;
        const AppState &s = *h_.state;
        if (s.authState().status != AuthStatus::authenticated)
            why << QStringLiteral("not signed in (%1)").arg(enumString(s.authState().status));
        for (const JobRecord &j : s.jobs()) {
            if (!isTerminal(j.status))
                why << QStringLiteral("job %1 stays %2%3").arg(marker(j.clip.text), enumString(j.status),
                                                              j.aborted ? " (Cancel pressed)" : "");
        }
        return why.join(QStringLiteral("; "));
    }

    // --- Reporting

    void note(const QString &what) { trace_ << QStringLiteral("%1 %2").arg(clock_.elapsed(), 6).arg(what); }

    void fail(const QString &why)
    {
        if (failure_.isEmpty())
            failure_ = why;
    }

    QString describeState() const
    {
        const AppState &s = *h_.state;
        QStringList lines;
        lines << QStringLiteral("  auth %1 (%2), offline: %3, save error: %4, bootstrapping %5, queue %6")
                     .arg(enumString(s.authState().status), s.authState().errorMessage.value_or("-"),
                          s.serviceUnreachable().value_or("no"), s.stateSaveError().value_or("no"))
                     .arg(s.isBootstrapping())
                     .arg(s.jobQueue().isProcessing() ? "running" : "idle");
        for (const JobRecord &j : s.jobs()) {
            lines << QStringLiteral("  job %1 %2 step %3%4%5, last log: %6")
                         .arg(marker(j.clip.text), enumString(j.status),
                              j.step ? enumString(*j.step) : QStringLiteral("-"), j.aborted ? ", cancelled" : "",
                              j.processing ? ", processing" : "",
                              j.logs.isEmpty() ? QString() : j.logs.last().message);
        }
        return lines.join(u'\n');
    }

    struct Capture {
        QString text;
        int generation = 0;
        bool mayBeLost = false;
    };

    quint32 seed_;
    QRandomGenerator rng_;     // the schedule
    QRandomGenerator answers_; // the service's answers: how many there are depends on timing
    AppStateHarness h_;
    TcpRelay relay_{h_.service.port()};
    QString stateFile_;
    QElapsedTimer clock_;
    QStringList trace_;
    QString failure_;
    Net net_ = Net::up;
    bool diskWritable_ = true;
    bool calm_ = false; // the faults have cleared: sessions last
    QSet<QString> validTokens_;
    int tokens_ = 0;
    int generation_ = 0;
    QList<Capture> captures_;
    QHash<QString, int> retries_;
    QHash<QUuid, QSet<QString>> arrived_;
    QSet<QUuid> fileJobs_;
};

void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg || qEnvironmentVariableIsSet("PENDREL_FAULTSIM_VERBOSE"))
        fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtFatalMsg)
        abort();
}

} // namespace

class TestFaultSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The state folder in memory: every job change is a save, and
        // thousands of runs would otherwise spend their time in fsync.
        // tmpfs honours the immutable attribute as disks do.
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
            qputenv("TMPDIR", "/dev/shm");
        APIClient::setTransferTimeoutMs(transferMs);
        AppState::setReconnectDelaysMs(reconnectMs, longestReconnectMs);
    }

    void invariantsHoldUnderFaults()
    {
        const bool one = qEnvironmentVariableIsSet("PENDREL_FAULTSIM_SEED");
        const quint32 first = one ? qEnvironmentVariableIntValue("PENDREL_FAULTSIM_SEED")
                                  : quint32(qEnvironmentVariableIntValue("PENDREL_FAULTSIM_FIRST"));
        const int seconds = qEnvironmentVariableIntValue("PENDREL_FAULTSIM_SECONDS");
        int runs = one ? 1 : qEnvironmentVariableIntValue("PENDREL_FAULTSIM_RUNS");
        if (runs <= 0)
            runs = seconds > 0 ? std::numeric_limits<int>::max() : 1500;
        const bool all = qEnvironmentVariableIsSet("PENDREL_FAULTSIM_ALL");

        const QtMessageHandler previous = qInstallMessageHandler(quiet);
        QElapsedTimer clock;
        clock.start();
        QStringList failed;
        QString firstFailure;
        int done = 0;
        for (quint32 seed = std::max<quint32>(first, 1); done < runs; ++seed) {
            if (seconds > 0 && clock.elapsed() > qint64(seconds) * 1000)
                break;
            const QString failure = Simulation(seed).run();
            ++done;
            if (failure.isEmpty())
                continue;
            failed << failure.section(u'\n', 0, 0);
            if (all) // as they come, whole: a long run may be stopped at any time
                fprintf(stdout, "%s\n\n", qPrintable(failure));
            if (firstFailure.isEmpty())
                firstFailure = failure;
            if (!all)
                break;
        }
        qInstallMessageHandler(previous);
        qInfo().noquote() << QStringLiteral("%1 runs in %2 s, %3 failed").arg(done).arg(clock.elapsed() / 1000.0).arg(failed.size());
        if (all) {
            for (const QString &line : std::as_const(failed))
                qInfo().noquote() << line;
        }
        if (!firstFailure.isEmpty()) {
            qInfo().noquote() << firstFailure;
            QFAIL(qPrintable(QStringLiteral("replay alone with PENDREL_FAULTSIM_SEED=%1")
                                 .arg(firstFailure.section(u':', 0, 0).section(u' ', 1))));
        }
    }
};

int main(int argc, char **argv)
{
    // A long run goes on for as long as it is given; QtTest would end any
    // test function after five minutes (ctest's own time limit still holds).
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "86400000");
    QCoreApplication app(argc, argv);
    TestFaultSim test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_faultsim.moc"
