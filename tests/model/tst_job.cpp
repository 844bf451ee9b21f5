#include "model/Job.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <future>

#include "JsonTestUtil.h"

using namespace pendrel;
using namespace pendrel::test;
using L = QLatin1StringView;

namespace {

JobRecord newJob()
{
    return JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("Some text")),
                            ClipperSettings::defaults());
}

// A record with every optional field present.
JobRecord fullJob()
{
    JobRecord job = newJob();
    const QDateTime t(QDate(2026, 5, 6), QTime(7, 8, 9), Qt::UTC);
    job.createdAt = t;
    job.updatedAt = t.addSecs(30);
    job.clip.createdAt = t;
    job.status = JobStatus::success;
    job.step = JobStep::done;
    job.appendLog(LogLevel::warn, QStringLiteral("Job started"), t);
    job.result =
        JobResult{QStringLiteral("a-1"), QStringLiteral("https://x.test/blog/a"), QStringLiteral("T")};
    job.error = JobErrorInfo{QStringLiteral("Payment required"), 402, QStringLiteral("INSUFFICIENT_CREDITS")};
    job.notifiedSuccess = true;
    job.sourceText = QStringLiteral("source");
    job.sourceURL = QStringLiteral("https://x.test/src");
    job.metadata = ContentMetadata{{QStringLiteral("tech")}, {QStringLiteral("adult")}, {}};
    job.transformResult = TransformResult{QStringLiteral("# T"),
                                          {QStringLiteral("c")},
                                          87.5,
                                          {},
                                          std::nullopt,
                                          {{QStringLiteral("description"), QStringLiteral("d")}}};
    job.contentAfterIllustrations = QStringLiteral("# T ![](i)");
    job.illustrationsMetadata =
        IllustrationMetadata{{IllustrationAsset{QUuid::createUuid(), QStringLiteral("i")}},
                             QStringLiteral("g-1"),
                             t,
                             QStringLiteral("photo"),
                             std::nullopt};
    job.contentAfterHumanize = QStringLiteral("# T human");
    job.articleID = QStringLiteral("a-1");
    job.savedURL = QStringLiteral("https://x.test/blog/a");
    job.finalContent = QStringLiteral("final");
    job.title = QStringLiteral("T");
    job.voiceoverQueued = true;
    job.socialPublishes = {JobSocialPublishResult{SocialCrosspostPlatform::reddit, QStringLiteral("r1"),
                                                  QStringLiteral("me"), SocialCrosspostMode::direct,
                                                  JobSocialPublishStatus::success, std::nullopt,
                                                  QStringLiteral("p1"), std::nullopt}};
    return job;
}

const QStringList kOptionalKeys{"step",
                                "result",
                                "error",
                                "sourceText",
                                "sourceURL",
                                "metadata",
                                "transformResult",
                                "contentAfterIllustrations",
                                "illustrationsMetadata",
                                "contentAfterHumanize",
                                "articleID",
                                "savedURL",
                                "finalContent",
                                "title"};

} // namespace

class TestJob : public QObject {
    Q_OBJECT

private slots:
    void draftedRecord()
    {
        const ClipPayload clip = ClipPayload::clipboardText(QStringLiteral("x"));
        ClipperSettings settings;
        settings.articleSize = ArticleSize::full;
        const JobRecord job = JobRecord::draft(clip, settings);
        QVERIFY(!job.id.isNull());
        QCOMPARE(job.status, JobStatus::submitted);
        QCOMPARE(job.createdAt, job.updatedAt);
        QCOMPARE(job.clip, clip);
        QCOMPARE(job.settingsSnapshot, settings);
        QVERIFY(job.isWaiting());
        QVERIFY(JobRecord::draft(clip, settings).id != job.id);
    }

    void newRecordEncoding()
    {
        const QJsonObject o = newJob().toJson(JsonDates::iso8601());
        for (const QString &key : kOptionalKeys)
            QVERIFY2(!o.contains(key), qPrintable(key));
        for (const char *key : {"notifiedSubmitted", "notifiedSuccess", "voiceoverQueued", "voiceoverFailed",
                                "aborted", "acknowledged", "processing"}) {
            QVERIFY2(o.value(L(key)).isBool() && !o.value(L(key)).toBool(), key);
        }
        QCOMPARE(o.value(L("logs")), QJsonValue(QJsonArray()));
        QCOMPARE(o.value(L("socialPublishes")), QJsonValue(QJsonArray()));
        QCOMPARE(o.value(L("status")).toString(), QStringLiteral("submitted"));
        QCOMPARE(o.size(), 15);
    }

    void roundTripThroughStateFile_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("new") << false;
        QTest::newRow("every field") << true;
    }
    void roundTripThroughStateFile()
    {
        QFETCH(bool, full);
        JobRecord job = full ? fullJob() : newJob();
        // The state file keeps whole seconds only.
        const QDateTime withFraction = QDateTime(QDate(2026, 1, 1), QTime(10, 0, 0, 750), Qt::UTC);
        job.createdAt = withFraction;
        JobRecord expected = job;
        expected.createdAt = withFraction.addMSecs(-750);
        expected.updatedAt = QDateTime::fromSecsSinceEpoch(job.updatedAt.toSecsSinceEpoch(), Qt::UTC);
        expected.clip.createdAt =
            QDateTime::fromSecsSinceEpoch(job.clip.createdAt.toSecsSinceEpoch(), Qt::UTC);
        QCOMPARE(throughStateFile(job), expected);
    }

    void absentStepDecodes_data()
    {
        QTest::addColumn<QJsonValue>("step");
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("null") << QJsonValue(QJsonValue::Null);
    }
    void absentStepDecodes()
    {
        QFETCH(QJsonValue, step);
        const auto dates = JsonDates::iso8601();
        QJsonObject o = fullJob().toJson(dates);
        if (step.isUndefined())
            o.remove(L("step"));
        else
            o.insert(L("step"), step);
        QCOMPARE(JobRecord::fromJson(o, dates).step, std::nullopt);
    }

    void requiredKeys_data()
    {
        QTest::addColumn<QString>("key");
        const QJsonObject o = newJob().toJson(JsonDates::iso8601());
        for (const QString &key : o.keys())
            QTest::newRow(qPrintable(key)) << key;
    }
    void requiredKeys()
    {
        QFETCH(QString, key);
        const auto dates = JsonDates::iso8601();
        QJsonObject o = newJob().toJson(dates);
        o.remove(key);
        QCOMPARE(decodingFailure([&] { JobRecord::fromJson(o, dates); }), key + QStringLiteral(": missing"));
    }

    void strictValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QString>("error");
        QTest::newRow("status queued")
            << "status" << QJsonValue(QStringLiteral("queued")) << "status: unknown value \"queued\"";
        QTest::newRow("step unknown")
            << "step" << QJsonValue(QStringLiteral("publish")) << "step: unknown value \"publish\"";
        QTest::newRow("processing as number")
            << "processing" << QJsonValue(0) << "processing: expected a boolean, found a number";
        QTest::newRow("logs with a bad level")
            << "logs"
            << QJsonValue(
                   QJsonArray{QJsonObject{{L("id"), QStringLiteral("3F2504E0-4F89-11D3-9A0C-0305E82C3301")},
                                          {L("timestamp"), QStringLiteral("2026-01-01T00:00:00Z")},
                                          {L("level"), QStringLiteral("debug")},
                                          {L("message"), QStringLiteral("m")}}})
            << "logs[0].level: unknown value \"debug\"";
        QTest::newRow("nested settings")
            << "settingsSnapshot" << QJsonValue(QJsonObject{{L("language"), QStringLiteral("en")}})
            << "settingsSnapshot.articleSize: missing";
        QTest::newRow("social status")
            << "socialPublishes"
            << QJsonValue(QJsonArray{QJsonObject{{L("platform"), QStringLiteral("reddit")},
                                                 {L("accountId"), QStringLiteral("1")},
                                                 {L("accountName"), QStringLiteral("n")},
                                                 {L("mode"), QStringLiteral("adapt")},
                                                 {L("status"), QStringLiteral("done")}}})
            << "socialPublishes[0].status: unknown value \"done\"";
        QTest::newRow("date with fraction")
            << "createdAt" << QJsonValue(QStringLiteral("2026-01-01T00:00:00.5Z"))
            << "createdAt: invalid date \"2026-01-01T00:00:00.5Z\"";
        QTest::newRow("error status not whole")
            << "error" << QJsonValue(QJsonObject{{L("message"), QStringLiteral("m")}, {L("status"), 401.5}})
            << "error.status: expected an integer, found 401.5";
    }
    void strictValues()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(QString, error);
        const auto dates = JsonDates::iso8601();
        QJsonObject o = newJob().toJson(dates);
        o.insert(key, value);
        QCOMPARE(decodingFailure([&] { JobRecord::fromJson(o, dates); }), error);
    }

    void unknownKeysAreIgnored()
    {
        const auto dates = JsonDates::iso8601();
        const JobRecord job = fullJob();
        QJsonObject o = job.toJson(dates);
        o.insert(L("futureField"), QJsonObject{{L("x"), 1}});
        QCOMPARE(JobRecord::fromJson(o, dates), job);
    }

    void errorInfoEncoding_data()
    {
        QTest::addColumn<JobErrorInfo>("info");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("message only")
            << JobErrorInfo{QStringLiteral("m"), std::nullopt, std::nullopt} << QStringList{"message"};
        QTest::newRow("aborted") << JobErrorInfo{QStringLiteral("Job aborted"), std::nullopt,
                                                 QStringLiteral("ABORTED")}
                                 << QStringList{"code", "message"};
        QTest::newRow("http") << JobErrorInfo{QStringLiteral("m"), 401, QStringLiteral("UNAUTHENTICATED")}
                              << QStringList{"code", "message", "status"};
    }
    void errorInfoEncoding()
    {
        QFETCH(JobErrorInfo, info);
        QFETCH(QStringList, keys);
        const QJsonObject o = info.toJson(JsonDates::iso8601());
        QCOMPARE(o.keys(), keys);
        QCOMPARE(throughStateFile(info), info);
    }

    void transformResultKeys()
    {
        const auto dates = JsonDates::iso8601();
        const QJsonObject noScores =
            json::parseDocument(q("{'transformedContent':'c','citations':[],'talentIntegrations':[],"
                                  "'seoMeta':{'title':'t'}}"))
                .toObject();
        const TransformResult r = TransformResult::fromJson(noScores, dates);
        QCOMPARE(r.qualityScore, std::nullopt);
        QCOMPARE(r.seoScore, std::nullopt);
        QCOMPARE(r.seoMeta.value(QStringLiteral("title")), QStringLiteral("t"));

        QJsonObject noMeta = noScores;
        noMeta.remove(L("seoMeta"));
        QCOMPARE(decodingFailure([&] { TransformResult::fromJson(noMeta, dates); }),
                 QStringLiteral("seoMeta: missing"));
        QJsonObject badMeta = noScores;
        badMeta.insert(L("seoMeta"), QJsonObject{{L("score"), 3}});
        QCOMPARE(decodingFailure([&] { TransformResult::fromJson(badMeta, dates); }),
                 QStringLiteral("seoMeta.score: expected a string, found a number"));
    }

    void logIsBounded()
    {
        JobRecord job = newJob();
        const QDateTime t = QDateTime::currentDateTimeUtc();
        for (int i = 1; i <= 200; ++i)
            job.appendLog(LogLevel::info, QString::number(i), t);
        QCOMPARE(job.logs.size(), 200);
        QCOMPARE(job.logs.first().message, QStringLiteral("1"));
        job.appendLog(LogLevel::error, QStringLiteral("201"), t);
        QCOMPARE(job.logs.size(), 200);
        QCOMPARE(job.logs.first().message, QStringLiteral("2"));
        QCOMPARE(job.logs.last().message, QStringLiteral("201"));
        QCOMPARE(job.logs.last().level, LogLevel::error);
        QVERIFY(job.logs.last().id != job.logs.at(198).id);
    }

    // Log lines left in bytes still being read (a start from the state
    // file's index): read once the bytes are in, none where they never came
    // right; copies share them and compare equal without waiting for them,
    // and a copy that gains a line keeps it to itself.
    void borrowedLogLines_data()
    {
        QTest::addColumn<bool>("good");
        QTest::newRow("bytes read") << true;
        QTest::newRow("file changed meanwhile") << false;
    }
    void borrowedLogLines()
    {
        QFETCH(bool, good);
        JobRecord job = newJob();
        const QDateTime t = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
        job.appendLog(LogLevel::info, QStringLiteral("one"), t);
        job.appendLog(LogLevel::warn, QStringLiteral("two"), t);
        const QList<JobLogEntry> lines = job.logs.lines();
        const auto bytes = std::make_shared<QByteArray>(
            QJsonDocument(job.toJson(JsonDates::iso8601())[L("logs")].toArray()).toJson());
        const auto gate = std::make_shared<JobTextGate>();
        const JobLogs borrowed = JobLogs::borrowed(bytes, *bytes, gate);
        JobLogs copy = borrowed;
        auto same = std::async(std::launch::async, [&] { return copy == borrowed; });
        const bool answered = same.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        gate->open(good);
        QVERIFY2(answered, "comparing two copies waited for the bytes");
        QVERIFY(same.get());
        QCOMPARE(borrowed.lines(), good ? lines : QList<JobLogEntry>());
        copy.append(JobLogEntry{QUuid::createUuid(), t, LogLevel::info, QStringLiteral("three")});
        QCOMPARE(copy.size(), borrowed.size() + 1);
        QCOMPARE(copy.last().message, QStringLiteral("three"));
        QVERIFY(!(copy == borrowed));
    }

    void waitingJobs_data()
    {
        QTest::addColumn<JobStatus>("status");
        QTest::addColumn<bool>("aborted");
        QTest::addColumn<bool>("waiting");
        QTest::newRow("submitted") << JobStatus::submitted << false << true;
        QTest::newRow("running") << JobStatus::running << false << true;
        QTest::newRow("running, abort asked") << JobStatus::running << true << false;
        QTest::newRow("success") << JobStatus::success << false << false;
        QTest::newRow("error") << JobStatus::error << false << false;
        QTest::newRow("aborted") << JobStatus::aborted << true << false;
    }
    void waitingJobs()
    {
        QFETCH(JobStatus, status);
        QFETCH(bool, aborted);
        QFETCH(bool, waiting);
        JobRecord job = newJob();
        job.status = status;
        job.aborted = aborted;
        QCOMPARE(job.isWaiting(), waiting);
    }

    void stepLabels()
    {
        QStringList labels;
        QStringList strings;
        for (const JobStep step : enumCases<JobStep>()) {
            labels << jobStepLabel(step);
            strings << enumString(step);
        }
        QCOMPARE(labels,
                 (QStringList{"Preparing", "Extracting", "Analyzing", "Transforming", "Generating images",
                              "Humanizing", "Saving", "Queueing voice-over", "Done", "Error", "Aborted"}));
        QCOMPARE(strings, (QStringList{"prepare", "extract", "analyze", "transform", "illustrations",
                                       "humanize", "save", "voiceover", "done", "error", "aborted"}));
    }

    void statusIconStateEquality()
    {
        QCOMPARE(StatusIconState::processing(2), StatusIconState::processing(2));
        QVERIFY(!(StatusIconState::processing(2) == StatusIconState::processing(3)));
        QVERIFY(!(StatusIconState::idle() == StatusIconState::success()));
        QCOMPARE(StatusIconState::error().kind(), StatusIconState::Kind::error);
    }
};

QTEST_GUILESS_MAIN(TestJob)
#include "tst_job.moc"
