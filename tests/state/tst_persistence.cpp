#include "state/PersistenceStore.h"
#include "support/Tasks.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include "JsonTestUtil.h"

#include <unistd.h>

using namespace pendrel;
using namespace pendrel::test;
using L = QLatin1StringView;

namespace {

const QString kDev = QStringLiteral("com.pendrel.publisher.dev");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
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
                 QStringList{"clipper-state.json"});
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
        writeFile(store.currentFilePath(), document);
        writeFile(store.legacyFilePath(), sampleState(99).encode()); // never consulted here
        const PersistedState loaded = store.loadStateNow();
        if (decodes)
            QCOMPARE(loaded, sampleState());
        else
            QCOMPARE(loaded, PersistedState{});
    }

    void onlySettingsAndJobs()
    {
        PersistenceStore store(base, kDev);
        PersistedState state = sampleState();
        QJsonObject root = state.toJson(JsonDates::iso8601());
        root.remove(L("pendingClip"));
        writeFile(store.currentFilePath(), json::writeSorted(root));
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
        writeFile(store.legacyFilePath(), legacy);
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
        writeFile(store.legacyFilePath(), sampleState(7).encode());
        QCOMPARE(store.loadStateNow(), sampleState(7));
    }

    void undecodableFileIsKeptAside()
    {
        PersistenceStore store(base, kDev);
        const QByteArray broken = QByteArray(sampleState().encode()).replace("\"mini\"", "\"tiny\"");
        writeFile(store.currentFilePath(), broken);
        writeFile(store.legacyFilePath(), sampleState(3).encode());
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
        writeFile(QFileInfo(store.currentFilePath()).absolutePath(), "occupied");
        const PersistedState state = sampleState();
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        const QStringList lines = capture.taken();
        QCOMPARE(lines.size(), 2);
        for (const QString &line : lines)
            QVERIFY2(line.startsWith(QStringLiteral("PersistenceStore save failed: "))
                         && !line.contains(u'\n'),
                     qPrintable(line));
        // Once the obstacle is gone the next save goes through.
        QVERIFY(QFile::remove(QFileInfo(store.currentFilePath()).absolutePath()));
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        QCOMPARE(store.loadStateNow(), state);
        QCOMPARE(capture.taken().size(), 2);
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
