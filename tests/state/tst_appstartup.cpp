#include "jobs/JobQueue.h"
#include "platform/QtKeychainBackend.h"
#include "state/AppState.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include "AppStateHarness.h"

#include <csignal>

using namespace pendrel;
using namespace pendrel::test;

namespace {

const QString kStart = QStringLiteral("/api/auth/native/session");
const QString kPoll = QStringLiteral("/api/auth/native/session/s-1");

const QByteArray kPending = q("{'status':'pending'}");
const QByteArray kCompleted =
    q("{'status':'completed','user':{'id':'u-2','email':'bo@pendrel.test'},"
      "'session':{'access_token':'at-2','refresh_token':'rt-2','expires_at':4000000000}}");

const QByteArray kSignedIn = q("{'message':'ok','user':{'id':'u-1','email':'ann@pendrel.test'},"
                               "'session':{'access_token':'at','refresh_token':'rt','expires_at':4000000000}}");

QByteArray startAnswer(const char *authUrl)
{
    return QByteArray(
               "{\"sessionId\":\"s-1\",\"pollToken\":\"poll-secret\",\"mode\":\"signin\",\"authUrl\":\"")
           + authUrl + "\"}";
}

} // namespace

class TestAppStartup : public QObject {
    Q_OBJECT

    static void prepareBrowserSignIn(AppStateHarness &h)
    {
        h.answerWorkspace();
        h.state->browserAuthPollIntervalMs = 20;
        h.service.answer("POST", kStart,
                         ScriptedAnswer::json(200, startAnswer("https://login.pendrel.test/s-1")));
        blockingWait(h.state->bootstrap());
    }

    static bool waitForBrowserAuthEnd(AppStateHarness &h)
    {
        return QTest::qWaitFor([&] { return !h.state->isBrowserAuthInProgress(); }, 10000);
    }

private slots:
    void cleanup() { qunsetenv("PENDREL_DEBUG_PREVIEW_STATE"); }

    // On the desktop's Secret Service: an expired session is signed out and
    // its item removed; the jobs stay.
    void storedSessionRejected()
    {
        QtKeychainBackend desktop;
        AppStateHarness h(&desktop);
        PersistedState stored;
        JobRecord done =
            JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("x")), ClipperSettings::defaults());
        done.status = JobStatus::success;
        stored.jobs = {done};
        h.writeStateFile(stored);
        h.storeSession();
        h.service.answer("GET", QStringLiteral("/api/tenants"),
                         ScriptedAnswer::json(401, q("{'error':'expired'}")));
        blockingWait(h.state->bootstrap());
        QCOMPARE(h.state->authState().status, AuthStatus::unauthenticated);
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Session expired. Please sign in again."));
        QVERIFY(!blockingWait(h.state->authManager().keychainStore().loadSession()));
        QCOMPARE(h.state->jobs().size(), 1);
        QCOMPARE(h.stateFile().jobs.size(), 1);
        QVERIFY(h.service.requestsTo("GET", QStringLiteral("/api/internal-links/presets")).isEmpty());
    }

    void contextServerErrorAtStart()
    {
        AppStateHarness h;
        h.storeSession();
        h.service.answer("GET", QStringLiteral("/api/tenants"),
                         ScriptedAnswer::json(500, q("{'error':'Boom'}")));
        blockingWait(h.state->bootstrap());
        QCOMPARE(h.state->authState().status, AuthStatus::error);
        QCOMPARE(h.state->authState().errorMessage, QStringLiteral("Boom")); // the request id only in the log
        QVERIFY(h.state->authState().session);
        QCOMPARE(h.service.requests().size(), 1); // the tenant list only
        QVERIFY(!h.state->isBootstrapping());
    }

    // A stored history of one finished job, to tell it from what start-up adds.
    static void writeOneFinishedJob(AppStateHarness &h)
    {
        PersistedState stored;
        stored.jobs = {
            JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("old")), ClipperSettings::defaults())};
        stored.jobs.first().status = JobStatus::success;
        h.writeStateFile(stored);
    }

    // Captures made while start-up reads the stored state, and while it
    // waits for the service's first answer: each becomes its own job with
    // the text that was on the clipboard when it was made, in order, once
    // start-up is done; none is lost and none is sent twice.
    void capturesDuringASlowStart()
    {
        // Start-up reads the session from the desktop's Secret Service,
        // which is held still for a moment, as a keyring that is slow to
        // wake is.
        QtKeychainBackend desktop(std::chrono::milliseconds(10000));
        AppStateHarness h(&desktop);
        writeOneFinishedJob(h);
        h.storeSession();
        h.answerWorkspace();
        h.answerPipeline();
        ScriptedAnswer slow = ScriptedAnswer::json(200, q("{'tenants':[{'id':'t1','name':'Acme'}]}"));
        slow.delayMs = 1500;
        h.service.answerOnce("GET", QStringLiteral("/api/tenants"), slow);

        const QDBusReply<uint> daemon =
            QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.secrets"));
        QVERIFY2(daemon.isValid(), "no Secret Service on the test bus");
        QVERIFY(::kill(pid_t(daemon.value()), SIGSTOP) == 0);
        auto resume = qScopeGuard([&] { ::kill(pid_t(daemon.value()), SIGCONT); });

        QCoro::Task<void> start = h.state->bootstrap();
        QTest::qWait(200);
        QVERIFY(h.state->isBootstrapping()); // still reading the session
        h.clipboard.text = QStringLiteral("Text A");
        h.state->captureClipboard();
        h.clipboard.text = QStringLiteral("Text B");
        h.state->captureClipboard();
        QVERIFY(h.state->jobs().size() <= 1);   // nothing sent before the stored list is in
        ::kill(pid_t(daemon.value()), SIGCONT); // the keyring answers
        resume.dismiss();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isBootstrapping(); }, 10000));
        QVERIFY(h.state->authState().session);
        h.clipboard.text = QStringLiteral("Text C"); // while the service is asked
        h.state->captureClipboard();
        h.clipboard.text = QStringLiteral("Copied later, never captured");
        blockingWait(std::move(start));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return h.state->jobs().size() == 4 && !h.state->jobQueue().isProcessing()
                       && std::none_of(h.state->jobs().begin(), h.state->jobs().end(),
                                       [](const JobRecord &j) { return j.isWaiting(); });
            },
            15000));

        QStringList sent;
        for (const RecordedRequest &r :
             h.service.requestsTo("POST", QStringLiteral("/api/blog/admin/transform")))
            sent << r.json.toObject().value(QStringLiteral("originalText")).toString();
        QCOMPARE(sent,
                 (QStringList{QStringLiteral("Text A"), QStringLiteral("Text B"), QStringLiteral("Text C")}));
        QCOMPARE(h.service.requestsTo("POST", QStringLiteral("/api/blog/save")).size(), 3);
        QStringList kept;
        for (const JobRecord &j : h.state->jobs())
            kept << j.clip.text
                        + (j.status == JobStatus::success ? QStringLiteral(":success")
                                                          : QStringLiteral(":other"));
        QCOMPARE(kept, (QStringList{QStringLiteral("Text C:success"), QStringLiteral("Text B:success"),
                                    QStringLiteral("Text A:success"), QStringLiteral("old:success")}));
    }

    // A start without an answer from the service (a network that swallows
    // packets): the stored session and history show at once, signed in
    // with what is known, "Offline" after the short first deadline rather
    // than the transfer time-out, and the late answer fills in the rest.
    void slowOfflineStart()
    {
        AppStateHarness h;
        AppState::setFirstAnswerDeadlineMs(300);
        const auto restore = qScopeGuard([] { AppState::setFirstAnswerDeadlineMs(5000); });
        writeOneFinishedJob(h);
        h.storeSession();
        h.answerWorkspace();
        ScriptedAnswer silent =
            ScriptedAnswer::json(200, q("{'tenants':[{'id':'t1','name':'Acme','balance_credits':7}]}"));
        silent.delayMs = 2500;
        h.service.answerOnce("GET", QStringLiteral("/api/tenants"), silent);

        QElapsedTimer clock;
        clock.start();
        QCoro::Task<void> start = h.state->bootstrap();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isBootstrapping(); }, 2000));
        // Before any answer: signed in with the stored session, the history there.
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->authState().session->accessToken, QStringLiteral("token-1"));
        QVERIFY(!h.state->authState().tenantID && !h.state->authState().balanceCredits);
        QCOMPARE(h.state->jobs().size(), 1);
        blockingWait(std::move(start));
        QVERIFY2(clock.elapsed() < 2500, "start-up waited for the answer");
        QVERIFY(h.state->serviceUnreachable());
        QVERIFY(!h.state->serviceAnswersWithError());
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);

        // The answer comes late all the same: no longer offline, the workspace known.
        QVERIFY(QTest::qWaitFor([&] { return !h.state->serviceUnreachable(); }, 5000));
        QCOMPARE(h.state->authState().tenantName, QStringLiteral("Acme"));
        QCOMPARE(h.state->authState().balanceCredits, 7);
        QCOMPARE(h.service.requestsTo("GET", QStringLiteral("/api/tenants")).size(), 1);
    }

    void loginItemInASourceBuild()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        QVERIFY(!h.state->launchAtLoginEnabled());
        QCOMPARE(h.state->launchAtLoginHelperText(),
                 QStringLiteral("Launch at login is available only in the production build."));
        h.state->setLaunchAtLoginEnabled(true);
        QVERIFY(!h.state->launchAtLoginEnabled());
        QCOMPARE(h.loginItems.changes, 0);
    }

    // The real keyring daemon, stopped: it holds every call the way a store
    // behind its own prompt does, and one that has hung never answers. The
    // panel says what it waits for, the wait has an end, and the sign-in
    // holds for this run.
    void secretStoreThatDoesNotAnswer_data()
    {
        QTest::addColumn<bool>("browser");
        QTest::newRow("e-mail") << false;
        QTest::newRow("browser") << true;
    }
    void secretStoreThatDoesNotAnswer()
    {
        QFETCH(bool, browser);
        QtKeychainBackend desktop(std::chrono::milliseconds(2500));
        AppStateHarness h(&desktop);
        h.state->authManager().keychainStore().userPromptDelayMs = 300;
        prepareBrowserSignIn(h);
        h.service.answer("GET", kPoll, ScriptedAnswer::json(200, kCompleted));
        h.service.answer("POST", QStringLiteral("/api/auth/signin"), ScriptedAnswer::json(200, kSignedIn));
        const QDBusReply<uint> daemon = QDBusConnection::sessionBus().interface()->servicePid(
            QStringLiteral("org.freedesktop.secrets"));
        QVERIFY2(daemon.isValid(), "no Secret Service on the test bus");
        QVERIFY(::kill(pid_t(daemon.value()), SIGSTOP) == 0);
        const auto resume = qScopeGuard([&] { ::kill(pid_t(daemon.value()), SIGCONT); });

        if (browser) {
            h.state->startBrowserAuth(NativeAuthFlowMode::signin);
        } else {
            h.state->setSignInEmail(QStringLiteral("ann@pendrel.test"));
            h.state->setSignInPassword(QStringLiteral("secret"));
            h.state->signIn();
        }
        QVERIFY(QTest::qWaitFor([&] { return h.state->isWaitingForSecretStore(); }, 5000));
        QVERIFY(h.state->isSigningIn() || h.state->isBrowserAuthInProgress());
        QVERIFY(QTest::qWaitFor([&] { return h.state->authErrorMessage().has_value(); }, 10000));
        QVERIFY(!h.state->isSigningIn() && !h.state->isBrowserAuthInProgress());
        QVERIFY(!h.state->isWaitingForSecretStore());
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QVERIFY(h.state->authState().session);
        QCOMPARE(h.state->authErrorMessage(),
                 QStringLiteral("Signed in until you quit: the session could not be kept in the desktop's "
                                "secret store (The desktop's secret store did not answer)."));
    }

    void emailSignIn()
    {
        AppStateHarness h;
        h.answerWorkspace();
        blockingWait(h.state->bootstrap());
        QList<int> heights;
        h.state->onPreferredPanelSizeChange = [&](int, int height) { heights.append(height); };

        h.state->setSignInEmail(QStringLiteral("ann@pendrel.test"));
        h.state->signIn();
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Enter both email and password."));
        QVERIFY(!h.state->isSigningIn());

        h.service.answerOnce("POST", QStringLiteral("/api/auth/signin"),
                             ScriptedAnswer::json(401, q("{'error':'Invalid email or password'}")));
        h.state->setSignInPassword(QStringLiteral(" "));
        h.state->signIn();
        QVERIFY(h.state->isSigningIn());
        QCOMPARE(h.state->authState().status, AuthStatus::authenticating);
        QVERIFY(!h.state->authErrorMessage());
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isSigningIn(); }, 5000));
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Invalid email or password"));
        QCOMPARE(h.state->authState(), AuthState::unauthenticated());
        QCOMPARE(h.state->signInPassword(), QStringLiteral(" ")); // kept for another try

        h.service.answer(
            "POST", QStringLiteral("/api/auth/signin"),
            ScriptedAnswer::json(200, q("{'message':'ok','user':{'id':'u-1','email':'ann@pendrel.test'},"
                                        "'session':{'access_token':'at','refresh_token':'rt',"
                                        "'expires_at':4000000000}}")));
        h.state->setSignInPassword(QStringLiteral("secret"));
        h.state->signIn();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isSigningIn(); }, 5000));
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->authState().session->accessToken, QStringLiteral("at"));
        QCOMPARE(h.state->authState().tenantName, QStringLiteral("Acme"));
        QCOMPARE(h.state->auxData().language, QStringLiteral("en"));
        QVERIFY(h.state->signInPassword().isEmpty());
        QCOMPARE(h.state->signInEmail(), QStringLiteral("ann@pendrel.test"));
        QVERIFY(!h.state->authErrorMessage());
        QCOMPARE(heights.last(), 760);
        QCOMPARE(blockingWait(h.state->authManager().keychainStore().loadSession())->accessToken,
                 QStringLiteral("at"));
    }

    void browserSignInCompletes()
    {
        AppStateHarness h;
        prepareBrowserSignIn(h);
        h.service.answerOnce("GET", kPoll, ScriptedAnswer::json(200, kPending));
        h.service.answerOnce("GET", kPoll,
                             ScriptedAnswer::json(200, q("{'status':'completed','user':{'id':'u'}}")));
        h.service.answer("GET", kPoll, ScriptedAnswer::json(200, kCompleted));
        h.state->setSignInPassword(QStringLiteral("left over"));
        h.state->startBrowserAuth(NativeAuthFlowMode::signin, NativeAuthProvider::linkedinOIDC);
        QVERIFY(h.state->isBrowserAuthInProgress());
        QCOMPARE(h.state->browserAuthStatusMessage(), QStringLiteral("Continue with LinkedIn"));
        QCOMPARE(h.state->authState().status, AuthStatus::authenticating);
        h.state->startBrowserAuth(NativeAuthFlowMode::signup); // refused while one runs
        QVERIFY(waitForBrowserAuthEnd(h));
        QVERIFY(QTest::qWaitFor([&] { return h.state->auxData().lastFetchedAt.has_value(); }, 5000));

        const auto starts = h.service.requestsTo("POST", kStart);
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts.first().json, json::parseDocument(q("{'mode':'signin','provider':'linkedin_oidc'}")));
        const auto polls = h.service.requestsTo("GET", kPoll);
        QCOMPARE(polls.size(), 3); // pending, completed without session, completed
        QCOMPARE(polls.first().header("Authorization"), QByteArray("Bearer poll-secret"));
        QCOMPARE(h.opener.opened, QList<QUrl>{QUrl(QStringLiteral("https://login.pendrel.test/s-1"))});
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->authState().session->userID, QStringLiteral("u-2"));
        QVERIFY(!h.state->browserAuthStatusMessage() && !h.state->authErrorMessage());
        QVERIFY(h.state->signInPassword().isEmpty());
        const std::optional<UserSession> stored =
            blockingWait(h.state->authManager().keychainStore().loadSession());
        QCOMPARE(stored->accessToken, QStringLiteral("at-2"));
        // The poll token lives only in the loop.
        QDirIterator files(h.dir.path(), QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile f(files.next());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY2(!f.readAll().contains("poll-secret"), qPrintable(f.fileName()));
        }
    }

    void browserSignInFailures_data()
    {
        QTest::addColumn<QByteArray>("authUrl");
        QTest::addColumn<ScriptedAnswer>("poll");
        QTest::addColumn<int>("deadline");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("opened");
        const ScriptedAnswer pending = ScriptedAnswer::json(200, kPending);
        QTest::newRow("expired answer")
            << QByteArray("https://login.test/a") << ScriptedAnswer::json(200, q("{'status':'expired'}"))
            << 300 << "Browser sign in expired. Please start again." << true;
        QTest::newRow("404 expired") << QByteArray("https://login.test/a")
                                     << ScriptedAnswer::json(404, q("{'status':'expired'}")) << 300
                                     << "Browser sign in expired. Please start again." << true;
        QTest::newRow("404 otherwise")
            << QByteArray("https://login.test/a") << ScriptedAnswer::json(404, q("{'status':'gone'}")) << 300
            << "Could not read browser sign in status" << true;
        QTest::newRow("poll refused with text")
            << QByteArray("https://login.test/a")
            << ScriptedAnswer::json(401, q("{'error':'Bad poll token'}")) << 300 << "Bad poll token" << true;
        QTest::newRow("timed out") << QByteArray("https://login.test/a") << pending << 1
                                   << "Browser sign in timed out. Please try again." << true;
        QTest::newRow("address unparsable")
            << QByteArray("http://exa mple") << pending << 300 << "Invalid server response." << false;
        QTest::newRow("not a web address")
            << QByteArray("file:///etc/passwd") << pending << 300 << "Invalid server response." << false;
    }
    void browserSignInFailures()
    {
        QFETCH(QByteArray, authUrl);
        QFETCH(ScriptedAnswer, poll);
        QFETCH(int, deadline);
        QFETCH(QString, message);
        QFETCH(bool, opened);
        AppStateHarness h;
        prepareBrowserSignIn(h);
        h.state->browserAuthDeadlineSeconds = deadline;
        h.state->browserAuthPollIntervalMs = 200;
        h.service.answer("POST", kStart, ScriptedAnswer::json(200, startAnswer(authUrl.constData())));
        h.service.answer("GET", kPoll, poll);
        h.state->startBrowserAuth(NativeAuthFlowMode::signin);
        QCOMPARE(h.state->browserAuthStatusMessage(),
                 QStringLiteral("Finish signing in through your browser and we'll connect automatically."));
        QVERIFY(waitForBrowserAuthEnd(h));
        QCOMPARE(h.state->authErrorMessage(), message);
        QCOMPARE(h.state->authState(), AuthState::unauthenticated());
        QVERIFY(!h.state->browserAuthStatusMessage());
        QCOMPARE(!h.opener.opened.isEmpty(), opened);
        if (deadline == 1)
            QVERIFY(h.service.requestsTo("GET", kPoll).size() >= 2); // polled until the deadline
    }

    void startRefused()
    {
        AppStateHarness h;
        prepareBrowserSignIn(h);
        h.service.answer("POST", kStart, ScriptedAnswer::json(503, "<html>"));
        h.state->startBrowserAuth(NativeAuthFlowMode::signup);
        QCOMPARE(h.state->browserAuthStatusMessage(),
                 QStringLiteral("Create your account in your browser, then come right back."));
        QVERIFY(waitForBrowserAuthEnd(h));
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Could not start browser sign in"));
        QCOMPARE(h.service.requestsTo("POST", kStart).first().json,
                 json::parseDocument(q("{'mode':'signup'}")));
    }

    // A sign-out during the pause ends the loop quietly: no further poll.
    void signOutCancelsTheLoop()
    {
        AppStateHarness h;
        prepareBrowserSignIn(h);
        h.state->browserAuthPollIntervalMs = 3000;
        h.service.answer("GET", kPoll, ScriptedAnswer::json(200, kPending));
        h.state->startBrowserAuth(NativeAuthFlowMode::signin, NativeAuthProvider::github);
        QVERIFY(QTest::qWaitFor([&] { return h.service.requestsTo("GET", kPoll).size() == 1; }, 5000));
        QTest::qWait(50);
        h.state->signOut();
        QVERIFY(waitForBrowserAuthEnd(h));
        QVERIFY(!h.state->authErrorMessage());
        QVERIFY(!h.state->browserAuthStatusMessage());
        QTest::qWait(300);
        QCOMPARE(h.service.requestsTo("GET", kPoll).size(), 1);
        // A new start is accepted afterwards.
        h.service.answer("GET", kPoll, ScriptedAnswer::json(200, kCompleted));
        h.state->startBrowserAuth(NativeAuthFlowMode::signin);
        QVERIFY(waitForBrowserAuthEnd(h));
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QVERIFY(QTest::qWaitFor([&] { return h.state->auxData().lastFetchedAt.has_value(); }, 5000));
    }

    // An e-mail sign-in lets a new browser sign-in start while the old loop
    // still runs; the old loop's cancellation must leave the new one's
    // progress and status line alone.
    void replacedLoopLeavesTheNewOneAlone()
    {
        AppStateHarness h;
        prepareBrowserSignIn(h);
        h.state->browserAuthPollIntervalMs = 200;
        h.service.answer("GET", kPoll, ScriptedAnswer::json(200, kPending));
        h.service.answer("POST", QStringLiteral("/api/auth/signin"),
                         ScriptedAnswer::json(401, q("{'error':'Invalid email or password'}")));
        h.state->startBrowserAuth(NativeAuthFlowMode::signin);
        QVERIFY(QTest::qWaitFor([&] { return h.service.requestsTo("GET", kPoll).size() == 1; }, 5000));

        h.state->setSignInEmail(QStringLiteral("ann@pendrel.test"));
        h.state->setSignInPassword(QStringLiteral("pw"));
        h.state->signIn();
        QVERIFY(!h.state->isBrowserAuthInProgress());
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isSigningIn(); }, 5000));

        h.state->startBrowserAuth(NativeAuthFlowMode::signin, NativeAuthProvider::github);
        QVERIFY(QTest::qWaitFor([&] { return h.service.requestsTo("GET", kPoll).size() >= 2; }, 5000));
        QTest::qWait(300); // the old loop has woken from its pause and ended
        QVERIFY(h.state->isBrowserAuthInProgress());
        QCOMPARE(h.state->browserAuthStatusMessage(), QStringLiteral("Continue with GitHub"));
        QCOMPARE(h.state->authState().status, AuthStatus::authenticating);
        h.state->signOut();
        QVERIFY(waitForBrowserAuthEnd(h));
    }

    void previewStates_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<bool>("recentJobsShown");
        QTest::newRow("error") << "workspace-error" << QStringList{"error"} << false;
        QTest::newRow("settings") << "workspace-settings" << QStringList{} << false;
        QTest::newRow("jobs") << "workspace-jobs" << QStringList{"success", "error", "submitted"} << true;
        QTest::newRow("success") << "workspace-success" << QStringList{"success"} << false;
        QTest::newRow("any other name") << "whatever" << QStringList{"success"} << false;
    }
    void previewStates()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, statuses);
        QFETCH(bool, recentJobsShown);
        qputenv("PENDREL_DEBUG_PREVIEW_STATE", mode.toUtf8());
        AppStateHarness h;
        QList<int> heights;
        h.state->onPreferredPanelSizeChange = [&](int, int height) { heights.append(height); };
        blockingWait(h.state->bootstrap());
        QVERIFY(!h.state->isBootstrapping());
        QCOMPARE(heights, QList<int>{760});
        const AppState &s = *h.state;
        QCOMPARE(s.authState().tenantID, QStringLiteral("debug-tenant"));
        QCOMPARE(s.authState().balanceCredits, qint64(3804));
        QVERIFY(s.settings().enableHumanize && s.settings().enableImages && s.settings().autoSend);
        QCOMPARE(s.settings().imagesCount, 1);
        QCOMPARE(s.auxData().socialAccounts.size(), 3);
        QCOMPARE(s.settings().socialCrosspostPreferences.size(), 3);
        QCOMPARE(s.pendingClip()->title, QStringLiteral("Restored workspace preview"));
        QStringList got;
        for (const JobRecord &j : s.jobs())
            got << enumString(j.status);
        QCOMPARE(got, statuses);
        QCOMPARE(s.isShowingRecentJobs(), recentJobsShown);
        if (mode == u"workspace-error") {
            const JobRecord &failed = s.jobs().first();
            QCOMPARE(failed.error,
                     (JobErrorInfo{QStringLiteral("Nothing to process"), 400, QStringLiteral("EMPTY_TEXT")}));
            QCOMPARE(AppStateHarness::logMessages(failed), QStringList{QStringLiteral("Nothing to process")});
            QCOMPARE(s.statusIconState(), StatusIconState::error());
        }
        QTest::qWait(50);
        QVERIFY(!s.jobQueue().isProcessing());
        QVERIFY(h.service.requests().isEmpty());
        s.persistenceStore().waitForPendingSaves();
        QVERIFY(!QFileInfo::exists(s.persistenceStore().currentFilePath()));
    }
};

QTEST_GUILESS_MAIN(TestAppStartup)
#include "tst_appstartup.moc"
