#include "state/PersistedStateEncoder.h"
#include "state/PersistenceStore.h"
#include "support/Tasks.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include "FileFaults.h"
#include "JsonTestUtil.h"
#include "StateSamples.h"
#include "TestFiles.h"

#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace pendrel;
using namespace pendrel::test;
using L = QLatin1StringView;

namespace {

const QString kDev = QStringLiteral("com.pendrel.publisher.dev");

// Writing a fixture must not fail silently.
void putFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(writeFile(path, bytes));
}

QDateTime whole(int secondsFromEpoch2026)
{
    return QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(secondsFromEpoch2026);
}

// A state with a pending clip and one job carrying a URL (escaped slashes).
PersistedState sampleState(int marker = 0)
{
    PersistedState state;
    state.settings.language = QStringLiteral("de");
    state.settings.imagesCount = marker;
    // Fixed identities, so that two calls with one marker give equal states.
    const auto uuid = [marker](const char *what) {
        return QUuid::createUuidV5(QUuid(), QString::fromLatin1(what) + QString::number(marker));
    };
    ClipPayload clip = ClipPayload::webAddress(QStringLiteral("https://example.com/a/b"));
    clip.id = uuid("clip");
    clip.createdAt = whole(10);
    state.pendingClip = clip;
    JobRecord job = JobRecord::draft(clip, state.settings);
    job.id = uuid("job");
    job.createdAt = job.updatedAt = whole(20);
    job.appendLog(LogLevel::info, QStringLiteral("Job created"), whole(21));
    job.logs.last().id = uuid("log");
    state.jobs = {job};
    return state;
}

// Jobs with what the writer must get right at their depth in the file:
// escapes, non-ASCII text, nested lists and optional members.
PersistedState historyState()
{
    PersistedState state = sampleState();
    for (int i = 0; i < 4; ++i) {
        JobRecord job = JobRecord::draft(
            ClipPayload::clipboardText(QStringLiteral("Caf\u00e9 \"%1\"\n/path\t\U0001F642").arg(i)), state.settings);
        job.id = QUuid::createUuidV5(QUuid(), QStringLiteral("history") + QString::number(i));
        job.createdAt = job.updatedAt = job.clip.createdAt = whole(100 + i);
        job.status = JobStatus::success;
        job.step = JobStep::done;
        job.finalContent = QStringLiteral("# Title %1\n\nBody with a [link](https://example.com/a).").arg(i);
        job.socialPublishes = {JobSocialPublishResult{SocialCrosspostPlatform::linkedin, QStringLiteral("acc"),
                                                      QStringLiteral("Name"), SocialCrosspostMode::adapt,
                                                      JobSocialPublishStatus::success, std::nullopt,
                                                      QStringLiteral("post-%1").arg(i), std::nullopt}};
        for (int line = 0; line < 3; ++line) {
            job.appendLog(LogLevel::info, QStringLiteral("Stage %1").arg(line), whole(200 + line));
            job.logs.last().id = QUuid::createUuidV5(job.id, QString::number(line));
        }
        state.jobs.append(job);
    }
    return state;
}

struct LogCapture {
    std::shared_ptr<QStringList> lines = std::make_shared<QStringList>();
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    void attach(PersistenceStore &store)
    {
        store.setLogSink([lines = lines, mutex = mutex](const QString &line) {
            const std::lock_guard lock(*mutex);
            lines->append(line);
        });
    }
    QStringList taken() const
    {
        const std::lock_guard lock(*mutex);
        return *lines;
    }
};

} // namespace

class TestPersistence : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString base;

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        base = dir->filePath(QStringLiteral("share/PendrelPublisher"));
    }

    void fileLocations_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("subfolder");
        QTest::newRow("development") << kDev << "com-pendrel-publisher-dev";
        QTest::newRow("production") << "com.pendrel.publisher"
                                    << "com-pendrel-publisher";
    }
    void fileLocations()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, subfolder);
        const PersistenceStore store(base, identifier);
        QCOMPARE(store.currentFilePath(), base + u'/' + subfolder + QStringLiteral("/clipper-state.json"));
        QCOMPARE(store.legacyFilePath(), base + QStringLiteral("/clipper-state.json"));
        QVERIFY(PersistenceStore::defaultBaseFolder().endsWith(QStringLiteral("/PendrelPublisher")));
    }

    void firstStartThenSave()
    {
        PersistenceStore store(base, kDev);
        const PersistedState loaded = blockingWait(store.loadState());
        QCOMPARE(loaded, PersistedState{});
        QVERIFY(!QFileInfo::exists(base));

        const PersistedState state = sampleState();
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        QCOMPARE(store.loadStateNow(), state);
        // It holds the user's articles: owner only, folders included.
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
                                          | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        const QFile::Permissions file = QFileInfo(store.currentFilePath()).permissions();
        QCOMPARE(file & others, QFile::Permissions());
        QCOMPARE(file & (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner),
                 QFile::ReadOwner | QFile::WriteOwner);
        for (const QString &folder : {base, QFileInfo(store.currentFilePath()).absolutePath()})
            QCOMPARE(QFileInfo(folder).permissions() & others, QFile::Permissions());
        QCOMPARE(QDir(QFileInfo(store.currentFilePath()).absolutePath()).entryList(QDir::Files),
                 (QStringList{"clipper-state.index", "clipper-state.json"}));
        QCOMPARE(QFileInfo(store.indexFilePath()).permissions() & others, QFile::Permissions());
    }

    void documentForm()
    {
        PersistenceStore store(base, kDev);
        const PersistedState state = sampleState();
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        const QByteArray bytes = readFile(store.currentFilePath());
        // Root keys sorted, nested keys sorted, slashes escaped, whole-second dates.
        QVERIFY(bytes.startsWith("{\n  \"jobs\" : ["));
        QVERIFY(bytes.indexOf("\"jobs\"") < bytes.indexOf("\"pendingClip\""));
        QVERIFY(bytes.indexOf("\"pendingClip\"") < bytes.indexOf("\"settings\" : {"));
        QVERIFY(bytes.contains("\"url\" : \"https:\\/\\/example.com\\/a\\/b\""));
        QVERIFY(bytes.contains("\"createdAt\" : \"2026-01-01T00:00:10Z\""));
        QVERIFY(!bytes.contains("null"));
        const qsizetype settings = bytes.indexOf("\"settings\" : {");
        QVERIFY(bytes.indexOf("\"articleSize\"", settings) < bytes.indexOf("\"autoSend\"", settings));
        QVERIFY(bytes.indexOf("\"autoSend\"", settings) < bytes.indexOf("\"competitionOptions\"", settings));
    }

    void readingRules_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("decodes");
        const QByteArray good = sampleState().encode();
        QTest::newRow("as written") << good << true;
        QTest::newRow("plain slashes") << QByteArray(good).replace("\\/", "/") << true;
        QTest::newRow("offset dates")
            << QByteArray(good).replace("2026-01-01T00:00:10Z", "2026-01-01T02:00:10+02:00") << true;
        QTest::newRow("fractional date")
            << QByteArray(good).replace("2026-01-01T00:00:10Z", "2026-01-01T00:00:10.5Z") << false;
        QTest::newRow("date without zone")
            << QByteArray(good).replace("2026-01-01T00:00:10Z", "2026-01-01T00:00:10") << false;
        QTest::newRow("empty object") << QByteArray("{}") << false;
        QTest::newRow("not json") << QByteArray("{\"settings\":") << false;
        QTest::newRow("an array") << QByteArray("[]") << false;
        QTest::newRow("unknown step") << QByteArray(good).replace("\"info\"", "\"trace\"") << false;
    }
    void readingRules()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, decodes);
        PersistenceStore store(base, kDev);
        putFile(store.currentFilePath(), document);
        putFile(store.legacyFilePath(), sampleState(99).encode()); // never consulted here
        const PersistedState loaded = store.loadStateNow();
        if (decodes)
            QCOMPARE(loaded, sampleState());
        else
            QCOMPARE(loaded, PersistedState{});
    }

    // decode() reads the jobs as the parser reaches them; it must come to
    // the same state, or the same error, as reading the whole document.
    void decodeAgreesWithTheWholeDocumentReader_data()
    {
        QTest::addColumn<QByteArray>("document");
        const QByteArray good = historyState().encode();
        const QByteArray success = "\"status\" : \"success\"";
        const qsizetype third = good.indexOf(success, good.indexOf(success, good.indexOf(success) + 1) + 1);
        QTest::newRow("valid") << good;
        QTest::newRow("bad job") << QByteArray(good).replace(third, success.size(), "\"status\" : \"finished\"");
        QTest::newRow("bad job and bad settings")
            << QByteArray(good).replace(third, success.size(), "\"status\" : \"finished\"").replace("\"mini\"", "\"tiny\"");
        QTest::newRow("no jobs") << q("{'settings':{}}");
        QTest::newRow("jobs not an array") << q("{'jobs':{},'settings':{}}");
        QTest::newRow("empty jobs") << QByteArray(good).replace(good.indexOf("\"jobs\""), 6, "\"jobs\" : [], \"old\"");
        QTest::newRow("repeated jobs") << QByteArray(good).replace("{\n  \"jobs\"", "{\"jobs\":[1,2],\n  \"jobs\"");
        QTest::newRow("jobs nested elsewhere")
            << QByteArray(good).replace("\"settings\" : {", "\"settings\" : {\"jobs\":[{}],");
        QTest::newRow("broken after the jobs") << good.left(good.indexOf("\"settings\""));
    }
    void decodeAgreesWithTheWholeDocumentReader()
    {
        QFETCH(QByteArray, document);
        const auto whole = [&] { return PersistedState::fromJson(json::parseDocument(document), JsonDates::iso8601()); };
        QCOMPARE(decodingFailure([&] { (void)PersistedState::decode(document); }),
                 decodingFailure([&] { (void)whole(); }));
        if (decodingFailure([&] { (void)whole(); }) == u"<decoded>")
            QCOMPARE(PersistedState::decode(document), whole());
    }

    void onlySettingsAndJobs()
    {
        PersistenceStore store(base, kDev);
        PersistedState state = sampleState();
        QJsonObject root = state.toJson(JsonDates::iso8601());
        root.remove(L("pendingClip"));
        putFile(store.currentFilePath(), json::writeSorted(root));
        const PersistedState loaded = store.loadStateNow();
        QCOMPARE(loaded.pendingClip, std::nullopt);
        QCOMPARE(loaded.jobs, state.jobs);
        store.saveState(loaded.settings, loaded.pendingClip, loaded.jobs);
        store.waitForPendingSaves();
        QVERIFY(!readFile(store.currentFilePath()).contains("pendingClip"));
    }

    void fractionsAreDropped()
    {
        PersistenceStore store(base, kDev);
        PersistedState state = sampleState();
        state.jobs[0].createdAt = whole(30).addMSecs(456);
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        QCOMPARE(store.loadStateNow().jobs.at(0).createdAt, whole(30));
    }

    void legacyFallback()
    {
        PersistenceStore store(base, kDev);
        const QByteArray legacy = sampleState(5).encode();
        putFile(store.legacyFilePath(), legacy);
        const PersistedState loaded = store.loadStateNow();
        QCOMPARE(loaded, sampleState(5));
        // The end of start-up saves: the current file takes over, the legacy stays.
        store.saveState(loaded.settings, loaded.pendingClip, loaded.jobs);
        store.waitForPendingSaves();
        QCOMPARE(readFile(store.currentFilePath()), legacy);
        QCOMPARE(readFile(store.legacyFilePath()), legacy);
    }

    void unreadableCurrentFileFallsBackToLegacy()
    {
        PersistenceStore store(base, kDev);
        // A folder where the file should be cannot be read as a file.
        QVERIFY(QDir().mkpath(store.currentFilePath()));
        putFile(store.legacyFilePath(), sampleState(7).encode());
        QCOMPARE(store.loadStateNow(), sampleState(7));
    }

    void undecodableFileIsKeptAside()
    {
        PersistenceStore store(base, kDev);
        const QByteArray broken = QByteArray(sampleState().encode()).replace("\"mini\"", "\"tiny\"");
        putFile(store.currentFilePath(), broken);
        putFile(store.legacyFilePath(), sampleState(3).encode());
        QCOMPARE(store.loadStateNow(), PersistedState{});
        const PersistedState next = sampleState(8);
        store.saveState(next.settings, next.pendingClip, next.jobs);
        store.waitForPendingSaves();
        const QDir folder(QFileInfo(store.currentFilePath()).absolutePath());
        const QStringList aside = folder.entryList({QStringLiteral("clipper-state.json.unreadable-*")});
        QCOMPARE(aside.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^clipper-state\\.json\\.unreadable-\\d{8}T\\d{6}Z$"))
                    .match(aside.first())
                    .hasMatch());
        QCOMPARE(readFile(folder.filePath(aside.first())), broken);
        QCOMPARE(store.loadStateNow(), next);
        QCOMPARE(readFile(store.legacyFilePath()), sampleState(3).encode());
    }

    // After any change the file holds exactly what a full encoding gives,
    // and only the jobs that changed were encoded again.
    void savesAfterAChangeMatchTheFullEncoding_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("encodedAgain");
        QTest::newRow("nothing") << "nothing" << 0;
        QTest::newRow("log line") << "log line" << 1;
        QTest::newRow("flag") << "flag" << 1;
        QTest::newRow("date within the second") << "date within the second" << 1;
        QTest::newRow("text edited in place") << "text edited in place" << 1;
        QTest::newRow("crosspost result") << "crosspost result" << 1;
        QTest::newRow("same id, other record") << "same id, other record" << 1;
        QTest::newRow("job added") << "job added" << 1;
        QTest::newRow("job removed") << "job removed" << 0;
        QTest::newRow("all jobs removed") << "all jobs removed" << 0;
        QTest::newRow("order") << "order" << 0;
        QTest::newRow("settings") << "settings" << 0;
        QTest::newRow("pending clip dropped") << "pending clip dropped" << 0;
        QTest::newRow("two jobs, one id") << "two jobs, one id" << 1;
    }
    void savesAfterAChangeMatchTheFullEncoding()
    {
        QFETCH(QString, change);
        QFETCH(int, encodedAgain);
        const PersistedState before = historyState();
        PersistedState after = before;
        QList<JobRecord> &jobs = after.jobs;
        if (change == u"log line")
            jobs[2].appendLog(LogLevel::warn, QStringLiteral("Retrying \"save\""), whole(300));
        else if (change == u"flag")
            jobs[1].acknowledged = true;
        else if (change == u"date within the second")
            jobs[3].updatedAt = jobs[3].updatedAt.addMSecs(300);
        else if (change == u"text edited in place")
            (*jobs[4].finalContent)[2] = u'X';
        else if (change == u"crosspost result")
            jobs[1].socialPublishes[0].status = JobSocialPublishStatus::error;
        else if (change == u"same id, other record") {
            const QUuid id = jobs[2].id;
            jobs[2] = JobRecord();
            jobs[2].id = id;
        }
        else if (change == u"job added")
            jobs.prepend(sampleState(77).jobs.first());
        else if (change == u"job removed")
            jobs.removeAt(2);
        else if (change == u"all jobs removed")
            jobs.clear();
        else if (change == u"order")
            jobs.swapItemsAt(0, 3);
        else if (change == u"settings")
            after.settings.language = QStringLiteral("fr");
        else if (change == u"pending clip dropped")
            after.pendingClip.reset();
        else if (change == u"two jobs, one id")
            jobs[3].id = jobs[1].id;

        PersistedStateEncoder encoder;
        (void)encoder.encode(before);
        QCOMPARE(encoder.lastEncodedJobs(), before.jobs.size());
        QByteArray joined;
        for (const FilePiece &piece : encoder.encode(after))
            joined += piece.bytes; // nothing written yet: every piece is in hand
        QCOMPARE(joined, after.encode());
        QCOMPARE(encoder.lastEncodedJobs(), encodedAgain);

        PersistenceStore store(base, kDev);
        store.saveState(before.settings, before.pendingClip, before.jobs);
        store.waitForPendingSaves();
        store.saveState(after.settings, after.pendingClip, after.jobs);
        store.waitForPendingSaves();
        QCOMPARE(readFile(store.currentFilePath()), after.encode());
    }

    void burstOfSavesEndsWithTheLast()
    {
        PersistenceStore store(base, kDev);
        PersistedState state = sampleState();
        for (int i = 0; i < 100; ++i)
            state.jobs.append(
                JobRecord::draft(ClipPayload::clipboardText(QString(2000, u'x')), state.settings));
        PersistedState last;
        for (int i = 1; i <= 300; ++i) {
            state.settings.imagesCount = i;
            store.saveState(state.settings, state.pendingClip, state.jobs);
            last = state;
            if (state.jobs.size() > 50)
                state.jobs.removeLast(); // the caller goes on changing its own copy
        }
        store.waitForPendingSaves();
        const PersistedState loaded = store.loadStateNow();
        QCOMPARE(loaded.settings.imagesCount, 300);
        QCOMPARE(loaded.jobs.size(), 50);
        QCOMPARE(loaded.jobs.last().id, last.jobs.last().id);
    }

    // requestSave() takes the state from the source when the store is ready
    // for it; however the last request is finished (by the event loop, a
    // wait, or the store's end), the file holds the state it asked for.
    void requestedSavesEndWithTheLastState_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("event loop") << "event loop";
        QTest::newRow("wait") << "wait";
        QTest::newRow("destruction") << "destruction";
    }
    void requestedSavesEndWithTheLastState()
    {
        QFETCH(QString, ending);
        QObject context;
        PersistedState state = historyState();
        for (JobRecord &job : state.jobs) // long enough that requests arrive while a save is written
            job.sourceText = QString(200000, u'x');
        auto store = std::make_unique<PersistenceStore>(base, kDev);
        const QString path = store->currentFilePath();
        int taken = 0;
        store->setSnapshotSource(&context, [&] {
            ++taken;
            return state;
        });
        for (int i = 1; i <= 50; ++i) {
            state.settings.imagesCount = i;
            state.jobs[i % state.jobs.size()].appendLog(LogLevel::info, QString::number(i), whole(400 + i));
            store->requestSave();
            if (i % 10 == 0)
                QCoreApplication::processEvents();
        }
        const QByteArray last = state.encode();
        if (ending == u"event loop")
            QTRY_COMPARE_WITH_TIMEOUT(readFile(path), last, 20000);
        else if (ending == u"wait")
            store->waitForPendingSaves();
        else
            store.reset();
        QCOMPARE(readFile(path), last);
        QVERIFY2(taken < 50, "requests during a save wait for it instead of each taking a copy");
        // Done: nothing more is taken, however long the loop runs.
        const int settled = taken;
        QTest::qWait(50);
        QCOMPARE(taken, settled);
    }

    void destructionWritesTheWaitingSave()
    {
        const PersistedState state = sampleState(42);
        QString path;
        {
            PersistenceStore store(base, kDev);
            path = store.currentFilePath();
            for (int i = 0; i < 5; ++i)
                store.saveState(state.settings, state.pendingClip, state.jobs);
        }
        QCOMPARE(PersistedState::decode(readFile(path)), state);
    }

    void failedSaveLogsOneLine()
    {
        PersistenceStore store(base, kDev);
        LogCapture capture;
        capture.attach(store);
        // The state's folder is taken by a plain file, so it cannot be created.
        putFile(QFileInfo(store.currentFilePath()).absolutePath(), "occupied");
        const PersistedState state = sampleState();
        // Failing again for the same reason adds no line: a full disk must
        // not flood the log.
        for (int attempt = 0; attempt < 3; ++attempt) {
            store.saveState(state.settings, state.pendingClip, state.jobs);
            store.waitForPendingSaves();
            QVERIFY(store.lastOutcome() && !store.lastOutcome()->saved);
        }
        const QStringList lines = capture.taken();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(QStringLiteral("PersistenceStore save failed: "))
                     && lines.first().contains(QStringLiteral("Not a directory"))
                     && !lines.first().contains(u'\n'),
                 qPrintable(lines.first()));
        // Once the obstacle is gone the next save goes through, and says so once.
        QVERIFY(QFile::remove(QFileInfo(store.currentFilePath()).absolutePath()));
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        QVERIFY(store.lastOutcome()->saved);
        QCOMPARE(store.lastOutcome()->covers, store.lastRequest());
        QCOMPARE(store.loadStateNow(), state);
        QCOMPARE(capture.taken().size(), 2);
        QVERIFY(capture.taken().last().startsWith(QStringLiteral("PersistenceStore saves again: ")));
    }

    // Another program rewrites the file the store copies unchanged jobs
    // from (the one it last wrote, or the one it read) in place: the next
    // save writes the history it holds, none of the other program's bytes,
    // even where the size and the modification time were kept.
    void copiedFromFileChangedInPlace_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("afterReading");
        for (const bool afterReading : {false, true}) {
            const char *when = afterReading ? "read" : "written";
            QTest::addRow("%s, same size and times", when) << QStringLiteral("same size") << afterReading;
            QTest::addRow("%s, cut", when) << QStringLiteral("cut") << afterReading;
            QTest::addRow("%s, grown", when) << QStringLiteral("grown") << afterReading;
        }
    }
    void copiedFromFileChangedInPlace()
    {
        QFETCH(QString, change);
        QFETCH(bool, afterReading);
        PersistedState state = richState(6, 3000, 2); // long texts: copied without comparing them
        auto store = std::make_unique<PersistenceStore>(base, kDev);
        store->saveState(state.settings, state.pendingClip, state.jobs);
        store->waitForPendingSaves();
        if (afterReading) {
            store = std::make_unique<PersistenceStore>(base, kDev);
            QCOMPARE(store->loadStateNow(), state);
        }
        const QString path = store->currentFilePath();
        QByteArray foreign = readFile(path);
        if (change == u"same size")
            foreign.replace("timetable", "timeTABLE");
        else if (change == u"cut")
            foreign.truncate(foreign.size() / 2);
        else
            foreign += foreign;
        QVERIFY(copyOver(path, foreign, 0, {}, true));
        state.jobs[0].appendLog(LogLevel::info, QStringLiteral("One more line"), whole(900));
        store->saveState(state.settings, state.pendingClip, state.jobs);
        store->waitForPendingSaves();
        QVERIFY(store->lastOutcome() && store->lastOutcome()->saved);
        QCOMPARE(readFile(path), state.encode());
    }

    // A long history (read by two threads) loaded while another program
    // copies another history over it or cuts it, at varied moments: no
    // crash, the history loaded is the old one or the new one whole (or,
    // for a cut file, refused), never a mix, and every text of it reads
    // back while the file changes. The held history is then saved whole.
    void fileChangedWhileLoading_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("delayMs");
        for (const char *action : {"copy", "slow copy", "slow copy, long pauses", "rewrite in place", "cut"}) {
            for (const int delay : {0, 1, 3, 8, 20, 50})
                QTest::addRow("%s after %d ms", action, delay) << QString::fromLatin1(action) << delay;
        }
    }
    void fileChangedWhileLoading()
    {
        QFETCH(QString, action);
        QFETCH(int, delayMs);
        static const PersistedState old = richState(40, 60000, 3);
        static const QByteArray oldBytes = old.encode();
        static const PersistedState replacement = [] {
            PersistedState other = richState(25, 50000, 2);
            other.settings.authorName = QStringLiteral("Someone else");
            return other;
        }();
        static const QByteArray replacementBytes = replacement.encode();
        // The same size, other words in the articles: a mix of the two
        // would read as a history.
        static const QByteArray rewrittenBytes = QByteArray(oldBytes).replace("timetable", "timeTABLE");
        static const PersistedState rewritten = PersistedState::decode(rewrittenBytes);
        QVERIFY(oldBytes.size() > 8 << 20);
        PersistenceStore store(base, kDev);
        const QString path = store.currentFilePath();
        putFile(path, oldBytes);
        bool done = false;
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            if (action == u"copy")
                done = copyOver(path, replacementBytes);
            else if (action == u"slow copy")
                done = copyOver(path, replacementBytes, 256 * 1024, std::chrono::milliseconds(2));
            else if (action == u"slow copy, long pauses")
                done = copyOver(path, replacementBytes, 1024 * 1024, std::chrono::milliseconds(15));
            else if (action == u"rewrite in place")
                done = copyOver(path, rewrittenBytes, 256 * 1024, std::chrono::milliseconds(2), false, false);
            else
                done = ::truncate(QFile::encodeName(path).constData(), oldBytes.size() / 3) == 0;
        });
        PersistedState loaded = store.loadStateNow();
        qsizetype characters = 0;
        for (const JobRecord &job : std::as_const(loaded.jobs)) {
            for (const auto *text : {&job.sourceText, &job.finalContent, &job.contentAfterHumanize})
                characters += *text ? (*text)->toString().size() : 0;
        }
        other.join();
        QVERIFY(done);
        if (action == u"cut")
            QVERIFY2(loaded == old || loaded == PersistedState{}, "neither the old history nor refused");
        else if (action == u"rewrite in place")
            QVERIFY2(loaded == old || loaded == rewritten, "neither the old history nor the new one whole");
        else
            QVERIFY2(loaded == old || loaded == replacement, "neither the old history nor the new one whole");
        QVERIFY(loaded.jobs.isEmpty() || characters > 0);

        loaded.settings.imagesCount = 3;
        store.saveState(loaded.settings, loaded.pendingClip, loaded.jobs);
        store.waitForPendingSaves();
        QCOMPARE(readFile(path), loaded.encode());
    }

    // A start reads the index the last save left beside the state file, and
    // only where it describes that very file, whole: anything else reads the
    // state file. Either way the same state, texts and log lines included,
    // the first save writes the encoding, and the start after it takes the
    // index again.
    void indexedLoad_data()
    {
        QTest::addColumn<QString>("change"); // to the files after the last save
        QTest::addColumn<bool>("fromIndex");
        QTest::newRow("none") << QStringLiteral("none") << true;
        QTest::newRow("state file copied back") << QStringLiteral("copy back") << false;
        QTest::newRow("index of an earlier save") << QStringLiteral("earlier index") << false;
        QTest::newRow("index cut short") << QStringLiteral("cut") << false;
        QTest::newRow("a letter of a finished job's crosspost") << QStringLiteral("post") << false;
        QTest::newRow("a digit of the table") << QStringLiteral("table") << false;
        QTest::newRow("a letter of the settings") << QStringLiteral("settings") << false;
        QTest::newRow("index removed") << QStringLiteral("removed") << false;
    }
    void indexedLoad()
    {
        QFETCH(QString, change);
        QFETCH(bool, fromIndex);
        const PersistedState state = historyState(); // a job still to run, four finished ones
        QString path, index;
        QByteArray earlier;
        {
            PersistenceStore writer(base, kDev);
            path = writer.currentFilePath();
            index = writer.indexFilePath();
            PersistedState before = state;
            before.jobs.removeLast();
            writer.saveState(before.settings, before.pendingClip, before.jobs);
            writer.waitForPendingSaves();
            earlier = readFile(index);
            writer.saveState(state.settings, state.pendingClip, state.jobs);
            writer.waitForPendingSaves();
        }
        QByteArray bytes = readFile(index);
        QVERIFY(!earlier.isEmpty() && !bytes.isEmpty() && earlier != bytes);
        QVERIFY(bytes.contains("post-2")); // the outline holds what the panel needs
        const qsizetype tableAt = bytes.indexOf('\n') + 1;
        if (change == u"copy back")
            putFile(path, readFile(path));
        else if (change == u"earlier index")
            putFile(index, earlier);
        else if (change == u"cut")
            putFile(index, bytes.first(bytes.size() - 40));
        else if (change == u"post")
            putFile(index, bytes.replace("post-2", "post-3"));
        else if (change == u"table") // the first job's place in the state file, one byte on
            putFile(index, bytes.replace(bytes.indexOf(' ', tableAt) - 1, 1,
                                         bytes.at(bytes.indexOf(' ', tableAt) - 1) == '9' ? "8" : "9"));
        else if (change == u"settings")
            putFile(index, bytes.replace(bytes.indexOf("\"settings\""), 4, "\"sXt"));
        else if (change == u"removed")
            QVERIFY(QFile::remove(index));

        PersistenceStore store(base, kDev);
        PersistedState loaded = store.loadStateNow();
        QCOMPARE(store.loadedFromIndex(), fromIndex);
        QCOMPARE(loaded, state);
        for (qsizetype i = 1; i < loaded.jobs.size(); ++i) { // the finished ones, as read, not as compared
            QCOMPARE(loaded.jobs.at(i).finalContent->toString(), state.jobs.at(i).finalContent->toString());
            QCOMPARE(loaded.jobs.at(i).logs.lines(), state.jobs.at(i).logs.lines());
        }
        loaded.settings.imagesCount = 3;
        // A finished job gains a line: written with the lines it had.
        loaded.jobs[2].appendLog(LogLevel::info, QStringLiteral("Crossposted again"), whole(300));
        store.saveState(loaded.settings, loaded.pendingClip, loaded.jobs);
        store.waitForPendingSaves();
        QCOMPARE(readFile(path), loaded.encode());
        QCOMPARE(PersistedState::decode(readFile(path)).jobs.at(2).logs.size(), state.jobs.at(2).logs.size() + 1);
        if (fromIndex) // every other job copied from the file, as the index vouched for them
            QCOMPARE(store.jobsEncodedLastSave(), 1);
        PersistenceStore next(base, kDev);
        QCOMPARE(next.loadStateNow(), loaded);
        QVERIFY(next.loadedFromIndex());
    }

    // The state file changes under an indexed start while its articles are
    // still being read: the texts read as empty rather than as the other
    // program's, nothing is saved over that program's file (nor kept for
    // the next start), and the panel hears why. Its attributes set again
    // (chmod, chattr, a backup tool) change nothing of it.
    void stateFileChangedWhileItsArticlesAreRead_data()
    {
        QTest::addColumn<bool>("written");
        QTest::newRow("written in place") << true;
        QTest::newRow("permissions set again") << false; // only the change time moves
    }
    void stateFileChangedWhileItsArticlesAreRead()
    {
        QFETCH(bool, written);
        const PersistedState state = richState(20, 60000, 3);
        QString path;
        {
            PersistenceStore writer(base, kDev);
            path = writer.currentFilePath();
            writer.saveState(state.settings, state.pendingClip, state.jobs);
            writer.waitForPendingSaves();
        }
        QByteArray theirs = readFile(path);
        theirs.replace("timetable", "timeTABLE");
        LogCapture capture;
        QString fallback;
        {
            // The records and the index read at start; the change comes
            // before the store reads the articles.
            PersistenceStore::startEarlyLoad(base, kDev);
            PersistenceStore::waitForEarlyLoad();
            if (written)
                QVERIFY(copyOver(path, theirs, 0, {}, false, false)); // in place
            else
                QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0600), 0);
            PersistenceStore store(base, kDev);
            capture.attach(store);
            fallback = store.fallbackFilePath();
            PersistedState loaded = store.loadStateNow();
            QVERIFY(store.loadedFromIndex());
            if (!written) {
                QCOMPARE(loaded, state);
                loaded.settings.imagesCount = 3;
                store.saveState(loaded.settings, loaded.pendingClip, loaded.jobs);
                store.waitForPendingSaves();
                QVERIFY(store.lastOutcome()->saved);
                PersistenceStore next(base, kDev);
                QCOMPARE(next.loadStateNow(), loaded);
                return;
            }
            const JobRecord &finished = loaded.jobs.last();
            QVERIFY(!finished.isWaiting());
            QCOMPARE(finished.finalContent->toString(), QString());
            QVERIFY(finished.logs.isEmpty());
            // Jobs still to run had theirs read before the start went on.
            qsizetype waiting = 0;
            for (qsizetype i = 0; i < loaded.jobs.size(); ++i) {
                if (!loaded.jobs.at(i).isWaiting())
                    continue;
                ++waiting;
                QCOMPARE(loaded.jobs.at(i).clip.text.toString(), state.jobs.at(i).clip.text.toString());
                QCOMPARE(loaded.jobs.at(i).logs.lines(), state.jobs.at(i).logs.lines());
            }
            QVERIFY(waiting > 0);
            loaded.settings.imagesCount = 3;
            store.saveState(loaded.settings, loaded.pendingClip, loaded.jobs);
            store.waitForPendingSaves();
            QVERIFY(!store.lastOutcome()->saved);
            QVERIFY(store.lastOutcome()->error.contains(u"another program changed the state file"));
            QCOMPARE(readFile(path), theirs);
        }
        QCOMPARE(readFile(path), theirs);
        QVERIFY(!QFileInfo::exists(fallback));
        QVERIFY(capture.taken().join(u'\n').contains(u"saved nothing"));
        PersistenceStore next(base, kDev);
        QCOMPARE(next.loadStateNow(), PersistedState::decode(theirs));
    }

    // The file the first save copies from is written over while the save
    // runs: the save writes the held history, or the other program's copy
    // lands after it; either way a whole document, and the next save
    // writes the held history whole again.
    void fileChangedWhileSaving_data()
    {
        QTest::addColumn<int>("delayMs");
        for (const int delay : {0, 2, 5, 10, 20, 40})
            QTest::addRow("after %d ms", delay) << delay;
    }
    void fileChangedWhileSaving()
    {
        QFETCH(int, delayMs);
        PersistedState state = richState(40, 60000, 3);
        const QByteArray replacement = richState(20, 40000, 2).encode();
        {
            PersistenceStore writer(base, kDev);
            writer.saveState(state.settings, state.pendingClip, state.jobs);
        }
        PersistenceStore store(base, kDev);
        const QString path = store.currentFilePath();
        QCOMPARE(store.loadStateNow(), state);
        state.jobs[3].appendLog(LogLevel::info, QStringLiteral("Changed"), whole(700));
        bool done = false;
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            done = copyOver(path, replacement, 256 * 1024, std::chrono::microseconds(500));
        });
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        other.join();
        QVERIFY(done);
        QVERIFY(store.lastOutcome() && store.lastOutcome()->saved);
        const QByteArray after = readFile(path);
        QVERIFY2(after == state.encode() || after == replacement, "a mix of the two histories");
        state.jobs[4].appendLog(LogLevel::info, QStringLiteral("Changed again"), whole(701));
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        QCOMPARE(readFile(path), state.encode());
    }

    // The state file cannot be written at quit (immutable): the state not
    // saved goes to the fallback file in the cache folder, is taken at the
    // next start when it is newer than the state file and whole, and goes
    // once the state file holds it. Where even that cannot be written, the
    // log names the jobs whose finished stages will be made again.
    void fallbackAtQuit_data()
    {
        QTest::addColumn<QString>("fallback"); // what becomes of it before the next start
        QTest::addColumn<bool>("taken");
        QTest::newRow("newer and whole") << QStringLiteral("kept") << true;
        QTest::newRow("older than the state file") << QStringLiteral("older") << false;
        QTest::newRow("cut short") << QStringLiteral("cut") << false;
        QTest::newRow("cannot be written") << QStringLiteral("unwritable") << false;
    }
    void fallbackAtQuit()
    {
        QFETCH(QString, fallback);
        QFETCH(bool, taken);
        const PersistedState saved = historyState();
        PersistedState unsaved = saved;
        unsaved.jobs[2].title = QStringLiteral("Transformed after saving stopped");
        unsaved.jobs[2].updatedAt =
            QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
        unsaved.jobs[2].transformResult =
            TransformResult{QStringLiteral("# A paid article"), {}, 1, {}, 2, {}};
        LogCapture capture;
        QString path, fallbackPath;
        {
            PersistenceStore store(base, kDev);
            capture.attach(store);
            path = store.currentFilePath();
            fallbackPath = store.fallbackFilePath();
            QVERIFY(!fallbackPath.startsWith(QFileInfo(path).absolutePath()));
            store.saveState(saved.settings, saved.pendingClip, saved.jobs);
            store.waitForPendingSaves();
            if (!setImmutable(path, true))
                QSKIP("the file system does not take the immutable attribute");
            if (fallback == u"unwritable")
                putFile(QFileInfo(fallbackPath).absolutePath(), "occupied");
            store.saveState(unsaved.settings, unsaved.pendingClip, unsaved.jobs);
            store.waitForPendingSaves();
            QVERIFY(!store.lastOutcome()->saved);
        }
        QVERIFY(setImmutable(path, false));
        const QString quitLine = capture.taken().last();
        QVERIFY2(quitLine.startsWith(
                     QStringLiteral("PersistenceStore could not save the latest changes before quitting (")),
                 qPrintable(quitLine));
        if (fallback == u"unwritable") {
            QVERIFY2(quitLine.contains(QStringLiteral("will be requested again"))
                         && quitLine.contains(QStringLiteral("\"Transformed after saving stopped\"")),
                     qPrintable(quitLine));
            // The others were saved before saving stopped.
            for (const JobRecord &job : saved.jobs) {
                if (job.id != unsaved.jobs[2].id)
                    QVERIFY2(!quitLine.contains(job.id.toString(QUuid::WithoutBraces).toUpper()),
                             qPrintable(quitLine));
            }
            QVERIFY(QFile::remove(QFileInfo(fallbackPath).absolutePath()));
        } else {
            QVERIFY2(quitLine.contains(fallbackPath), qPrintable(quitLine));
            QCOMPARE(PersistedState::decode(readFile(fallbackPath)), unsaved);
            QCOMPARE(QFileInfo(fallbackPath).permissions() & 0x0077, QFileDevice::Permissions{});
            struct stat folder {};
            QVERIFY(::stat(QFile::encodeName(QFileInfo(fallbackPath).absolutePath()).constData(), &folder)
                    == 0);
            QCOMPARE(int(folder.st_mode & 0777), 0700);
        }
        if (fallback == u"older") {
            QFile state(path);
            QVERIFY(state.open(QIODevice::ReadWrite));
            QVERIFY(state.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60),
                                      QFileDevice::FileModificationTime));
        } else if (fallback == u"cut") {
            putFile(fallbackPath, readFile(fallbackPath).chopped(40));
        }

        PersistenceStore next(base, kDev);
        const PersistedState loaded = next.loadStateNow();
        QCOMPARE(loaded, taken ? unsaved : saved);
        QCOMPARE(QFile::exists(fallbackPath), fallback != u"unwritable");
        next.saveState(loaded.settings, loaded.pendingClip, loaded.jobs);
        next.waitForPendingSaves();
        QCOMPARE(PersistedState::decode(readFile(path)), loaded);
        QVERIFY(!QFile::exists(fallbackPath)); // the state file holds the newest state now
    }

    void readOnlyFolder()
    {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders; the occupied-folder case covers the failure path");
        PersistenceStore store(base, kDev);
        LogCapture capture;
        capture.attach(store);
        const QString folder = QFileInfo(store.currentFilePath()).absolutePath();
        QVERIFY(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        const PersistedState state = sampleState();
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(capture.taken().size(), 1);
        QVERIFY(capture.taken().first().startsWith(QStringLiteral("PersistenceStore save failed: ")));
    }
};

QTEST_GUILESS_MAIN(TestPersistence)
#include "tst_persistence.moc"
