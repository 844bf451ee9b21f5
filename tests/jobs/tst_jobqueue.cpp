#include "jobs/JobQueue.h"
#include "jobs/PipelineText.h"
#include "state/AppState.h"
#include "support/Uuid.h"

#include <QScopeGuard>
#include <QTest>

#include <sys/mount.h>

#include "AppStateHarness.h"
#include "ServicePaths.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

QJsonValue parsed(const QByteArray &json)
{
    return json::parseDocument(json);
}

// A job as it was left in the state file.
JobRecord storedJob(const QString &text, const QDateTime &createdAt)
{
    JobRecord job = JobRecord::draft(ClipPayload::clipboardText(text), ClipperSettings::defaults());
    job.createdAt = createdAt;
    job.updatedAt = createdAt;
    return job;
}

// A job that a quit left in the middle of `step`.
JobRecord leftRunning(JobStep step, bool aborted = false)
{
    JobRecord job = storedJob(QStringLiteral("x"), QDateTime::currentDateTimeUtc());
    job.status = JobStatus::running;
    job.processing = true;
    job.step = step;
    job.aborted = aborted;
    return job;
}

// A lambda's captures do not outlive its first suspension; arguments do.
QCoro::Task<void> bootstrapThen(AppState *state, bool *done)
{
    co_await state->bootstrap();
    *done = true;
}

} // namespace

class TestJobQueue : public QObject {
    Q_OBJECT

private slots:
    void mergeSourcePrefix_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("merged");
        QTest::newRow("word only") << "Word"
                                   << ""
                                   << ""
                                   << "Word";
        QTest::newRow("address") << "Body"
                                 << "https://a.test/x"
                                 << ""
                                 << "Source: https://a.test/x\n\nBody";
        QTest::newRow("address and author") << "Body"
                                            << "https://a.test"
                                            << "Ada"
                                            << "Source: https://a.test\nAuthor: Ada\n\nBody";
        QTest::newRow("author only, untrimmed") << "Body"
                                                << ""
                                                << " Ada "
                                                << "Author:  Ada \n\nBody";
    }
    void mergeSourcePrefix()
    {
        QFETCH(QString, text);
        QFETCH(QString, url);
        QFETCH(QString, author);
        QFETCH(QString, merged);
        QCOMPARE(pendrel::mergeSourcePrefix(text, url, author), merged);
    }

    void extractTitle_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("title");
        QTest::newRow("heading after blank lines") << "\n\n   \n# Two words\nBody"
                                                   << "Two words";
        QTest::newRow("hashes only") << "### \nLater text"
                                     << "";
        QTest::newRow("no text") << " \n\t\n"
                                 << "Untitled";
        QTest::newRow("empty") << ""
                               << "Untitled";
        QTest::newRow("plain first line") << "  Plain line  \nmore"
                                          << "Plain line";
        QTest::newRow("long line") << QString(150, u'x') << QString(100, u'x');
        QTest::newRow("long heading") << u"## "_qs + QString(120, u'y') << QString(100, u'y');
        QTest::newRow("crlf does not end a line") << "# A\r\nB\nC"
                                                  << "A\r\nB";
        QTest::newRow("hash without space") << "#Title"
                                            << "Title";
        QTest::newRow("graphemes") << QString(99, u'a') + QStringLiteral("e\u0301z")
                                   << QString(99, u'a') + QStringLiteral("e\u0301");
    }
    void extractTitle()
    {
        QFETCH(QString, content);
        QFETCH(QString, title);
        QCOMPARE(pendrel::extractTitle(content), title);
    }

    void shouldNotifyFailure_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("processing");
        QTest::addColumn<bool>("notify");
        const int error = int(JobStatus::error);
        QTest::newRow("error, idle") << error << "ERROR" << false << true;
        QTest::newRow("error, still processing") << error << "ERROR" << true << false;
        QTest::newRow("credits while processing") << error << "INSUFFICIENT_CREDITS" << true << true;
        QTest::newRow("unauthenticated") << error << "UNAUTHENTICATED" << true << true;
        QTest::newRow("empty text") << error << "EMPTY_TEXT" << true << true;
        QTest::newRow("empty transform") << error << "EMPTY_TRANSFORM" << true << true;
        QTest::newRow("lower-case code") << error << "empty_text" << true << false;
        QTest::newRow("no code") << error << "" << false << true;
        QTest::newRow("aborted") << int(JobStatus::aborted) << "ABORTED" << false << false;
        QTest::newRow("success") << int(JobStatus::success) << "" << false << false;
    }
    void shouldNotifyFailure()
    {
        QFETCH(int, status);
        QFETCH(QString, code);
        QFETCH(bool, processing);
        QFETCH(bool, notify);
        JobRecord job = storedJob(QStringLiteral("x"), QDateTime::currentDateTimeUtc());
        job.status = JobStatus(status);
        job.processing = processing;
        if (!code.isEmpty())
            job.error = JobErrorInfo{QStringLiteral("m"), 400, code};
        QCOMPARE(JobQueue::shouldNotifyFailure(job), notify);
    }

    // A text clip all the way to a saved article, with the state file
    // following every stage.
    void fullRun()
    {
        AppStateHarness h;
        h.startSignedIn();
        ClipperSettings settings = h.state->settings();
        settings.authorName = QStringLiteral("Ada Lovelace");
        settings.autoSend = true;
        h.state->setSettings(settings);

        // What the file held when each stage's request went out.
        QHash<QString, JobRecord> onDisk;
        h.service.onRequest = [&](const RecordedRequest &r) {
            const PersistedState file = h.stateFile();
            if (!file.jobs.isEmpty())
                onDisk.insert(r.path, file.jobs.first());
        };
        h.clipboard.text = QStringLiteral("  A note about fast builds.  ");
        h.state->captureClipboard();
        QVERIFY(!h.state->pendingClip());
        QVERIFY(h.waitUntilIdle());

        const JobRecord job = h.state->jobs().first();
        QCOMPARE(job.status, JobStatus::success);
        QCOMPARE(job.step, JobStep::done);
        QVERIFY(!job.processing);
        QCOMPARE(AppStateHarness::logMessages(job),
                 (QStringList{QStringLiteral("Job created"), QStringLiteral("Job started"),
                              QStringLiteral("Analyzing content"), QStringLiteral("Transforming content"),
                              QStringLiteral("Saving article"), QStringLiteral("Job complete")}));
        QCOMPARE(job.title, QStringLiteral("Fast Builds"));
        QCOMPARE(job.articleID, QStringLiteral("art-1"));
        QCOMPARE(job.savedURL, QStringLiteral("https://blog.acme.test/blog/fast-builds"));
        QCOMPARE(job.result, (JobResult{QStringLiteral("art-1"),
                                        QStringLiteral("https://blog.acme.test/blog/fast-builds"),
                                        QStringLiteral("Fast Builds")}));
        QCOMPARE(job.finalContent, QStringLiteral("# Fast Builds\n\nBody"));
        QVERIFY(!job.voiceoverQueued && !job.voiceoverFailed);

        // The analysis got the trimmed text; nothing was extracted.
        const RecordedRequest analyze = h.service.requestsTo("POST", paths::analyze).first();
        QCOMPARE(analyze.json.toObject().value(QStringLiteral("originalText")).toString(),
                 QStringLiteral("A note about fast builds."));
        QCOMPARE(analyze.json.toObject().value(QStringLiteral("tenantId")).toString(), QStringLiteral("t1"));
        QVERIFY(h.service.requestsTo("POST", paths::extract).isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::illustrations).isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::humanize).isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::voiceover).isEmpty());

        const RecordedRequest save = h.service.requestsTo("POST", paths::save).first();
        QVERIFY(!save.hasHeader("X-Tenant-ID"));
        QCOMPARE(
            save.json,
            parsed(
                QByteArray(
                    "{\"content\":\"# Fast Builds\\n\\nBody\",\"title\":\"Fast Builds\",\"language\":\"en\","
                    "\"articleId\":\"")
                + uuidString(job.id).toUtf8()
                + q("','tenantId':'t1','metadata':{'categories':['tech'],'age':['adult'],'interests':['tech']"
                    ","
                    "'problems':['time'],'qualityScore':87,'talentIntegrations':[],'seoScore':null,"
                    "'seoMeta':{},'sources':['https://src.test'],'illustrations':null,'authorId':null,"
                    "'author':'Ada Lovelace'}}")));

        // The file followed the stages: each request found the previous checkpoint on disk.
        QCOMPARE(onDisk.value(paths::analyze).step, JobStep::analyze);
        QVERIFY(!onDisk.value(paths::analyze).metadata);
        QCOMPARE(onDisk.value(paths::transform).step, JobStep::transform);
        QVERIFY(onDisk.value(paths::transform).metadata);
        QCOMPARE(onDisk.value(paths::save).step, JobStep::save);
        QVERIFY(onDisk.value(paths::save).transformResult);
        QVERIFY(!onDisk.value(paths::save).articleID);
        QCOMPARE(h.stateFile().jobs.first(), throughStateFile(job)); // dates in whole seconds

        QCOMPARE(h.notifications.authorizationRequests, 1);
        QCOMPARE(h.notifications.posted.size(), 1);
        const NotificationRequest ready = h.notifications.posted.first();
        QCOMPARE(ready.identifier, QStringLiteral("pendrel.article.ready.") + uuidString(job.id));
        QCOMPARE(ready.title, QStringLiteral("Fast Builds"));
        QCOMPARE(ready.body, QStringLiteral("Your article is ready. Click to open."));
        QCOMPARE(ready.userInfo.value(QStringLiteral("open_url")).toString(),
                 QStringLiteral("https://blog.acme.test/blog/fast-builds"));
        QCOMPARE(h.state->statusIconState(), StatusIconState::success());
    }

    // Every optional stage on, starting from an address.
    void addressClipWithEveryStage()
    {
        AppStateHarness h;
        h.startSignedIn();
        ClipperSettings settings = h.state->settings();
        settings.enableImages = true;
        settings.imagesCount = 2;
        settings.enableHumanize = true;
        settings.enableAudio = true;
        settings.authorID = QStringLiteral("au-1");
        settings.authorName = QStringLiteral("Ada");
        h.state->setSettings(settings);
        h.state->setUrlInput(QStringLiteral("  https://news.test/story  "));
        h.state->captureURL();
        QVERIFY(h.waitUntilIdle());

        const JobRecord job = h.state->jobs().first();
        QCOMPARE(job.status, JobStatus::success);
        QCOMPARE(
            AppStateHarness::logMessages(job),
            (QStringList{QStringLiteral("Job created"), QStringLiteral("Job started"),
                         QStringLiteral("Extracting text from URL"), QStringLiteral("Analyzing content"),
                         QStringLiteral("Transforming content"), QStringLiteral("Generating illustrations"),
                         QStringLiteral("Humanizing content"), QStringLiteral("Saving article"),
                         QStringLiteral("Queueing voice-over"), QStringLiteral("Job complete")}));
        QCOMPARE(job.sourceText, QStringLiteral("  Extracted body\n"));
        QCOMPARE(job.sourceURL, QStringLiteral("https://news.test/story"));
        QCOMPARE(h.service.requestsTo("POST", paths::extract).first().json,
                 parsed(q("{'sourceUrls':['https://news.test/story'],'tenantId':'t1'}")));
        QCOMPARE(h.service.requestsTo("POST", paths::analyze)
                     .first()
                     .json.toObject()
                     .value(QStringLiteral("originalText")),
                 QJsonValue(QStringLiteral("Source: https://news.test/story\n\nExtracted body")));
        QCOMPARE(h.service.requestsTo("POST", paths::illustrations)
                     .first()
                     .json.toObject()
                     .value(QStringLiteral("imagesCount")),
                 QJsonValue(2));
        QCOMPARE(h.service.requestsTo("POST", paths::humanize)
                     .first()
                     .json.toObject()
                     .value(QStringLiteral("content")),
                 QJsonValue(QStringLiteral("# Fast Builds\n\n![a](https://i.test/a)\n\nBody")));
        QCOMPARE(job.contentAfterHumanize, QStringLiteral("# Fast Builds\n\nHuman body"));
        QCOMPARE(job.illustrationsMetadata->assets.size(), 1);
        QVERIFY(job.voiceoverQueued);
        QCOMPARE(
            h.service.requestsTo("POST", paths::voiceover).first().json,
            parsed(q("{'articleId':'art-1','content':'# Fast Builds\\n\\nHuman body','language':'en'}")));

        const QJsonObject meta = h.service.requestsTo("POST", paths::save)
                                     .first()
                                     .json.toObject()
                                     .value(QStringLiteral("metadata"))
                                     .toObject();
        QCOMPARE(meta.value(QStringLiteral("authorId")), QJsonValue(QStringLiteral("au-1")));
        const QJsonObject ill = meta.value(QStringLiteral("illustrations")).toObject();
        QCOMPARE(ill.value(QStringLiteral("generationID")), QJsonValue(QStringLiteral("g1")));
        QCOMPARE(ill.value(QStringLiteral("style")), QJsonValue(QStringLiteral("ink")));
        QVERIFY(ill.value(QStringLiteral("generatedAt")).isDouble()); // seconds since 2001
        const double sinceReference =
            QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).secsTo(job.illustrationsMetadata->generatedAt);
        QVERIFY(qAbs(ill.value(QStringLiteral("generatedAt")).toDouble() - sinceReference) < 1.5);
        QCOMPARE(ill.value(QStringLiteral("assets")).toArray().first().toObject().value(QStringLiteral("id")),
                 QJsonValue(uuidString(job.illustrationsMetadata->assets.first().id)));
    }

    // The analysis and the voice-over may fail without failing the article.
    void absorbedFailures()
    {
        AppStateHarness h;
        h.startSignedIn();
        h.service.answer("POST", paths::analyze, ScriptedAnswer::json(500, q("{'error':'down'}")));
        h.service.answer("POST", paths::voiceover, ScriptedAnswer::json(401, q("{'error':'no'}")));
        h.service.answer("POST", paths::save, ScriptedAnswer::json(200, "{}"));
        ClipperSettings settings = h.state->settings();
        settings.enableAudio = true;
        h.state->setSettings(settings);
        h.clipboard.text = QStringLiteral("Text");
        h.state->captureClipboard();
        QVERIFY(h.waitUntilIdle());

        const JobRecord job = h.state->jobs().first();
        QCOMPARE(job.status, JobStatus::success);
        QCOMPARE(job.metadata, ContentMetadata{});
        QVERIFY(job.voiceoverFailed && !job.voiceoverQueued);
        QStringList warnings;
        for (const JobLogEntry &e : job.logs) {
            if (e.level == LogLevel::warn)
                warnings << e.message;
        }
        QCOMPARE(warnings.size(), 2);
        QCOMPARE(warnings[0], QStringLiteral("Analysis failed, using defaults"));
        QVERIFY2(warnings[1].startsWith(QStringLiteral("Voice-over failed: no (requestId: ")),
                 qPrintable(warnings[1]));
        // A save answer without an identifier names the article after the job.
        QCOMPARE(job.articleID, uuidString(job.id));
        QVERIFY(!job.savedURL && !job.result->url);
        const QJsonObject meta = h.service.requestsTo("POST", paths::save)
                                     .first()
                                     .json.toObject()
                                     .value(QStringLiteral("metadata"))
                                     .toObject();
        for (const char *key : {"categories", "age", "interests", "problems"})
            QCOMPARE(meta.value(QLatin1StringView(key)), QJsonValue(QJsonArray()));
        // A 401 from the voice-over is absorbed: still signed in.
        QVERIFY(h.state->authState().session);
    }

    // Each failure as the user reads it (the job's error, the panel, the
    // notification: a plain sentence) and as the job's log line keeps it
    // (request id, the parser's position). Each call went out once.
    void failuresEndTheRun_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("message");
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("logged"); // the log line starts with it
        QTest::addColumn<bool>("signsOut");
        const QString maybeSaved =
            QStringLiteral("The article may already be saved; Retry saves it again without making a copy.");
        QTest::newRow("no credits")
            << paths::transform
            << ScriptedAnswer::json(402, q("{'error':'Not enough credits','code':'INSUFFICIENT_CREDITS'}"))
            << "Not enough credits" << std::optional<int>(402) << "INSUFFICIENT_CREDITS"
            << "Not enough credits (requestId: " << false;
        QTest::newRow("empty transform")
            << paths::transform << ScriptedAnswer::json(200, q("{'transformedContent':''}"))
            << "Transform returned empty content" << std::optional<int>(500) << "EMPTY_TRANSFORM"
            << "Transform returned empty content" << false;
        QTest::newRow("save not decodable")
            << paths::save
            << ScriptedAnswer::json(200, q("{'articleId':5}"))
            // The service answered: it may hold the article (retried in place).
            << "The service sent an answer that could not be read. " + maybeSaved << std::optional<int>()
            << "SAVE_UNCONFIRMED"
            << "articleId: expected a string, found a number. " + maybeSaved << false;
        QTest::newRow("illustrations incompatible")
            << paths::illustrations << ScriptedAnswer::json(200, q("{'style':1}"))
            << "Illustrations response is incompatible with this app build." << std::optional<int>(502)
            << "INVALID_ILLUSTRATIONS_RESPONSE"
            << "Illustrations response is incompatible" << false;
        QTest::newRow("save without an answer")
            << paths::save << ScriptedAnswer::dropped()
            << "The connection to the service closed before it answered. " + maybeSaved
            << std::optional<int>() << "SAVE_UNCONFIRMED"
            << "Connection closed" << false;
        QTest::newRow("bare server error")
            << paths::transform << ScriptedAnswer::text(500, "<html>boom</html>")
            << "The service ran into a problem. Please try again later." << std::optional<int>(500) << "ERROR"
            << "Internal Server Error (requestId: " << false;
        QTest::newRow("bare unauthorized") << paths::transform << ScriptedAnswer::text(401, "<html>no</html>")
                                           << "The service did not accept the sign-in. Please sign in again."
                                           << std::optional<int>(401) << "ERROR"
                                           << "Unauthorized (requestId: " << true;
        QTest::newRow("answer not UTF-8")
            << paths::transform << ScriptedAnswer::json(200, "{\"transformedContent\":\"a\xff\"}")
            << "The service sent an answer that could not be read." << std::optional<int>() << "ERROR"
            << "not valid JSON (invalid UTF-8 string at offset " << false;
        QTest::newRow("answer nested too deeply")
            << paths::transform << ScriptedAnswer::json(200, QByteArray(5000, '[') + QByteArray(5000, ']'))
            << "The service sent an answer that could not be read." << std::optional<int>() << "ERROR"
            << "not valid JSON (too deeply nested at offset " << false;
    }
    void failuresEndTheRun()
    {
        QFETCH(QString, path);
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, message);
        QFETCH(std::optional<int>, status);
        QFETCH(QString, code);
        QFETCH(QString, logged);
        QFETCH(bool, signsOut);
        AppStateHarness h;
        h.startSignedIn();
        h.service.answer("POST", path, answer);
        ClipperSettings settings = h.state->settings();
        settings.enableImages = true;
        h.state->setSettings(settings);
        h.clipboard.text = QStringLiteral("Text");
        h.state->captureClipboard();
        QVERIFY(h.waitUntilIdle());
        const JobRecord job = h.state->jobs().first();
        QCOMPARE(job.status, JobStatus::error);
        QCOMPARE(job.step, JobStep::error);
        QVERIFY(!job.processing);
        QCOMPARE(job.error->message, message);
        QCOMPARE(job.error->status, status);
        QCOMPARE(job.error->code, code);
        QCOMPARE(job.logs.last().level, LogLevel::error);
        QVERIFY2(job.logs.last().message.startsWith(logged), qPrintable(job.logs.last().message));
        QCOMPARE(h.service.requestsTo("POST", path).size(), 1);
        QVERIFY(!job.articleID && !job.result);
        if (path == paths::illustrations)
            QVERIFY(!job.contentAfterIllustrations && !job.illustrationsMetadata);
        QCOMPARE(h.state->statusIconState(), StatusIconState::error());
        const NotificationRequest failed = h.notifications.posted.last();
        QCOMPARE(failed.identifier, QStringLiteral("pendrel.article.failed.") + uuidString(job.id));
        QCOMPARE(failed.title, QStringLiteral("Article failed"));
        QCOMPARE(failed.body, message);
        QCOMPARE(failed.userInfo.value(QStringLiteral("open_panel")), QVariant(true));
        QCOMPARE(bool(h.state->authState().session), !signsOut);
    }

    void addressWithoutTextFails()
    {
        AppStateHarness h;
        h.startSignedIn();
        h.service.answer("POST", paths::extract, ScriptedAnswer::json(200, q("{'title':'nothing'}")));
        h.state->setUrlInput(QStringLiteral("https://empty.test"));
        h.state->captureURL();
        QVERIFY(h.waitUntilIdle());
        const JobRecord job = h.state->jobs().first();
        QCOMPARE(job.error,
                 (JobErrorInfo{QStringLiteral("Empty source text."), std::nullopt, QStringLiteral("ERROR")}));
        QCOMPARE(job.sourceText, QString());
        QVERIFY(h.service.requestsTo("POST", paths::analyze).isEmpty());
    }

    // A 401 fails the job, notifies and signs out; the job after it waits
    // for the next sign-in (nothing was sent for it) and runs after it.
    void sessionExpiredDuringAStage()
    {
        AppStateHarness h;
        h.startSignedIn();
        h.service.answer("POST", paths::transform, ScriptedAnswer::json(401, q("{'error':'Token expired'}")));
        ClipperSettings settings = h.state->settings();
        settings.autoSend = false;
        h.state->setSettings(settings);
        // Two jobs waiting; the second one meets the signed-out state.
        h.sendText(QStringLiteral("First"));
        h.sendText(QStringLiteral("Second"));
        QVERIFY(h.waitUntilIdle());

        const JobRecord second = h.state->jobs().at(0);
        const JobRecord first = h.state->jobs().at(1);
        QCOMPARE(first.clip.text, QStringLiteral("First"));
        QCOMPARE(first.status, JobStatus::error);
        QCOMPARE(first.error->status, 401);
        QCOMPARE(h.state->authState().status, AuthStatus::unauthenticated);
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Session expired. Please sign in again."));
        QCOMPARE(h.state->authState().errorMessage, QStringLiteral("Session expired. Please sign in again."));
        QVERIFY(!blockingWait(h.state->authManager().keychainStore().loadSession()));
        QCOMPARE(second.status, JobStatus::submitted);
        QVERIFY(!second.error && !second.processing);
        QCOMPARE(h.notifications.posted.size(), 1);
        QCOMPARE(h.state->jobs().size(), 2);

        h.service.answer("POST", paths::transform,
                         ScriptedAnswer::json(200, q("{'transformedContent':'# Second\\n\\nBody'}")));
        QVERIFY(h.signInByEmail());
        QVERIFY(
            QTest::qWaitFor([&] { return h.state->job(second.id)->status == JobStatus::success; }, 10000));
        QCOMPARE(h.state->job(first.id)->status, JobStatus::error); // a failed job stays failed
        QCOMPARE(h.service.requestsTo("POST", paths::save).size(), 1);
    }

    // The service refuses the session a stage was sent with, but the answer
    // comes after the user signed in again: the new session stays, in the
    // panel and in the secret store.
    void refusalOfAnOlderSessionKeepsTheNewOne()
    {
        AppStateHarness h;
        h.startSignedIn();
        ScriptedAnswer refused = ScriptedAnswer::json(401, q("{'error':'Token expired'}"));
        refused.delayMs = 600;
        h.service.answer("POST", paths::transform, refused);
        h.sendText(QStringLiteral("First"));
        QVERIFY(QTest::qWaitFor([&] { return h.service.requestsTo("POST", paths::transform).size() == 1; }, 10000));
        QVERIFY(h.signInByEmail());
        const std::optional<UserSession> signedIn = h.state->authState().session;
        QVERIFY(QTest::qWaitFor([&] { return h.state->jobs().first().status == JobStatus::error; }, 10000));
        QVERIFY(h.waitUntilIdle());
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->authState().session, signedIn);
        QCOMPARE(blockingWait(h.state->authManager().keychainStore().loadSession()), signedIn);
    }

    void abortWhileWaiting()
    {
        AppStateHarness h;
        h.storeSession();
        h.answerWorkspace();
        h.answerPipeline();
        // Hold the loop on the first job so that the second one waits.
        ScriptedAnswer slow = ScriptedAnswer::json(200, q("{'categories':[]}"));
        slow.delayMs = 500;
        h.service.answer("POST", paths::analyze, slow);
        blockingWait(h.state->bootstrap());
        h.clipboard.text = QStringLiteral("First");
        h.state->captureClipboard();
        QVERIFY(
            QTest::qWaitFor([&] { return !h.service.requestsTo("POST", paths::analyze).isEmpty(); }, 5000));
        h.clipboard.text = QStringLiteral("Second");
        h.state->captureClipboard();
        h.state->abortLatestJob();
        const JobRecord waiting = h.state->jobs().first();
        QCOMPARE(waiting.status, JobStatus::aborted);
        QCOMPARE(waiting.error,
                 (JobErrorInfo{QStringLiteral("Job aborted"), std::nullopt, QStringLiteral("ABORTED")}));
        QCOMPARE(h.state->statusIconState().kind(), StatusIconState::Kind::processing);
        QVERIFY(h.waitUntilIdle());
        QCOMPARE(h.service.requestsTo("POST", paths::analyze).size(), 1);
        QCOMPARE(h.state->jobs().first().logs.size(), 1); // "Job created" only, never started
        QCOMPARE(h.state->jobs().at(1).status, JobStatus::success);
    }

    // An abort only sets the flag: the request in flight finishes, and the
    // run stops at the next check. Every check is met once: the abort comes
    // while the named request is at the service (or, for the check before
    // saving, as the humanized text is recorded), and nothing after it is
    // requested. What a stage records before its check is kept.
    void abortAtEachCheck_data()
    {
        QTest::addColumn<QString>("at");
        QTest::addColumn<QStringList>("kept"); // checkpoints in the record afterwards
        const QStringList extracted{QStringLiteral("sourceText"), QStringLiteral("metadata")};
        const QStringList transformed = extracted + QStringList{QStringLiteral("transformResult")};
        const QStringList illustrated =
            transformed + QStringList{QStringLiteral("contentAfterIllustrations")};
        const QStringList humanized = illustrated + QStringList{QStringLiteral("contentAfterHumanize")};
        QTest::newRow("context") << QStringLiteral("/api/domains") << QStringList();
        QTest::newRow("extract") << paths::extract << QStringList();
        QTest::newRow("analyze") << paths::analyze << extracted;
        QTest::newRow("transform") << paths::transform << transformed;
        QTest::newRow("illustrations") << paths::illustrations << transformed;
        QTest::newRow("humanize") << paths::humanize << illustrated;
        QTest::newRow("humanized, before saving") << QStringLiteral("contentAfterHumanize") << humanized;
        QTest::newRow("save") << paths::save << humanized + QStringList{QStringLiteral("articleID")};
    }
    void abortAtEachCheck()
    {
        QFETCH(QString, at);
        QFETCH(QStringList, kept);
        AppStateHarness h;
        h.startSignedIn();
        ClipperSettings settings = h.state->settings();
        settings.enableImages = settings.enableHumanize = settings.enableAudio = true;
        h.state->setSettings(settings);
        QString last = at; // the last request the service sees
        if (at.startsWith(u'/')) {
            h.service.onRequest = [&](const RecordedRequest &r) {
                if (r.path == at)
                    h.state->abortLatestJob();
            };
        } else {
            last = paths::humanize;
            QObject::connect(h.state.get(), &AppState::jobsChanged, h.state.get(), [&] {
                const std::optional<JobRecord> job = h.state->latestJob();
                if (job && job->contentAfterHumanize && !job->aborted)
                    h.state->abortLatestJob();
            });
        }
        h.state->setUrlInput(QStringLiteral("https://news.test/story"));
        h.state->captureURL();
        QVERIFY(h.waitUntilIdle());

        const JobRecord job = h.state->jobs().first();
        QCOMPARE(job.status, JobStatus::aborted);
        QCOMPARE(job.step, JobStep::aborted);
        QCOMPARE(job.error,
                 (JobErrorInfo{QStringLiteral("Job aborted"), std::nullopt, QStringLiteral("ABORTED")}));
        QVERIFY(!job.processing && job.aborted);
        QCOMPARE(h.requestPaths().last(), last);
        QStringList recorded;
        const std::pair<const char *, bool> checkpoints[]{
            {"sourceText", bool(job.sourceText)},
            {"metadata", bool(job.metadata)},
            {"transformResult", bool(job.transformResult)},
            {"contentAfterIllustrations", bool(job.contentAfterIllustrations)},
            {"contentAfterHumanize", bool(job.contentAfterHumanize)},
            {"articleID", bool(job.articleID)}};
        for (const auto &[name, present] : checkpoints) {
            if (present)
                recorded << QString::fromLatin1(name);
        }
        QCOMPARE(recorded, kept);
        QVERIFY(h.notifications.posted.isEmpty()); // no failure notification for an abort
        QVERIFY(job.logs.last().level == LogLevel::info && job.logs.last().message != u"Job aborted");
        QCOMPARE(h.state->statusIconState(), StatusIconState::idle());
    }

    // Cancel pressed while a run waits for its start to be saved, and the
    // save fails (a full disk): the run puts the job back as it waited,
    // and the Cancel ends it there instead of leaving it "Queued" with its
    // abort flag set, where no run would ever pick it.
    void cancelWhileTheStartCannotBeSaved()
    {
        AppStateHarness h;
        const QByteArray data = QFile::encodeName(h.dir.filePath(QStringLiteral("data")));
        QDir().mkpath(h.dir.filePath(QStringLiteral("data")));
        if (::mount("tmpfs", data.constData(), "tmpfs", 0, "size=512k,mode=0755") != 0)
            QSKIP("cannot mount a small file system here");
        const auto unmount = qScopeGuard([&] {
            h.state.reset();
            ::umount2(data.constData(), MNT_DETACH);
        });
        h.startSignedIn();
        h.state->persistenceStore().waitForPendingSaves();
        const QString filler = h.dir.filePath(QStringLiteral("data/filler"));
        h.service.onRequest = [&](const RecordedRequest &r) {
            if (r.path != u"/api/tenants" || QFile::exists(filler))
                return;
            // The disk fills while the run asks for its context, once the
            // save in flight is done (its temporary file would leave room).
            h.state->persistenceStore().waitForPendingSaves();
            QFile fill(filler);
            if (fill.open(QIODevice::WriteOnly)) {
                const QByteArray page(4096, 'x');
                while (fill.write(page) > 0 && fill.flush()) {
                }
            }
        };
        // Either may come last: the failed save's report or the job's change.
        const auto cancelOnceHeld = [&] {
            if (h.state->jobs().isEmpty())
                return;
            const JobRecord &job = h.state->jobs().first();
            if (h.state->stateSaveError() && job.processing && !job.aborted)
                h.state->abortLatestJob(); // the run holds it: only the flag is set
        };
        QObject::connect(h.state.get(), &AppState::jobsChanged, h.state.get(), cancelOnceHeld);
        QObject::connect(h.state.get(), &AppState::stateSaveErrorChanged, h.state.get(), cancelOnceHeld);
        // Longer than the room the index (a cache) gives up when a save fails.
        h.sendText(QStringLiteral("Text. ").repeated(4000));
        QVERIFY(QTest::qWaitFor([&] { return h.state->jobs().first().aborted; }, 10000));
        QVERIFY(h.waitUntilIdle());
        const JobRecord ended = h.state->jobs().first();
        QCOMPARE(ended.status, JobStatus::aborted);
        QCOMPARE(ended.step, std::optional(JobStep::aborted));
        QVERIFY(!ended.processing);
        QVERIFY(h.service.requestsTo("POST", paths::analyze).isEmpty());

        QVERIFY(QFile::remove(filler)); // saving works again: the end is on disk
        h.state->persist();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->stateSaveError(); }, 10000));
        QCOMPARE(h.stateFile().jobs.first().status, JobStatus::aborted);
    }

    // A job gone from the list (the list replaced) ends its run at the next check too.
    void removedJobStopsItsRun()
    {
        AppStateHarness h;
        h.startSignedIn();
        h.service.onRequest = [&](const RecordedRequest &r) {
            if (r.path == paths::transform)
                h.state->setJobs({});
        };
        h.sendText(QStringLiteral("Text"));
        QVERIFY(h.waitUntilIdle());
        QCOMPARE(h.requestPaths().last(), paths::transform);
        QVERIFY(h.state->jobs().isEmpty() && h.notifications.posted.isEmpty());
    }

    // Oldest first, whatever the list order, one loop for everything.
    void oldestFirstInOneLoop()
    {
        AppStateHarness h;
        const QDateTime ten = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
        PersistedState stored;
        stored.jobs = {storedJob(QStringLiteral("Later"), ten.addSecs(300)),
                       storedJob(QStringLiteral("Earlier"), ten)};
        h.writeStateFile(stored);
        h.storeSession();
        h.answerWorkspace();
        h.answerPipeline();
        blockingWait(h.state->bootstrap());
        QVERIFY(h.state->jobQueue().isProcessing());
        for (int i = 0; i < 3; ++i)
            h.state->jobQueue().processQueueIfNeeded();
        // Sent while the loop runs: picked up by the same loop, after the others.
        h.clipboard.text = QStringLiteral("Newest");
        h.state->captureClipboard();
        QVERIFY(h.waitUntilIdle());

        QStringList analysed;
        for (const RecordedRequest &r : h.service.requestsTo("POST", paths::analyze))
            analysed << r.json.toObject().value(QStringLiteral("originalText")).toString();
        QCOMPARE(analysed,
                 (QStringList{QStringLiteral("Earlier"), QStringLiteral("Later"), QStringLiteral("Newest")}));
        // Strictly one job at a time: every job's requests come before the next job's.
        QStringList stages;
        for (const QString &p : h.requestPaths()) {
            if (p == paths::analyze || p == paths::save)
                stages << p.section(u'/', -1);
        }
        QCOMPARE(stages,
                 (QStringList{QStringLiteral("analyze"), QStringLiteral("save"), QStringLiteral("analyze"),
                              QStringLiteral("save"), QStringLiteral("analyze"), QStringLiteral("save")}));
        for (const JobRecord &j : h.state->jobs()) {
            QCOMPARE(j.status, JobStatus::success);
            QCOMPARE(AppStateHarness::logMessages(j).count(QStringLiteral("Job started")), 1);
        }
    }

    // A restart resumes a running job from its checkpoints.
    void resumesFromCheckpoints()
    {
        AppStateHarness h;
        JobRecord job =
            storedJob(QStringLiteral("Source text"), QDateTime::currentDateTimeUtc().addSecs(-60));
        job.status = JobStatus::running;
        job.processing = true;
        job.step = JobStep::illustrations;
        job.settingsSnapshot.enableImages = true;
        job.appendLog(LogLevel::info, QStringLiteral("Job started"), job.createdAt);
        job.metadata = ContentMetadata{{QStringLiteral("stored")}, {}, {}};
        TransformResult transformed;
        transformed.transformedContent = QStringLiteral("# Stored\n\nBody");
        job.transformResult = transformed;
        job.contentAfterIllustrations = QStringLiteral("# Stored\n\n![x](https://i.test/x)\n\nBody");
        IllustrationMetadata illustrations;
        illustrations.assets = {IllustrationAsset{QUuid::createUuid(), QStringLiteral("https://i.test/x")}};
        illustrations.generationID = QStringLiteral("stored-gen");
        illustrations.generatedAt = QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC);
        job.illustrationsMetadata = illustrations;
        PersistedState stored;
        stored.jobs = {job};
        h.writeStateFile(stored);

        h.startSignedIn();
        QVERIFY(h.waitUntilIdle());
        const JobRecord resumed = h.state->jobs().first();
        QCOMPARE(resumed.status, JobStatus::success);
        QVERIFY(h.service.requestsTo("POST", paths::analyze).isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::transform).isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::illustrations).isEmpty());
        QCOMPARE(AppStateHarness::logMessages(resumed),
                 (QStringList{QStringLiteral("Job started"), QStringLiteral("Job started"),
                              QStringLiteral("Saving article"), QStringLiteral("Job complete")}));
        const QJsonObject body = h.service.requestsTo("POST", paths::save).first().json.toObject();
        QCOMPARE(body.value(QStringLiteral("content")).toString(), *job.contentAfterIllustrations);
        const QJsonObject meta = body.value(QStringLiteral("metadata")).toObject();
        QCOMPARE(meta.value(QStringLiteral("categories")), QJsonValue(QJsonArray{QStringLiteral("stored")}));
        QCOMPARE(meta.value(QStringLiteral("illustrations")).toObject().value(QStringLiteral("generationID")),
                 QJsonValue(QStringLiteral("stored-gen")));
        QCOMPARE(
            meta.value(QStringLiteral("illustrations")).toObject().value(QStringLiteral("generatedAt")),
            QJsonValue(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).secsTo(illustrations.generatedAt)));
    }

    // Each stored text takes the place of the stage that made it; the
    // latest one is what goes on.
    void resumesFromStoredText_data()
    {
        QTest::addColumn<JobRecord>("stored");
        QTest::addColumn<QStringList>("requested"); // the pipeline requests of the resumed run
        QTest::addColumn<QString>("saved");         // the content sent to be saved

        JobRecord address = storedJob(QString(), QDateTime::currentDateTimeUtc().addSecs(-60));
        address.clip = ClipPayload::webAddress(QStringLiteral("https://news.test/story"));
        address.status = JobStatus::running;
        address.sourceText = QStringLiteral(" Stored body\n");
        address.sourceURL = address.clip.url;
        QTest::newRow("extracted address")
            << address << QStringList{paths::analyze, paths::transform, paths::save}
            << "# Fast Builds\n\nBody";

        JobRecord humanized = storedJob(QStringLiteral("Source text"), address.createdAt);
        humanized.status = JobStatus::running;
        humanized.settingsSnapshot.enableImages = humanized.settingsSnapshot.enableHumanize = true;
        humanized.metadata = ContentMetadata{};
        humanized.transformResult = TransformResult{QStringLiteral("# Transformed"), {}, {}, {}, {}, {}};
        humanized.contentAfterIllustrations = QStringLiteral("# Illustrated");
        humanized.contentAfterHumanize = QStringLiteral("# Humanized");
        QTest::newRow("humanized after illustrations")
            << humanized << QStringList{paths::save} << "# Humanized";
    }
    void resumesFromStoredText()
    {
        QFETCH(JobRecord, stored);
        QFETCH(QStringList, requested);
        QFETCH(QString, saved);
        AppStateHarness h;
        h.writeStateFile(PersistedState{ClipperSettings::defaults(), std::nullopt, {stored}});
        h.startSignedIn();
        QVERIFY(h.waitUntilIdle());
        QCOMPARE(h.state->jobs().first().status, JobStatus::success);
        QStringList pipeline;
        for (const QString &p : h.requestPaths()) {
            if (p.startsWith(u"/api/blog/") || p == paths::extract)
                pipeline << p;
        }
        QCOMPARE(pipeline, requested);
        const QJsonObject body = h.service.requestsTo("POST", paths::save).first().json.toObject();
        QCOMPARE(body.value(QStringLiteral("content")).toString(), saved);
        if (stored.sourceText) // the stored text, not a new extraction, is analysed
            QCOMPARE(h.service.requestsTo("POST", paths::analyze)
                         .first()
                         .json.toObject()
                         .value(QStringLiteral("originalText")),
                     QJsonValue(QStringLiteral("Source: https://news.test/story\n\nStored body")));
    }

    // A job cancelled and then left running by a quit is never started
    // again, and does not stay "running" either.
    void abortedJobIsNotResumed()
    {
        AppStateHarness h;
        h.writeStateFile(PersistedState{ClipperSettings::defaults(), std::nullopt,
                                        {leftRunning(JobStep::transform, true)}});
        h.startSignedIn();
        QVERIFY(h.waitUntilIdle());
        const JobRecord ended = h.state->jobs().first();
        QCOMPARE(ended.status, JobStatus::aborted);
        QCOMPARE(ended.step, std::optional(JobStep::aborted));
        QVERIFY(!ended.processing);
        QCOMPARE(AppStateHarness::logMessages(ended).last(), QStringLiteral("Job aborted"));
        QVERIFY(h.service.requestsTo("POST", paths::analyze).isEmpty());
        QCOMPARE(h.stateFile().jobs.first().status, JobStatus::aborted);
    }

    // Cancel on a job restored as running while no run holds it (the queue
    // has not resumed yet): nothing would ever see the flag, so it ends now.
    void cancelOfARestoredRunningJob()
    {
        AppStateHarness h;
        const JobRecord job = leftRunning(JobStep::analyze);
        h.writeStateFile(PersistedState{ClipperSettings::defaults(), std::nullopt, {job}});
        h.storeSession();
        h.answerWorkspace();
        h.answerPipeline();
        ScriptedAnswer slowTenants = ScriptedAnswer::json(200, q("{'tenants':[{'id':'t1','name':'Acme'}]}"));
        slowTenants.delayMs = 300;
        h.service.answerOnce("GET", QStringLiteral("/api/tenants"), slowTenants);

        bool bootstrapped = false;
        startSoon(
            h.state.get(), [&] { return bootstrapThen(h.state.get(), &bootstrapped); },
            QStringLiteral("bootstrap"));
        QVERIFY(QTest::qWaitFor([&] { return !h.state->jobs().isEmpty(); }));
        QVERIFY(!bootstrapped);
        QVERIFY(!h.state->jobQueue().holdsJob(job.id));
        // Nothing works on it until the queue picks it: it shows as waiting.
        const JobRecord restored = h.state->jobs().first();
        QCOMPARE(restored.status, JobStatus::submitted);
        QVERIFY(!restored.processing && !restored.step);
        QVERIFY(restored.metadata == job.metadata && restored.logs == job.logs); // nothing else changed

        h.state->abortLatestJob();
        const JobRecord ended = h.state->jobs().first();
        QCOMPARE(ended.status, JobStatus::aborted);
        QVERIFY(!ended.processing);
        QCOMPARE(ended.error->code, std::optional(QStringLiteral("ABORTED")));
        QVERIFY(h.state->statusIconState() == StatusIconState::idle());

        QVERIFY(QTest::qWaitFor([&] { return bootstrapped; }));
        QVERIFY(h.waitUntilIdle());
        QCOMPARE(h.state->jobs().first().status, JobStatus::aborted);
        QVERIFY(h.service.requestsTo("POST", paths::analyze).isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::transform).isEmpty());
    }

    // The session ran out while the computer slept (or a clock jump): a
    // capture after waking signs the user out visibly instead of leaving a
    // panel that still looks signed in, and its job waits for the next
    // sign-in instead of failing; it runs once, after it.
    void sessionExpiredWhileAsleep()
    {
        AppStateHarness h;
        h.startSignedIn();
        h.letSessionRunOut();
        h.sendText(QStringLiteral("Text"));
        QVERIFY(h.waitUntilIdle());
        QVERIFY(QTest::qWaitFor([&] { return !h.state->authState().session; }, 5000));
        const JobRecord waiting = h.state->jobs().first();
        QCOMPARE(waiting.status, JobStatus::submitted);
        QVERIFY(!waiting.error && !waiting.processing && !waiting.step);
        QCOMPARE(h.state->authState().status, AuthStatus::unauthenticated);
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Session expired. Please sign in again."));
        QVERIFY(h.notifications.posted.isEmpty()); // no failure to report
        QVERIFY(h.service.requestsTo("POST", paths::analyze).isEmpty());

        QVERIFY(h.signInByEmail());
        QVERIFY(QTest::qWaitFor([&] { return h.state->jobs().first().status == JobStatus::success; }, 10000));
        QCOMPARE(h.service.requestsTo("POST", paths::save).size(), 1);
    }

    // A sign-out (by the user, or by another job's refusal) while a run
    // waits for its context: the answer, given to the session before, does
    // not make the panel signed in again without a session, which would
    // never ask for one while the job waits for it.
    void signOutWhileTheContextIsAsked()
    {
        AppStateHarness h;
        h.startSignedIn();
        ScriptedAnswer late =
            ScriptedAnswer::json(200, q("{'tenants':[{'id':'t1','name':'Acme','balance_credits':500}]}"));
        late.delayMs = 500;
        h.service.answer("GET", QStringLiteral("/api/tenants"), late);
        h.sendText(QStringLiteral("Text"));
        QVERIFY(QTest::qWaitFor([&] { return !h.service.requestsTo("GET", QStringLiteral("/api/tenants")).isEmpty(); },
                                5000));
        h.state->signOut();
        QVERIFY(h.waitUntilIdle());
        QTest::qWait(700);
        QCOMPARE(h.state->authState().status, AuthStatus::unauthenticated);
        QVERIFY(!h.state->authState().session);
        const JobRecord waiting = h.state->jobs().first();
        QCOMPARE(waiting.status, JobStatus::submitted);
        QVERIFY(h.service.requestsTo("POST", paths::analyze).isEmpty());

        h.service.answer("GET", QStringLiteral("/api/tenants"), ScriptedAnswer::json(200, late.body));
        QVERIFY(h.signInByEmail());
        QVERIFY(QTest::qWaitFor([&] { return h.state->jobs().first().status == JobStatus::success; }, 10000));
        QCOMPARE(h.service.requestsTo("POST", paths::save).size(), 1);
    }

    // Cancel pressed while a run that lost its answer asks whether the
    // service is still there (or, before the run started, while it asks
    // for the context): the job ends aborted, whatever the answer, and
    // never waits for good in the queue.
    void cancelWhileCheckingForTheService_data()
    {
        QTest::addColumn<QString>("lostAt");   // the request that gets no answer
        QTest::addColumn<bool>("serviceBack"); // whether the check finds the service
        QTest::newRow("during a stage, service away") << paths::transform << false;
        QTest::newRow("during a stage, service there") << paths::transform << true;
        QTest::newRow("before the start, service away") << QStringLiteral("/api/tenants") << false;
    }
    void cancelWhileCheckingForTheService()
    {
        QFETCH(QString, lostAt);
        QFETCH(bool, serviceBack);
        AppStateHarness h;
        AppState::setReconnectDelaysMs(60000, 60000); // no retry within the test
        h.startSignedIn();
        ScriptedAnswer lost;
        lost.dropConnection = true;
        h.service.answer(lostAt == paths::transform ? "POST" : "GET", lostAt, lost);
        int tenantRequests = 0;
        h.service.onRequest = [&](const RecordedRequest &r) {
            if (r.path != u"/api/tenants")
                return;
            // The check after a lost stage is the second one; before the
            // start, the first one is the question itself.
            if (++tenantRequests == (lostAt == paths::transform ? 2 : 1)) {
                if (lostAt == paths::transform && !serviceBack)
                    h.service.answer("GET", QStringLiteral("/api/tenants"), lost);
                h.state->abortLatestJob();
            }
        };
        h.sendText(QStringLiteral("Text"));
        QVERIFY(h.waitUntilIdle());
        const JobRecord ended = h.state->jobs().first();
        QCOMPARE(ended.status, JobStatus::aborted);
        QCOMPARE(ended.step, std::optional(JobStep::aborted));
        QCOMPARE(ended.error->code, std::optional(QStringLiteral("ABORTED")));
        QVERIFY(!ended.processing && !ended.isWaiting());
        QVERIFY(!AppStateHarness::logMessages(ended).last().startsWith(u"Waiting"));
        QVERIFY(h.notifications.posted.isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::save).isEmpty());
        AppState::setReconnectDelaysMs(5000, 300000);
    }

    void notificationFailuresAreSilent()
    {
        AppStateHarness h;
        h.notifications.failing = true;
        h.startSignedIn();
        h.clipboard.text = QStringLiteral("Text");
        h.state->captureClipboard();
        QVERIFY(h.waitUntilIdle());
        QCOMPARE(h.state->jobs().first().status, JobStatus::success);
        QCOMPARE(h.notifications.authorizationRequests, 1); // asked once per process, even when refused
    }
};

QTEST_GUILESS_MAIN(TestJobQueue)
#include "tst_jobqueue.moc"
