#include "jobs/JobQueue.h"
#include "state/AppConfiguration.h"
#include "state/AppState.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include "AppStateHarness.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

JobRecord jobWith(JobStatus status, const QDateTime &createdAt, bool aborted = false)
{
    JobRecord job =
        JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("x")), ClipperSettings::defaults());
    job.status = status;
    job.createdAt = createdAt;
    job.updatedAt = createdAt;
    job.aborted = aborted;
    return job;
}

ClipperSettings manualSend()
{
    ClipperSettings settings;
    settings.autoSend = false;
    return settings;
}

} // namespace

Q_DECLARE_METATYPE(pendrel::JobErrorInfo)
Q_DECLARE_METATYPE(pendrel::StatusIconState)

class TestAppState : public QObject {
    Q_OBJECT

private slots:
    void constructionTouchesNothing()
    {
        AppStateHarness h;
        const AppState &s = *h.state;
        QCOMPARE(s.authState(), AuthState::unauthenticated());
        QCOMPARE(s.settings(), ClipperSettings::defaults());
        QVERIFY(!s.pendingClip() && s.jobs().isEmpty() && s.auxData() == AuxData{});
        QVERIFY(s.isBootstrapping());
        QVERIFY(!s.isPanelPresented() && !s.isSigningIn() && !s.isBrowserAuthInProgress());
        QVERIFY(s.signInEmail().isEmpty() && s.signInPassword().isEmpty() && s.urlInput().isEmpty());
        QVERIFY(!s.authErrorMessage() && !s.browserAuthStatusMessage() && !s.launchAtLoginHelperText());
        QVERIFY(!s.isShowingAdvancedSettings() && !s.isShowingRecentJobs() && !s.launchAtLoginEnabled());
        QCOMPARE(s.statusIconState(), StatusIconState::idle());
        QCOMPARE(s.appUpdateState().status, AppUpdateStatus::idle);
        QCOMPARE(s.appUpdateState().currentVersion, AppConfiguration::shortVersion());
        QVERIFY(!s.appUpdateState().canCheckForUpdates);
        QVERIFY(!s.jobQueue().isProcessing());
        QVERIFY(!QFileInfo::exists(s.persistenceStore().currentFilePath()));
        QVERIFY(h.service.requests().isEmpty());
    }

    void firstStartWithoutDataOrSession()
    {
        AppStateHarness h;
        QList<QPair<int, int>> sizes;
        h.state->onPreferredPanelSizeChange = [&](int w, int hgt) { sizes.append({w, hgt}); };
        int iconCalls = 0;
        h.state->onStatusIconStateChange = [&](const StatusIconState &) { ++iconCalls; };
        blockingWait(h.state->bootstrap());
        QVERIFY(!h.state->isBootstrapping());
        QCOMPARE(h.state->authState().status, AuthStatus::unauthenticated);
        QCOMPARE(sizes, (QList<QPair<int, int>>{{440, 548}}));
        QVERIFY(iconCalls >= 1);
        QCOMPARE(h.state->statusIconState(), StatusIconState::idle());
        QVERIFY(h.service.requests().isEmpty());
        QCOMPARE(h.stateFile(), PersistedState{});
        QVERIFY(QFileInfo::exists(h.state->persistenceStore().currentFilePath()));
    }

    void settingsAssignmentsSave()
    {
        AppStateHarness h;
        QSignalSpy changed(h.state.get(), &AppState::settingsChanged);
        ClipperSettings settings = h.state->settings();
        settings.language = QStringLiteral("de");
        h.state->setSettings(settings); // still bootstrapping: no save
        h.state->persistenceStore().waitForPendingSaves();
        QVERIFY(!QFileInfo::exists(h.state->persistenceStore().currentFilePath()));
        QCOMPARE(changed.size(), 1);

        blockingWait(h.state->bootstrap()); // the stored (default) settings come back
        QCOMPARE(changed.size(), 2);
        settings.language = QStringLiteral("fr");
        h.state->setSettings(settings);
        QCOMPARE(h.stateFile().settings.language, QStringLiteral("fr"));
        QFile::remove(h.state->persistenceStore().currentFilePath());
        h.state->setSettings(h.state->settings()); // equal: no signal, but saved
        QCOMPARE(changed.size(), 3);
        QCOMPARE(h.stateFile().settings.language, QStringLiteral("fr"));
    }

    void settersNotifyOnlyOnChange()
    {
        AppStateHarness h;
        QSignalSpy spy(h.state.get(), &AppState::urlInputChanged);
        h.state->setUrlInput(QStringLiteral("a"));
        h.state->setUrlInput(QStringLiteral("a"));
        h.state->setUrlInput(QString());
        QCOMPARE(spy.size(), 2);
        QSignalSpy error(h.state.get(), &AppState::authErrorMessageChanged);
        h.state->setAuthErrorMessage(std::nullopt);
        QCOMPARE(error.size(), 0);
    }

    void clipboardCapture()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        h.state->setSettings(manualSend());
        int panelRequests = 0;
        h.state->onPanelRequested = [&] { ++panelRequests; };

        h.clipboard.text = QStringLiteral(" \n\t ");
        h.state->captureClipboard();
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Clipboard does not contain text."));
        QCOMPARE(panelRequests, 1);
        QVERIFY(!h.state->pendingClip());

        h.clipboard.text = QStringLiteral("first");
        h.state->captureClipboard();
        h.clipboard.text = QStringLiteral("  second ");
        h.state->captureClipboard();
        QVERIFY(!h.state->authErrorMessage()); // cleared by a capture
        QCOMPARE(h.state->pendingClip()->text, QStringLiteral("second"));
        QVERIFY(h.state->jobs().isEmpty());
        QCOMPARE(panelRequests, 3);
        QCOMPARE(h.stateFile().pendingClip,
                 throughStateFile(*h.state->pendingClip())); // saved with the capture

        // An override wins over the setting, both ways.
        h.state->captureClipboard(false);
        QVERIFY(h.state->jobs().isEmpty());
        h.state->captureClipboard(true);
        QCOMPARE(h.state->jobs().size(), 1);
        QVERIFY(!h.state->pendingClip());
        QVERIFY(h.waitUntilIdle()); // fails at once: signed out
    }

    void addressCapture_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("url"); // empty: rejected
        QTest::addColumn<QString>("error");
        const QString invalid = QStringLiteral("Enter a valid URL.");
        QTest::newRow("blanks") << "   "
                                << "" << invalid;
        QTest::newRow("empty") << ""
                               << "" << invalid;
        QTest::newRow("inner space") << "https://a.test/x y"
                                     << "" << invalid;
        QTest::newRow("bad percent") << "https://a.test/%zz"
                                     << "" << invalid;
        QTest::newRow("trimmed address") << "  https://a.test/story?id=1 \n"
                                         << "https://a.test/story?id=1" << "";
        QTest::newRow("relative reference") << "news/today"
                                            << "news/today" << "";
        const QString longest = QStringLiteral("https://a.test/") + QString(8192 - 15, u'x');
        QTest::newRow("8,192 characters") << longest << longest << "";
        QTest::newRow("100 KB") << QStringLiteral("https://a.test/") + QString(100'000, u'x') << ""
                                << "This address is 100015 characters long; a web address can have at most 8,192.";
    }
    void addressCapture()
    {
        QFETCH(QString, input);
        QFETCH(QString, url);
        QFETCH(QString, error);
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        h.state->setSettings(manualSend());
        h.state->setUrlInput(input);
        h.state->captureURL();
        if (url.isEmpty()) {
            QCOMPARE(h.state->authErrorMessage(), error);
            QCOMPARE(h.state->urlInput(), input);
            QVERIFY(!h.state->pendingClip());
            return;
        }
        QVERIFY(!h.state->authErrorMessage());
        QCOMPARE(h.state->urlInput(), QString());
        QCOMPARE(h.state->pendingClip()->type, ClipType::url);
        QCOMPARE(h.state->pendingClip()->url, url);
        QCOMPARE(h.state->pendingClip()->title, QStringLiteral("URL"));
        QVERIFY(h.state->pendingClip()->text.isEmpty());
    }

    void sending()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        h.state->setSettings(manualSend());
        h.state->sendPendingClip();
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Capture content first."));
        QVERIFY(h.state->jobs().isEmpty());

        h.clipboard.text = QStringLiteral("Text");
        h.state->captureClipboard();
        const ClipPayload clip = *h.state->pendingClip();
        h.state->sendPendingClip();
        const JobRecord job = *h.state->latestJob();
        QCOMPARE(job.clip, clip);
        QCOMPARE(job.settingsSnapshot, h.state->settings());
        QCOMPARE(job.status, JobStatus::submitted);
        QCOMPARE(AppStateHarness::logMessages(job), QStringList{QStringLiteral("Job created")});
        QCOMPARE(h.state->queuedCount(), 1);
        // Signed out, the job waits for a sign-in: that needs the user, it is not work going on.
        QCOMPARE(h.state->statusIconState(), StatusIconState::error());
        QVERIFY(!h.state->pendingClip());
        QVERIFY(h.waitUntilIdle());
        QCOMPARE(h.notifications.authorizationRequests, 1);
    }

    void jobMutation()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const JobRecord older = jobWith(JobStatus::success, now.addSecs(-100));
        const JobRecord newer = jobWith(JobStatus::success, now.addSecs(-50));
        h.state->setJobs({older, newer});

        QSignalSpy changed(h.state.get(), &AppState::jobsChanged);
        h.state->updateJob(QUuid::createUuid(), [](JobRecord &j) { j.title = QStringLiteral("never"); });
        QCOMPARE(changed.size(), 0);
        QVERIFY(h.stateFile().jobs.isEmpty()); // nothing saved for an unknown id

        h.state->updateJob(older.id, [](JobRecord &j) { j.title = QStringLiteral("changed"); });
        QCOMPARE(changed.size(), 1);
        QCOMPARE(h.state->jobs().first().id, newer.id); // re-sorted newest first
        QCOMPARE(h.state->jobs().at(1).title, QStringLiteral("changed"));
        QVERIFY(h.state->jobs().at(1).updatedAt >= now);
        QCOMPARE(h.stateFile().jobs.at(1).title, QStringLiteral("changed"));

        for (int i = 0; i < 200; ++i)
            h.state->addLog(newer.id, LogLevel::info, QString::number(i));
        h.state->addLog(newer.id, LogLevel::warn, QStringLiteral("last"));
        const JobRecord logged = *h.state->job(newer.id);
        QCOMPARE(logged.logs.size(), 200);
        QCOMPARE(logged.logs.first().message, QStringLiteral("1"));
        QCOMPARE(logged.logs.last().message, QStringLiteral("last"));
    }

    void failureRecords_data()
    {
        QTest::addColumn<int>("kind"); // 0: not HTTP, 1: HTTP without code, 2: HTTP with code
        QTest::addColumn<JobErrorInfo>("expected");
        QTest::newRow("not HTTP") << 0
                                  << JobErrorInfo{QStringLiteral("No active session."), std::nullopt,
                                                  QStringLiteral("ERROR")};
        QTest::newRow("HTTP without code")
            << 1 << JobErrorInfo{QStringLiteral("Upstream down"), 502, QStringLiteral("ERROR")};
        QTest::newRow("HTTP with code") << 2
                                        << JobErrorInfo{QStringLiteral("Not enough credits"), 402,
                                                        QStringLiteral("INSUFFICIENT_CREDITS")};
    }
    void failureRecords()
    {
        QFETCH(int, kind);
        QFETCH(JobErrorInfo, expected);
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        const JobRecord running = jobWith(JobStatus::running, QDateTime::currentDateTimeUtc());
        h.state->setJobs({running});
        int iconCalls = 0;
        h.state->onStatusIconStateChange = [&](const StatusIconState &) { ++iconCalls; };
        if (kind == 0)
            h.state->failJob(running.id, APIClientError(APIClientError::Kind::missingSession));
        else if (kind == 1)
            h.state->failJob(running.id, APIClientError::http(502, QStringLiteral("Upstream down"),
                                                              std::nullopt, QStringLiteral("r1")));
        else
            h.state->failJob(running.id,
                             APIClientError::http(402, QStringLiteral("Not enough credits"),
                                                  QStringLiteral("INSUFFICIENT_CREDITS"), std::nullopt));
        const JobRecord failed = *h.state->job(running.id);
        QCOMPARE(failed.error, expected);
        QCOMPARE(failed.status, JobStatus::error);
        QCOMPARE(failed.step, JobStep::error);
        // The log line has the whole account (request id included), the record the plain text.
        QVERIFY(failed.logs.last().message.startsWith(expected.message));
        QCOMPARE(h.state->statusIconState(), StatusIconState::error());
        QVERIFY(iconCalls >= 2);
    }

    void retryUsesTheSnapshot()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        JobRecord failed = jobWith(JobStatus::error, QDateTime::currentDateTimeUtc().addSecs(-10));
        failed.settingsSnapshot.enableImages = true;
        h.state->setJobs({failed});
        h.state->setSettings(manualSend());     // images off now
        h.state->retryJob(QUuid::createUuid()); // unknown: nothing
        QCOMPARE(h.state->jobs().size(), 1);
        h.state->retryJob(failed.id);
        QCOMPARE(h.state->jobs().size(), 2);
        const JobRecord retry = h.state->jobs().first();
        QVERIFY(retry.id != failed.id);
        QVERIFY(retry.settingsSnapshot.enableImages);
        QCOMPARE(retry.clip, failed.clip);
        QVERIFY(retry.logs.isEmpty());
        QCOMPARE(*h.state->job(failed.id), failed);
        QVERIFY(h.state->jobQueue().isProcessing());
        QVERIFY(h.waitUntilIdle());
    }

    void views()
    {
        AppStateHarness h;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QList<JobRecord> jobs;
        for (int i = 0; i < 7; ++i)
            jobs.append(jobWith(JobStatus::success, now.addSecs(-i * 10)));
        jobs[6].result =
            JobResult{QStringLiteral("a"), QStringLiteral("https://x.test/a"), QStringLiteral("A")};
        std::reverse(jobs.begin(), jobs.end()); // oldest first in the list
        h.state->setJobs(jobs);
        QCOMPARE(h.state->recentJobs().size(), 5);
        QCOMPARE(h.state->recentJobs().first().id, jobs.last().id);
        QCOMPARE(h.state->latestJob()->id, jobs.last().id);
        QCOMPARE(h.state->latestSuccessfulJob()->id, jobs.last().id);
        QVERIFY(!h.state->latestArticleURL());
        QVERIFY(!h.state->latestActiveJob()); // a success is not active

        JobRecord saved = jobWith(JobStatus::success, now.addSecs(5));
        saved.savedURL = QStringLiteral("https://blog.test/saved");
        h.state->setJobs({saved});
        QCOMPARE(h.state->latestArticleURL(), QUrl(QStringLiteral("https://blog.test/saved")));
        saved.result =
            JobResult{QStringLiteral("a"), QStringLiteral("https://blog.test/result"), QStringLiteral("A")};
        h.state->setJobs({saved});
        QCOMPARE(h.state->latestArticleURL(), QUrl(QStringLiteral("https://blog.test/result")));
    }

    // Oldest first; among jobs created at the same instant the one further
    // down the newest-first list, which was sent earlier.
    void nextQueuedJob_data()
    {
        QTest::addColumn<QList<JobRecord>>("jobs"); // in list order
        QTest::addColumn<int>("next");              // index in the list, -1 for none
        const QDateTime t = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
        const JobStatus submitted = JobStatus::submitted;
        QTest::newRow("oldest in the middle")
            << QList<JobRecord>{jobWith(submitted, t), jobWith(submitted, t.addSecs(-60)),
                                jobWith(submitted, t.addSecs(-30))}
            << 1;
        QTest::newRow("same instant") << QList<JobRecord>{jobWith(submitted, t), jobWith(submitted, t)} << 1;
        QTest::newRow("same instant, three")
            << QList<JobRecord>{jobWith(submitted, t), jobWith(JobStatus::running, t), jobWith(submitted, t)}
            << 2;
        QTest::newRow("same instant, the lower one done")
            << QList<JobRecord>{jobWith(submitted, t), jobWith(JobStatus::success, t)} << 0;
        QTest::newRow("running waits, aborted and ended do not")
            << QList<JobRecord>{jobWith(JobStatus::running, t), jobWith(submitted, t.addSecs(-60), true),
                                jobWith(JobStatus::error, t.addSecs(-90)),
                                jobWith(JobStatus::aborted, t.addSecs(-99))}
            << 0;
        QTest::newRow("nothing waiting") << QList<JobRecord>{jobWith(JobStatus::success, t)} << -1;
    }
    void nextQueuedJob()
    {
        QFETCH(QList<JobRecord>, jobs);
        QFETCH(int, next);
        AppStateHarness h;
        h.state->setJobs(jobs);
        QCOMPARE(h.state->nextQueuedJobID(),
                 next < 0 ? std::nullopt : std::optional<QUuid>(jobs.at(next).id));
    }

    void iconState_data()
    {
        QTest::addColumn<QList<JobRecord>>("jobs");
        QTest::addColumn<StatusIconState>("icon");
        QTest::addColumn<bool>("active"); // latestActiveJob present
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QTest::newRow("none") << QList<JobRecord>{} << StatusIconState::idle() << false;
        QTest::newRow("two running, one queued, one aborted")
            << QList<JobRecord>{jobWith(JobStatus::running, now),
                                jobWith(JobStatus::running, now.addSecs(-1)),
                                jobWith(JobStatus::submitted, now.addSecs(-2)),
                                jobWith(JobStatus::running, now.addSecs(-3), true)}
            << StatusIconState::processing(3) << true;
        // Signed out, queued work waits for a sign-in: the user is needed.
        QTest::newRow("queued while signed out")
            << QList<JobRecord>{jobWith(JobStatus::submitted, now)} << StatusIconState::error() << true;
        QTest::newRow("fresh error") << QList<JobRecord>{jobWith(JobStatus::error, now.addSecs(-299))}
                                     << StatusIconState::error() << true;
        QTest::newRow("old error") << QList<JobRecord>{jobWith(JobStatus::error, now.addSecs(-301))}
                                   << StatusIconState::idle() << false;
        QTest::newRow("fresh abort") << QList<JobRecord>{jobWith(JobStatus::aborted, now.addSecs(-10))}
                                     << StatusIconState::idle() << true;
        QTest::newRow("old success") << QList<JobRecord>{jobWith(JobStatus::success, now.addDays(-30))}
                                     << StatusIconState::success() << false;
        QTest::newRow("error under a newer success")
            << QList<JobRecord>{jobWith(JobStatus::success, now), jobWith(JobStatus::error, now.addSecs(-5))}
            << StatusIconState::success() << false;
    }
    void iconState()
    {
        QFETCH(QList<JobRecord>, jobs);
        QFETCH(StatusIconState, icon);
        QFETCH(bool, active);
        AppStateHarness h;
        if (QByteArray(QTest::currentDataTag()) != "queued while signed out") {
            AuthState auth = h.state->authState();
            auth.session = UserSession{QStringLiteral("token-1"), QStringLiteral("refresh-1"), 4.0e9,
                                       QStringLiteral("user-1"), QStringLiteral("ada@pendrel.test")};
            h.state->setAuthState(auth);
        }
        h.state->setJobs(jobs);
        std::optional<StatusIconState> reported;
        h.state->onStatusIconStateChange = [&](const StatusIconState &s) { reported = s; };
        h.state->recomputeStatusIconState();
        QCOMPARE(h.state->statusIconState(), icon);
        QCOMPARE(reported, icon);
        QCOMPARE(bool(h.state->latestActiveJob()), active);
    }

    // An issue is shown for 300 seconds after the job's last change.
    void issueExpiry()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        const JobRecord failed = jobWith(JobStatus::error, QDateTime::currentDateTimeUtc().addSecs(-299));
        h.state->setJobs({failed});
        h.state->recomputeStatusIconState();
        h.state->scheduleIssueStatusExpiryIfNeeded();
        QCOMPARE(h.state->statusIconState(), StatusIconState::error());
        QVERIFY(!h.state->job(failed.id)->acknowledged);
        QVERIFY(QTest::qWaitFor([&] { return h.state->job(failed.id)->acknowledged; }, 5000));
        QCOMPARE(h.state->statusIconState(), StatusIconState::idle());
        QCOMPARE(h.stateFile().jobs.first().acknowledged, true);

        // Past the limit already: acknowledged at once. Rescheduling cancels a pending timer.
        const JobRecord old = jobWith(JobStatus::aborted, QDateTime::currentDateTimeUtc().addSecs(-400));
        const JobRecord fresh = jobWith(JobStatus::error, QDateTime::currentDateTimeUtc().addSecs(-299));
        h.state->setJobs({fresh});
        h.state->scheduleIssueStatusExpiryIfNeeded();
        h.state->setJobs({old});
        h.state->scheduleIssueStatusExpiryIfNeeded();
        QVERIFY(h.state->job(old.id)->acknowledged);
        h.state->setJobs({fresh});
        QTest::qWait(1500);
        QVERIFY(!h.state->job(fresh.id)->acknowledged); // the cancelled timer did not fire
    }

    void acknowledgements()
    {
        AppStateHarness h;
        const JobRecord success = jobWith(JobStatus::success, QDateTime::currentDateTimeUtc());
        h.state->setJobs({success});
        h.state->acknowledgeTerminalIssue(success.id); // not an issue: unchanged
        QVERIFY(!h.state->job(success.id)->acknowledged);
        h.state->acknowledgeLatestSuccess();
        QVERIFY(h.state->job(success.id)->acknowledged);
        h.state->recomputeStatusIconState();
        QCOMPARE(h.state->statusIconState(), StatusIconState::success());
    }

    void publicAddress_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<std::optional<QString>>("domain");
        QTest::addColumn<std::optional<QString>>("value");
        QTest::addColumn<std::optional<QString>>("address");
        const std::optional<QString> none;
        const auto s = [](const char *t) { return std::optional<QString>(QString::fromUtf8(t)); };
        QTest::newRow("absent") << "https://pendrel.com" << s("blog.acme.test") << none << none;
        QTest::newRow("empty") << "https://pendrel.com" << none << s("") << none;
        QTest::newRow("path, domain without scheme")
            << "https://pendrel.com" << s("blog.acme.test") << s("/p/x") << s("https://blog.acme.test/p/x");
        QTest::newRow("path without domain")
            << "https://pendrel.com" << none << s("/p/x") << s("https://pendrel.com/p/x");
        QTest::newRow("path without slash")
            << "https://pendrel.com" << none << s("p/x") << s("https://pendrel.com/p/x");
        QTest::newRow("service address moves to domain")
            << "https://pendrel.com" << s("http://blog.acme.test") << s("https://pendrel.com/p/x")
            << s("http://blog.acme.test/p/x");
        QTest::newRow("other host stays") << "https://pendrel.com" << s("blog.acme.test")
                                          << s("https://cdn.test/p") << s("https://cdn.test/p");
        QTest::newRow("service address without domain stays")
            << "https://pendrel.com" << none << s("https://pendrel.com/p") << s("https://pendrel.com/p");
        QTest::newRow("base with trailing slash")
            << "http://127.0.0.1:8787/" << s("blog.acme.test") << s("http://127.0.0.1:8787/p")
            << s("https://blog.acme.test/p");
        QTest::newRow("host that only begins like the service's stays")
            << "https://pendrel.com" << s("blog.acme.test") << s("https://pendrel.community/x")
            << s("https://pendrel.community/x");
        QTest::newRow("service address with a query moves")
            << "https://pendrel.com" << s("blog.acme.test") << s("https://pendrel.com?p=1")
            << s("https://blog.acme.test?p=1");
        QTest::newRow("path against base with trailing slash")
            << "http://127.0.0.1:8787/" << none << s("/p") << s("http://127.0.0.1:8787/p");
    }
    void publicAddress()
    {
        QFETCH(QString, base);
        QFETCH(std::optional<QString>, domain);
        QFETCH(std::optional<QString>, value);
        QFETCH(std::optional<QString>, address);
        AppStateHarness h;
        qputenv("PENDREL_API_BASE_URL", base.toUtf8());
        AuthState auth;
        auth.customDomain = domain;
        h.state->setAuthState(auth);
        QCOMPARE(h.state->normalizePublicURL(value), address);
    }

    void openingAnAddressDismissesThePanelFirst()
    {
        AppStateHarness h;
        bool dismissed = false;
        h.state->onPanelDismissRequested = [&] {
            dismissed = true;
            QVERIFY(h.opener.opened.isEmpty());
        };
        h.state->openExternalURL(QUrl(QStringLiteral("https://blog.test/a")));
        QVERIFY(dismissed);
        QVERIFY(h.opener.opened.isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return !h.opener.opened.isEmpty(); }, 2000));
        QCOMPARE(h.opener.opened, QList<QUrl>{QUrl(QStringLiteral("https://blog.test/a"))});
    }

    // Back from an outage the service answers errors for a while: jobs go
    // on waiting, the state says it answered with an error (not that it
    // cannot be reached), each failed try doubles the pause up to the
    // longest, and the first good answer resumes the jobs.
    void serviceErrorsAfterAnOutage()
    {
        AppStateHarness h;
        AppState::setReconnectDelaysMs(100, 800);
        const auto restore = qScopeGuard([] { AppState::setReconnectDelaysMs(5000, 300000); });
        h.startSignedIn();
        const auto *timer = h.state->findChild<QTimer *>(QStringLiteral("reconnectTimer"));
        QVERIFY(timer);
        const auto tries = [&] { return h.service.requestsTo("GET", QStringLiteral("/api/tenants")).size(); };
        ScriptedAnswer lost;
        lost.dropConnection = true;
        h.service.answer("GET", QStringLiteral("/api/tenants"), lost);
        h.sendText(QStringLiteral("Text"));
        QVERIFY(QTest::qWaitFor([&] { return h.state->serviceUnreachable().has_value(); }, 10000));
        QVERIFY(!h.state->serviceAnswersWithError());
        QCOMPARE(timer->interval(), 100);

        h.service.answer("GET", QStringLiteral("/api/tenants"), ScriptedAnswer::json(503, "{}"));
        QList<int> pauses;
        for (qsizetype seen = tries(); pauses.size() < 4; seen = tries()) {
            QVERIFY(QTest::qWaitFor([&] { return tries() > seen && timer->isActive(); }, 5000));
            pauses << timer->interval();
        }
        QCOMPARE(pauses, (QList<int>{200, 400, 800, 800}));
        QVERIFY(h.state->serviceAnswersWithError());
        QCOMPARE(h.state->serviceUnreachable(), QStringLiteral("503 Service Unavailable"));
        QCOMPARE(h.state->jobHold(), AppState::JobHold::serviceError);
        const JobRecord waiting = h.state->jobs().first();
        QVERIFY(waiting.isWaiting() && !waiting.error && !waiting.processing);
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->statusIconState(), StatusIconState::idle()); // nothing works on it

        h.answerWorkspace();
        QVERIFY(QTest::qWaitFor([&] { return h.state->jobs().first().status == JobStatus::success; }, 5000));
        QVERIFY(!h.state->serviceUnreachable() && !h.state->serviceAnswersWithError());
    }

    // A job a quit left running, restored while the service does not
    // answer: nothing works on it, so it waits in line (its checkpoints
    // kept) and the icon does not animate for it.
    void restoredRunningJobWhileOffline()
    {
        AppStateHarness h;
        AppState::setReconnectDelaysMs(60000, 60000);
        const auto restore = qScopeGuard([] { AppState::setReconnectDelaysMs(5000, 300000); });
        JobRecord left =
            JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("x")), ClipperSettings::defaults());
        left.status = JobStatus::running;
        left.processing = true;
        left.step = JobStep::transform;
        left.metadata = ContentMetadata{{QStringLiteral("kept")}, {}, {}};
        PersistedState stored;
        stored.jobs = {left};
        h.writeStateFile(stored);
        h.storeSession();
        ScriptedAnswer lost;
        lost.dropConnection = true;
        h.service.answer("GET", QStringLiteral("/api/tenants"), lost);
        blockingWait(h.state->bootstrap());
        QVERIFY(QTest::qWaitFor([&] { return h.state->serviceUnreachable().has_value(); }, 10000));
        const JobRecord restored = h.state->jobs().first();
        QCOMPARE(restored.status, JobStatus::submitted);
        QVERIFY(!restored.processing && !restored.step);
        QCOMPARE(restored.metadata, left.metadata);
        QCOMPARE(h.state->processingCount(), 0);
        QCOMPARE(h.state->statusIconState(), StatusIconState::idle());
        QCOMPARE(h.state->jobHold(), AppState::JobHold::offline);
    }

    void forcedSignOut()
    {
        AppStateHarness h;
        h.startSignedIn();
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->authState().tenantID, QStringLiteral("t1"));
        QCOMPARE(h.state->authState().balanceCredits, qint64(500));
        QList<int> heights;
        h.state->onPreferredPanelSizeChange = [&](int, int height) { heights.append(height); };
        h.state->setIsBrowserAuthInProgress(true);
        h.state->setBrowserAuthStatusMessage(QStringLiteral("Waiting"));
        blockingWait(h.state->forceSignOut(QStringLiteral("Bye")));
        QCOMPARE(h.state->authState().status, AuthStatus::unauthenticated);
        QCOMPARE(h.state->authState().errorMessage, QStringLiteral("Bye"));
        QVERIFY(!h.state->authState().session && !h.state->authState().tenantID);
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Bye"));
        QVERIFY(!h.state->isBrowserAuthInProgress() && !h.state->browserAuthStatusMessage());
        QVERIFY(!blockingWait(h.state->authManager().keychainStore().loadSession()));
        QCOMPARE(heights, QList<int>{548});
        // A plain sign-out clears the old message.
        h.state->signOut();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->authErrorMessage(); }, 2000));
    }

    void contextRefresh()
    {
        AppStateHarness h;
        h.startSignedIn();
        const auto auxRequests = [&] {
            return h.service.requestsTo("GET", QStringLiteral("/api/internal-links/presets")).size();
        };
        QCOMPARE(auxRequests(), 1);
        QCOMPARE(h.state->auxData().language, QStringLiteral("en"));
        blockingWait(h.state->refreshAuthenticatedContext());
        QCOMPARE(auxRequests(), 1); // same language: not loaded again
        ClipperSettings settings = h.state->settings();
        settings.language = QStringLiteral("fr");
        h.state->setSettings(settings);
        blockingWait(h.state->refreshAuthenticatedContext());
        QCOMPARE(auxRequests(), 2);
        QCOMPARE(h.state->auxData().language, QStringLiteral("fr"));

        // A failing workspace fetch keeps the old data and only sets the message.
        settings.language = QStringLiteral("de");
        h.state->setSettings(settings);
        h.service.answer("GET", QStringLiteral("/api/ai-insights/favorites"),
                         ScriptedAnswer::json(500, q("{'error':'F'}")));
        blockingWait(h.state->refreshAuthenticatedContext());
        QCOMPARE(h.state->auxData().language, QStringLiteral("fr"));
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->authState().errorMessage, QStringLiteral("F")); // the request id only in the log

        // A server error leaves the session and marks the state.
        h.service.answer("GET", QStringLiteral("/api/tenants"),
                         ScriptedAnswer::json(503, q("{'error':'Down'}")));
        blockingWait(h.state->refreshAuthenticatedContext());
        QCOMPARE(h.state->authState().status, AuthStatus::error);
        QVERIFY(h.state->authState().session);
        QCOMPARE(h.state->authState().tenantID, QStringLiteral("t1"));

        // An empty tenant list counts as an expired session.
        h.service.answer("GET", QStringLiteral("/api/tenants"),
                         ScriptedAnswer::json(200, q("{'tenants':[]}")));
        blockingWait(h.state->refreshAuthenticatedContext());
        QCOMPARE(h.state->authState().status, AuthStatus::unauthenticated);
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Session expired. Please sign in again."));
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
