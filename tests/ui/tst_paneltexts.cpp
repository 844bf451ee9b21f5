#include "ui/PanelTexts.h"

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
