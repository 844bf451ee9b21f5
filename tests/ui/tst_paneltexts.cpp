#include "ui/PanelTexts.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include "AppStateHarness.h"

using namespace pendrel;
using namespace pendrel::test;
namespace T = pendrel::PanelTexts;

namespace {

JobRecord job(JobStatus status, std::optional<JobStep> step = std::nullopt,
              std::optional<QString> error = std::nullopt)
{
    JobRecord j =
        JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("x")), ClipperSettings::defaults());
    j.status = status;
    j.step = step;
    if (error)
        j.error = JobErrorInfo{*error, std::nullopt, QStringLiteral("ERROR")};
    return j;
}

JobSocialPublishResult result(JobSocialPublishStatus status)
{
    JobSocialPublishResult r;
    r.status = status;
    return r;
}

} // namespace

Q_DECLARE_METATYPE(pendrel::JobRecord)

class TestPanelTexts : public QObject {
    Q_OBJECT

private slots:
    void jobTexts_data()
    {
        QTest::addColumn<JobRecord>("record");
        QTest::addColumn<QString>("pill");
        QTest::addColumn<QString>("primary");
        QTest::addColumn<QString>("secondary"); // "-" for none
        QTest::newRow("queued") << job(JobStatus::submitted) << "Queued"
                                << "Ready in queue"
                                << "We\u2019ll start as soon as the current work finishes.";
        QTest::newRow("running, images") << job(JobStatus::running, JobStep::illustrations) << "Working"
                                         << "Generating images"
                                         << "The article is moving through the pipeline now.";
        QTest::newRow("running, voice-over") << job(JobStatus::running, JobStep::voiceover) << "Working"
                                             << "Queueing voice-over"
                                             << "The article is moving through the pipeline now.";
        QTest::newRow("running, no step") << job(JobStatus::running) << "Working"
                                          << "Processing article"
                                          << "The article is moving through the pipeline now.";
        QTest::newRow("success") << job(JobStatus::success, JobStep::done) << "Ready"
                                 << "Article ready"
                                 << "-";
        QTest::newRow("no session") << job(JobStatus::error, JobStep::error,
                                           QStringLiteral("No active session."))
                                    << "Issue"
                                    << "Sign in again"
                                    << "-";
        QTest::newRow("empty text, any case")
            << job(JobStatus::error, JobStep::transform, QStringLiteral("EMPTY SOURCE TEXT")) << "Issue"
            << "Nothing to process"
            << "Stopped during " + jobStepLabel(JobStep::transform).toLower() + ".";
        QTest::newRow("other error") << job(JobStatus::error, JobStep::save, QStringLiteral("Disk full"))
                                     << "Issue"
                                     << "Disk full"
                                     << "Stopped during " + jobStepLabel(JobStep::save).toLower() + ".";
        QTest::newRow("error without message") << job(JobStatus::error) << "Issue"
                                               << "Needs attention"
                                               << "-";
        QTest::newRow("aborted") << job(JobStatus::aborted, JobStep::aborted) << "Stopped"
                                 << "Processing stopped"
                                 << "You can retry when you're ready.";
    }
    void jobTexts()
    {
        QFETCH(JobRecord, record);
        QFETCH(QString, pill);
        QFETCH(QString, primary);
        QFETCH(QString, secondary);
        QCOMPARE(T::statusPill(record.status).title, pill);
        QCOMPARE(T::primaryMessage(record), primary);
        QCOMPARE(T::secondaryMessage(record).value_or(QStringLiteral("-")), secondary);
        // What a screen reader is told as the job gets there.
        QCOMPARE(T::jobAnnouncement(record), pill + QStringLiteral(": ") + primary);
    }

    void tones()
    {
        QCOMPARE(T::statusPill(JobStatus::error).tone, T::Tone::danger);
        QCOMPARE(T::toneText(T::Tone::success), QColor::fromRgbF(0.09f, 0.46f, 0.22f));
        QCOMPARE(T::toneBackground(T::Tone::info), QColor::fromRgbF(0.90f, 0.95f, 1.00f));
    }

    void crosspostSummary()
    {
        using S = JobSocialPublishStatus;
        JobRecord j = job(JobStatus::success);
        QVERIFY(!T::crosspostSummary(j));
        j.socialPublishes = {result(S::success), result(S::skipped), result(S::success)};
        QCOMPARE(T::crosspostSummary(j), QStringLiteral("Crossposting: Posted 2 \u00B7 Skipped 1"));
        j.socialPublishes = {result(S::error), result(S::running), result(S::pending)};
        QCOMPARE(T::crosspostSummary(j), QStringLiteral("Crossposting: Publishing 2 \u00B7 Issues 1"));
    }

    void preview()
    {
        QCOMPARE(T::previewHeadline(std::nullopt), QStringLiteral("Nothing captured yet"));
        ClipPayload address = ClipPayload::webAddress(QStringLiteral("https://a.test"));
        QCOMPARE(T::previewHeadline(address), QStringLiteral("URL"));
        QCOMPARE(
            T::previewBody(address),
            QStringLiteral("We\u2019re ready to extract the article and prepare it for transformation."));
        address.title.clear();
        QCOMPARE(T::previewHeadline(address), QStringLiteral("URL captured"));
        ClipPayload text = ClipPayload::clipboardText(QString(500, u'a'));
        QCOMPARE(T::previewBody(text), QString(220, u'a') + u'\u2026');
        text.text = QString(220, u'b');
        QCOMPARE(T::previewBody(text), QString(220, u'b'));
        text.text = QStringLiteral("   ");
        text.title.clear();
        QVERIFY(T::previewBody(text).startsWith(u"Capture clipboard text"));
        QCOMPARE(T::previewHeadline(text), QStringLiteral("Clipboard content"));
    }

    void headerAndSend()
    {
        AppStateHarness h;
        QCOMPARE(T::headerBadge(*h.state), (T::Badge{QStringLiteral("Secure auth"), false}));
        QCOMPARE(T::tenantName(*h.state), QStringLiteral("\u2014"));
        QCOMPARE(T::balance(*h.state), QStringLiteral("0 credits"));
        AuthState auth;
        auth.status = AuthStatus::authenticated;
        auth.tenantID = QStringLiteral("t1");
        auth.balanceCredits = 480;
        auth.session = UserSession{QStringLiteral("t"), QStringLiteral("r"), 4.0e9, QStringLiteral("u"), {}};
        h.state->setAuthState(auth);
        QCOMPARE(T::headerBadge(*h.state), (T::Badge{QStringLiteral("Ready"), false}));
        QCOMPARE(T::tenantName(*h.state), QStringLiteral("t1"));
        QCOMPARE(T::balance(*h.state), QStringLiteral("480 credits"));
        QCOMPARE(T::sendButtonTitle(*h.state), QStringLiteral("Send to Lumenflow"));
        QVERIFY(!T::queueLine(*h.state));
        h.state->setJobs({job(JobStatus::running, JobStep::analyze), job(JobStatus::submitted)});
        QCOMPARE(T::headerBadge(*h.state), (T::Badge{QStringLiteral("Writing"), true}));
        QCOMPARE(T::sendButtonTitle(*h.state), QStringLiteral("Add to queue"));
        QCOMPARE(T::queueLine(*h.state), QStringLiteral("Processing: 1 \u00B7 Queued: 1"));
        h.state->setIsSigningIn(true);
        QCOMPARE(T::headerBadge(*h.state).label, QStringLiteral("Signing in"));
        h.state->setIsBrowserAuthInProgress(true);
        h.state->setBrowserAuthStatusMessage(QStringLiteral("Continue with GitHub"));
        QCOMPARE(T::headerBadge(*h.state).label, QStringLiteral("Browser auth"));
        QCOMPARE(T::headerSubtitle(*h.state), QStringLiteral("Continue with GitHub"));
    }

    // A waiting job that nothing can work on says so, and why, on the
    // status card and in the header; a job that is not waiting keeps its
    // own words.
    void heldJobCards_data()
    {
        QTest::addColumn<QString>("hold");
        QTest::addColumn<QString>("primary");
        QTest::addColumn<QString>("secondary");
        QTest::addColumn<QString>("badge");
        QTest::addColumn<QString>("subtitle"); // how the header begins
        QTest::newRow("saving stopped") << "notSaving"
                                        << "Held: changes cannot be saved"
                                        << "It goes on once the state file can be written again."
                                        << "Not saving"
                                        << "Changes are not being saved";
        QTest::newRow("signed out") << "signedOut"
                                    << "Waiting for sign-in"
                                    << "It starts once you are signed in again."
                                    << "Secure auth"
                                    << "Capture";
        QTest::newRow("offline") << "offline"
                                 << "Waiting for Pendrel"
                                 << "It starts when the service can be reached again."
                                 << "Offline"
                                 << "Offline: Pendrel cannot be reached (no network).";
        QTest::newRow("service errors") << "serviceError"
                                        << "Waiting for Pendrel"
                                        << "It starts when the service works again."
                                        << "Service error"
                                        << "Pendrel answers with an error (503 Service Unavailable).";
        QTest::newRow("nothing held")
            << "none" << T::primaryMessage(job(JobStatus::running, JobStep::transform))
            << *T::secondaryMessage(job(JobStatus::running, JobStep::transform)) << "Writing"
            << "Capture";
    }
    void heldJobCards()
    {
        QFETCH(QString, hold);
        QFETCH(QString, primary);
        QFETCH(QString, secondary);
        QFETCH(QString, badge);
        QFETCH(QString, subtitle);
        AppStateHarness h;
        AppState::setReconnectDelaysMs(60000, 60000); // no retry meanwhile
        const auto restore = qScopeGuard([] { AppState::setReconnectDelaysMs(5000, 300000); });
        if (hold != u"signedOut") {
            AuthState auth;
            auth.status = AuthStatus::authenticated;
            auth.session =
                UserSession{QStringLiteral("t"), QStringLiteral("r"), 4.0e9, QStringLiteral("u"), {}};
            h.state->setAuthState(auth);
        }
        if (hold == u"notSaving") {
            // The state folder's place taken by a file: no save can work.
            QFile blocker(h.dir.filePath(QStringLiteral("data")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            QSignalSpy saved(h.state.get(), &AppState::stateSaveFinished);
            h.state->persist();
            QVERIFY(saved.wait(5000));
            QVERIFY(h.state->stateSaveError());
        } else if (hold == u"offline") {
            h.state->noteServiceUnreachable(QStringLiteral("no network"));
        } else if (hold == u"serviceError") {
            h.state->noteServiceAnsweredError(QStringLiteral("503 Service Unavailable"));
        }
        const JobRecord running = job(JobStatus::running, JobStep::transform);
        h.state->setJobs({running});
        const T::JobCard card = T::jobCard(*h.state, running);
        QCOMPARE(card.primary, primary);
        QCOMPARE(card.secondary, std::optional(secondary));
        QCOMPARE(card.pill.title, hold == u"none" ? QStringLiteral("Working") : QStringLiteral("Waiting"));
        QCOMPARE(T::headerBadge(*h.state).label, badge);
        QVERIFY2(T::headerSubtitle(*h.state).startsWith(subtitle), qPrintable(T::headerSubtitle(*h.state)));
        // A finished job keeps its own words whatever holds the queue.
        const JobRecord done = job(JobStatus::success, JobStep::done);
        QCOMPARE(T::jobCard(*h.state, done).primary, T::primaryMessage(done));
        QCOMPARE(T::jobCard(*h.state, done).pill, T::statusPill(JobStatus::success));
    }

    // Signed in from the stored session before the service has answered:
    // the workspace is not known yet, rather than "—" and no credits.
    void workspaceNotKnownYet()
    {
        AppStateHarness h;
        AuthState auth;
        auth.status = AuthStatus::authenticated;
        auth.session = UserSession{QStringLiteral("t"), QStringLiteral("r"), 4.0e9, QStringLiteral("u"), {}};
        h.state->setAuthState(auth);
        QCOMPARE(T::tenantName(*h.state), QStringLiteral("Not known yet"));
        QCOMPARE(T::balance(*h.state), QStringLiteral("Not known yet"));
        auth.tenantName = QStringLiteral("Acme");
        auth.balanceCredits = 0;
        h.state->setAuthState(auth);
        QCOMPARE(T::tenantName(*h.state), QStringLiteral("Acme"));
        QCOMPARE(T::balance(*h.state), QStringLiteral("0 credits"));
    }

    void recentRows()
    {
        QCOMPARE(T::recentJobSubtitle(job(JobStatus::running, JobStep::humanize)),
                 jobStepLabel(JobStep::humanize));
        QCOMPARE(T::recentJobSubtitle(job(JobStatus::error, JobStep::save, QStringLiteral("Disk full"))),
                 QStringLiteral("Disk full"));
        QVERIFY(!T::recentJobSubtitle(job(JobStatus::success, JobStep::done)));
    }

    // Abbreviated date and standard time (month name and seconds) in the
    // user's locale.
    // The GNOME setup's line names the chosen keys and every other binding
    // of them, and says to choose other keys while they are held.
    void shortcutSetupLines_data()
    {
        QTest::addColumn<bool>("added");
        QTest::addColumn<int>("others"); // how many of the two bindings below
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("line");
        QTest::newRow("offered") << false << 0 << "Super+Shift+S"
                                 << "Add Super+Shift+S to GNOME's keyboard shortcuts to capture from any app.";
        QTest::newRow("offered, chosen keys") << false << 0 << "Ctrl+Alt+P"
                                              << "Add Ctrl+Alt+P to GNOME's keyboard shortcuts to capture from any app.";
        QTest::newRow("held") << false << 1 << "Ctrl+Alt+P"
                              << "Ctrl+Alt+P is already \u201CFlameshot\u201D (your custom shortcuts). Choose other "
                                 "keys, or change that in Settings \u203A Keyboard first.";
        QTest::newRow("held twice")
            << false << 2 << "Super+Shift+S"
            << "Super+Shift+S is already \u201CFlameshot\u201D (your custom shortcuts) and \u201CTake a screenshot "
               "interactively\u201D (GNOME Shell). Choose other keys, or change that in Settings \u203A Keyboard first.";
        QTest::newRow("added") << true << 0 << "Super+F9"
                               << "Super+F9 captures from any app, through GNOME's keyboard shortcuts.";
        QTest::newRow("added, also held")
            << true << 1 << "Super+F9"
            << "Set up in GNOME's keyboard shortcuts, but Super+F9 is also \u201CFlameshot\u201D (your custom "
               "shortcuts). Choose other keys, or change that in Settings \u203A Keyboard.";
    }
    void shortcutSetupLines()
    {
        QFETCH(bool, added);
        QFETCH(int, others);
        QFETCH(QString, keys);
        QFETCH(QString, line);
        const QList<ShortcutBinding> all{{QStringLiteral("Flameshot"), QStringLiteral("your custom shortcuts")},
                                         {QStringLiteral("Take a screenshot interactively"), QStringLiteral("GNOME Shell")}};
        QCOMPARE(PanelTexts::shortcutSetupLine(added, all.mid(0, others), *ShortcutKeys::fromText(keys)), line);
    }

    void logLines_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("line");
        QTest::newRow("English (US)") << "en_US" << QStringLiteral("Dec 7, 2026 5:17:04 PM \u00B7 Hi");
        QTest::newRow("German") << "de_DE" << QStringLiteral("7. Dez. 2026 17:17:04 \u00B7 Hi");
        QTest::newRow("French") << "fr_FR" << QStringLiteral("7 d\u00E9c. 2026 17:17:04 \u00B7 Hi");
    }
    void logLines()
    {
        QFETCH(QString, locale);
        QFETCH(QString, line);
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "UTC");
        QLocale::setDefault(QLocale(locale));
        const JobLogEntry entry{QUuid::createUuid(), QDateTime(QDate(2026, 12, 7), QTime(17, 17, 4), Qt::UTC),
                                LogLevel::warn, QStringLiteral("Hi")};
        const QString got = T::logLine(entry);
        QLocale::setDefault(QLocale::c());
        if (zone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        QCOMPARE(got, line);
    }

    void titlesAndAddresses()
    {
        JobRecord j = job(JobStatus::success, JobStep::done);
        QCOMPARE(T::resultTitle(j), QStringLiteral("Article ready"));
        j.result = JobResult{QStringLiteral("a1"), std::nullopt, QStringLiteral("From the service")};
        QCOMPARE(T::resultTitle(j), QStringLiteral("From the service"));
        j.title = QStringLiteral("Our own");
        QCOMPARE(T::resultTitle(j), QStringLiteral("Our own"));
        QVERIFY(!T::articleAddress(j));
        j.savedURL = QStringLiteral("https://blog.test/saved");
        QCOMPARE(T::articleAddress(j), QStringLiteral("https://blog.test/saved"));
        j.result->url = QStringLiteral("https://blog.test/result");
        QCOMPARE(T::articleAddress(j), QStringLiteral("https://blog.test/result"));
        const JobRecord untitled = job(JobStatus::submitted);
        QCOMPARE(T::jobRowTitle(untitled), T::previewHeadline(untitled.clip));

        // Dashboard pages sit under the configured origin, keeping its path.
        for (const auto &[base, expected] :
             {std::pair{"http://127.0.0.1:8080", "http://127.0.0.1:8080/dashboard/billing"},
              std::pair{"https://pendrel.test/app/", "https://pendrel.test/app/dashboard/billing"}}) {
            qputenv("PENDREL_API_BASE_URL", base);
            QCOMPARE(T::dashboardURL(u"dashboard/billing").toString(), QString::fromLatin1(expected));
        }
        qunsetenv("PENDREL_API_BASE_URL");

        CostBreakdown cost;
        cost.items = {{QStringLiteral("article"), QStringLiteral("Article"), 7},
                      {QStringLiteral("images"), QStringLiteral("Images"), 9}};
        QCOMPARE(T::costBreakdownLine(cost), QStringLiteral("Article +7 \u00B7 Images +9"));
        QCOMPARE(T::credits(0), QStringLiteral("0 credits"));
        QCOMPARE(T::languageSummary(QStringLiteral("xx")), QStringLiteral("\U0001F310 XX"));
        QCOMPARE(clipTypeLabel(ClipType::tweet), QStringLiteral("Tweet"));
    }
};

QTEST_GUILESS_MAIN(TestPanelTexts)
#include "tst_paneltexts.moc"
