#include "shell/NotificationService.h"
#include "support/Tasks.h"
#include "support/Uuid.h"

#include <QTest>

#include "AppStateHarness.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

JobRecord job()
{
    return JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("x")), ClipperSettings::defaults());
}

} // namespace

Q_DECLARE_METATYPE(pendrel::JobRecord)

class TestNotificationService : public QObject {
    Q_OBJECT

private slots:
    void content_data()
    {
        QTest::addColumn<JobRecord>("record");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QVariantMap>("userInfo");
        JobRecord noResult = job();
        QTest::newRow("ready without result") << noResult << true << "Article ready"
                                              << "Your article is ready. Click to open." << QVariantMap{};
        JobRecord noAddress = job();
        noAddress.result = JobResult{QStringLiteral("a"), std::nullopt, QStringLiteral("Title")};
        QTest::newRow("ready without address") << noAddress << true << "Title"
                                               << "Your article is ready. Click to open." << QVariantMap{};
        JobRecord full = job();
        full.result =
            JobResult{QStringLiteral("a"), QStringLiteral("https://blog.test/a"), QStringLiteral("Title")};
        QTest::newRow("ready") << full << true << "Title"
                               << "Your article is ready. Click to open."
                               << QVariantMap{
                                      {QStringLiteral("open_url"), QStringLiteral("https://blog.test/a")}};
        JobRecord failed = job();
        failed.error =
            JobErrorInfo{QStringLiteral("Not enough credits"), 402, QStringLiteral("INSUFFICIENT_CREDITS")};
        QTest::newRow("failed") << failed << false << "Article failed"
                                << "Not enough credits" << QVariantMap{{QStringLiteral("open_panel"), true}};
        QTest::newRow("failed without error record") << job() << false << "Article failed"
                                                     << "Open Pendrel Clipper to inspect the failure."
                                                     << QVariantMap{{QStringLiteral("open_panel"), true}};
    }
    void content()
    {
        QFETCH(JobRecord, record);
        QFETCH(bool, success);
        QFETCH(QString, title);
        QFETCH(QString, body);
        QFETCH(QVariantMap, userInfo);
        const NotificationRequest r = success ? NotificationService::successRequest(record)
                                              : NotificationService::failureRequest(record);
        QCOMPARE(r.title, title);
        QCOMPARE(r.body, body);
        QCOMPARE(r.userInfo, userInfo);
        QCOMPARE(r.identifier, (success ? QStringLiteral("pendrel.article.ready.")
                                        : QStringLiteral("pendrel.article.failed."))
                                   + uuidString(record.id));
    }

    void clicks_data()
    {
        QTest::addColumn<QVariantMap>("userInfo");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("article") << QVariantMap{{QStringLiteral("open_url"),
                                                 QStringLiteral("https://blog.test/a")}}
                                 << "open https://blog.test/a";
        QTest::newRow("panel") << QVariantMap{{QStringLiteral("open_panel"), true}} << "panel";
        QTest::newRow("unparsable address: nothing, not the panel")
            << QVariantMap{{QStringLiteral("open_url"), QStringLiteral("http://exa mple")},
                           {QStringLiteral("open_panel"), true}}
            << "nothing";
        QTest::newRow("address not text, panel")
            << QVariantMap{{QStringLiteral("open_url"), 5}, {QStringLiteral("open_panel"), true}} << "panel";
        QTest::newRow("address not text") << QVariantMap{{QStringLiteral("open_url"), 5}} << "nothing";
        QTest::newRow("no data") << QVariantMap{} << "nothing";
    }
    void clicks()
    {
        QFETCH(QVariantMap, userInfo);
        QFETCH(QString, outcome);
        QString got = QStringLiteral("nothing");
        NotificationService::handleClick(
            userInfo, [&](const QUrl &url) { got = QStringLiteral("open ") + url.toString(); },
            [&] { got = QStringLiteral("panel"); });
        QCOMPARE(got, outcome);
    }

    // Permission once per process, even for notifications posted together.
    void permissionAskedOnce()
    {
        RecordingNotifications backend;
        NotificationService service(backend);
        const JobRecord a = job();
        const JobRecord b = job();
        QCoro::Task<void> first = service.notifySuccess(a);
        QCoro::Task<void> second = service.notifyFailure(b);
        blockingWait(std::move(first));
        blockingWait(std::move(second));
        blockingWait(service.notifySuccess(a));
        QCOMPARE(backend.authorizationRequests, 1);
        QCOMPARE(backend.posted.size(), 3);
        QVERIFY(backend.posted[0].identifier != backend.posted[1].identifier);
        QCOMPARE(backend.posted[2].identifier, backend.posted[0].identifier); // same job, same kind, same id
        QVERIFY(NotificationService::successRequest(a).identifier
                != NotificationService::successRequest(b).identifier);
    }

    // A queue of jobs failing together shows one notification with their
    // count; a failure after a quiet while starts a new one.
    void failuresTogetherShareOneNotification()
    {
        RecordingNotifications backend;
        NotificationService service(backend);
        QList<JobRecord> failed;
        for (int i = 0; i < 3; ++i) {
            JobRecord j = job();
            j.status = JobStatus::error;
            j.error = JobErrorInfo{QStringLiteral("Not enough credits %1").arg(i), 402,
                                   QStringLiteral("INSUFFICIENT_CREDITS")};
            failed << j;
            blockingWait(service.notifyFailure(j));
        }
        blockingWait(service.notifySuccess(job()));
        QCOMPARE(backend.posted.size(), 4);
        const QString group = NotificationService::failureRequest(failed[0]).identifier;
        QStringList titles;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(backend.posted[i].identifier, group);
            QCOMPARE(backend.posted[i].userInfo.value(QStringLiteral("open_panel")), QVariant(true));
            titles << backend.posted[i].title;
        }
        QCOMPARE(titles, (QStringList{"Article failed", "2 articles failed", "3 articles failed"}));
        QCOMPARE(backend.posted[2].body, QStringLiteral("Not enough credits 2"));
        QCOMPARE(backend.posted[3].title, QStringLiteral("Article ready"));

        service.failureGroupWindowMs = 0;
        QTest::qWait(5);
        blockingWait(service.notifyFailure(failed[1]));
        QCOMPARE(backend.posted.last().identifier, NotificationService::failureRequest(failed[1]).identifier);
        QCOMPARE(backend.posted.last().title, QStringLiteral("Article failed"));
    }
};

QTEST_GUILESS_MAIN(TestNotificationService)
#include "tst_notificationservice.moc"
