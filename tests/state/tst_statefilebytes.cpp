// The state file a store writes after reading one is byte for byte what
// PersistedState::encode() gives for the same state, however the jobs are
// held in between (packed texts, bytes copied from the file last written);
// and the texts a finished job keeps packed read back exactly.

#include "state/AppConfiguration.h"
#include "state/PersistenceStore.h"
#include "support/Error.h"
#include "support/JsonWrite.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "StateSamples.h"

#include <cmath>
#include <functional>
#include <utility>

using namespace pendrel;
using namespace pendrel::test;

namespace {

using Change = std::function<void(PersistedState &)>;
using JobChange = std::function<void(JobRecord &)>;
using Reshape = std::function<QByteArray(QByteArray)>; // the file as another writer might leave it

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every job state, long texts with surrogate pairs, escapes and control
// characters, an empty text, two checkpoints that are the same text, words
// only one long text has, no titles (for a null in their place), and texts
// cut in the middle of an emoji (a surrogate without its partner).
PersistedState sample()
{
    PersistedState state = richState(10, 3000, 4);
    for (JobRecord &job : state.jobs)
        job.title.reset();
    state.jobs[2].contentAfterHumanize = QString();
    state.jobs[3].finalContent = state.jobs[3].transformResult->transformedContent;
    state.jobs[4].finalContent = state.jobs[4].finalContent->toString() + QStringLiteral(" either/or Straße");
    state.jobs[5].finalContent = state.jobs[5].finalContent->toString() + QStringLiteral("cut 🚆").chopped(1);
    state.jobs[6].transformResult->transformedContent =
        QString(QChar(0xDE86)) + state.jobs[6].transformResult->transformedContent.toString();
    state.jobs[6].logs.first().message += QChar(0xD83D);
    return state;
}

std::optional<QString> text(const std::optional<JobText> &t)
{
    return t ? std::optional<QString>(t->toString()) : std::nullopt;
}

} // namespace

class StateFileBytes : public QObject {
    Q_OBJECT

private slots:
    void savedAfterReadingIsTheEncoding_data()
    {
        QTest::addColumn<Reshape>("reshape");
        QTest::addColumn<Change>("first");
        QTest::addColumn<Change>("second");
        QTest::addColumn<int>("encodedFirst"); // jobs the first save encodes: the others are copied
        const Change none = [](PersistedState &) {};
        const Change logFinished = [](PersistedState &s) {
            s.jobs[2].logs.append(JobLogEntry{sampleUuid(QStringLiteral("retry")), sampleMoment(9000),
                                              LogLevel::warn, QStringLiteral("Retry „später“ / \"now\"")});
        };
        const Change newText = [](PersistedState &s) { s.jobs[7].finalContent = sampleText(77, 5000); };
        const Change newJob = [](PersistedState &s) { s.jobs.prepend(richJob(10, 2000, 3)); };
        const Reshape asWritten = [](QByteArray b) { return b; };
        // The same state in other bytes: those jobs are encoded again.
        const Reshape slash = [](QByteArray b) { return b.replace("either\\/or", "either/or"); };
        const Reshape escapedLetter = [](QByteArray b) {
            return b.replace(QStringLiteral("Straße").toUtf8(), "Stra\\u00dfe");
        };
        const Reshape unknownMember = [](QByteArray b) {
            return b.replace("\"voiceoverFailed\"", "\"unknown\" : [1, 2],\n      \"voiceoverFailed\"");
        };
        const Reshape nullOptional = [](QByteArray b) {
            return b.replace("\"voiceoverFailed\"", "\"title\" : null,\n      \"voiceoverFailed\"");
        };
        // Log lines are read one by one without JSON values, except where
        // one has anything unusual; the last of a repeated key counts.
        const auto logsTwice = [](bool lastWithSkippedMember) -> Reshape {
            return [lastWithSkippedMember](QByteArray b) {
                if (lastWithSkippedMember)
                    b.replace("\"level\" : ", "\"skipped\" : 0, \"level\" : ");
                return b.replace("\"logs\" : [",
                                 "\"logs\" : [{\"id\":\"00000000-0000-0000-0000-000000000001\",\"level\":"
                                 "\"info\",\"message\":\"m\",\"timestamp\":\"2026-01-01T00:00:00Z\"}],"
                                 "\"logs\" : [");
            };
        };
        QTest::newRow("unchanged") << asWritten << none << none << 0;
        QTest::newRow("a log line, then a new text") << asWritten << logFinished << newText << 1;
        QTest::newRow("a new job, then a log line") << asWritten << newJob << logFinished << 1;
        QTest::newRow("a slash not escaped") << slash << none << logFinished << 1;
        QTest::newRow("a letter escaped") << escapedLetter << none << none << 1;
        QTest::newRow("a lone surrogate escaped in upper case")
            << Reshape([](QByteArray b) { return b.replace("cut \\ud83d", "cut \\uD83D"); }) << none << none << 1;
        QTest::newRow("a member the reader skips") << unknownMember << none << none << 10;
        QTest::newRow("a null where the writer leaves one out") << nullOptional << newText << none << 10;
        QTest::newRow("logs twice") << logsTwice(false) << none << none << 10;
        QTest::newRow("logs twice, the last with a member the reader skips")
            << logsTwice(true) << none << logFinished << 10;
    }

    void savedAfterReadingIsTheEncoding()
    {
        QFETCH(Reshape, reshape);
        QFETCH(Change, first);
        QFETCH(Change, second);
        QFETCH(int, encodedFirst);
        QTemporaryDir folder;
        PersistedState state = sample();
        {
            PersistenceStore writer(folder.path(), AppConfiguration::bundleIdentifier());
            writer.saveState(state.settings, state.pendingClip, state.jobs);
            writer.waitForPendingSaves();
            QCOMPARE(fileBytes(writer.currentFilePath()), state.encode());
            const QByteArray other = reshape(state.encode());
            QFile file(writer.currentFilePath());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && file.write(other) == other.size());
        }
        PersistenceStore store(folder.path(), AppConfiguration::bundleIdentifier());
        PersistedState loaded = store.loadStateNow();
        QCOMPARE(loaded, state);
        for (const Change &change : {first, second}) {
            change(state);
            change(loaded);
            store.saveState(loaded.settings, loaded.pendingClip, loaded.jobs);
            store.waitForPendingSaves();
            QCOMPARE(fileBytes(store.currentFilePath()), state.encode());
            if (encodedFirst >= 0)
                QCOMPARE(store.jobsEncodedLastSave(), qsizetype(std::exchange(encodedFirst, -1)));
        }
    }

    // A job written straight (the first save's check, every changed job)
    // is what the writer makes of its JSON values, whatever it holds.
    void jobWrittenStraight_data()
    {
        QTest::addColumn<JobChange>("change");
        QTest::newRow("every member") << JobChange([](JobRecord &) {});
        QTest::newRow("every optional left out") << JobChange([](JobRecord &j) {
            j = JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("t")), ClipperSettings::defaults());
            j.clip.author.reset();
        });
        QTest::newRow("inner optionals left out, empty lists") << JobChange([](JobRecord &j) {
            j.result->url.reset();
            j.error = JobErrorInfo{QStringLiteral("m"), std::nullopt, std::nullopt};
            j.transformResult->qualityScore.reset();
            j.transformResult->seoScore.reset();
            j.transformResult->seoMeta.clear();
            j.transformResult->citations.clear();
            j.illustrationsMetadata = IllustrationMetadata{{}, std::nullopt, sampleMoment(5), std::nullopt, std::nullopt};
            j.metadata = ContentMetadata{};
            j.socialPublishes = {JobSocialPublishResult{}};
            j.logs.clear();
            j.settingsSnapshot.socialCrosspostPreferences = {SocialCrosspostPreference{}};
        });
        QTest::newRow("numbers") << JobChange([](JobRecord &j) {
            j.transformResult->qualityScore = std::nan("");
            j.transformResult->seoScore = 100.0;
            j.error->status = -1;
            j.settingsSnapshot.imagesCount = (qint64(1) << 53) + 1;
            j.settingsSnapshot.socialCrosspostPreferences = {SocialCrosspostPreference{
                QStringLiteral("a"), SocialCrosspostPlatform::shopifyBlog, QStringLiteral("n"), true,
                SocialCrosspostMode::article, QStringLiteral("r"), -42, QStringLiteral("b")}};
        });
        // Leap days, the ends of days and years, fractions, time zones, and
        // dates outside 1970 to 9999 and invalid ones.
        QTest::newRow("dates") << JobChange([](JobRecord &j) {
            const QList<QDateTime> dates{
                QDateTime(QDate(2000, 2, 29), QTime(23, 59, 59, 999), Qt::UTC),
                QDateTime(QDate(2100, 3, 1), QTime(0, 0), Qt::UTC),
                QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59), Qt::UTC),
                QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC),
                QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 500), Qt::UTC),
                QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 1), Qt::UTC),
                QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC),
                QDateTime(QDate(2026, 3, 29), QTime(1, 30), Qt::OffsetFromUTC, -5 * 3600),
                QDateTime(QDate(2026, 3, 29), QTime(2, 30), Qt::LocalTime),
                QDateTime(),
            };
            j.createdAt = dates.at(0);
            j.updatedAt = dates.at(1);
            j.clip.createdAt = dates.at(2);
            j.illustrationsMetadata->generatedAt = dates.at(3);
            j.logs.clear();
            for (const QDateTime &date : dates)
                j.logs.append(JobLogEntry{sampleUuid(date.toString()), date, LogLevel::info, QStringLiteral("m")});
        });
        // A supplementary character sorts after U+FF21 by code point, before it in UTF-16.
        QTest::newRow("keys and escapes") << JobChange([](JobRecord &j) {
            const QString odd = QStringLiteral("a/b \"q\" \\ \b\f\n\r\t") + QChar(0x01) + QChar(0x1f)
                                + QChar(0xD800) + QStringLiteral(" \u00e9 \U0001F600");
            j.transformResult->seoMeta = {{QStringLiteral("\uFF21"), odd}, {QStringLiteral("\U0001F600"), QString()},
                                          {QStringLiteral("B"), QStringLiteral("b")}};
            j.logs.append(JobLogEntry{sampleUuid(QStringLiteral("odd")), sampleMoment(1), LogLevel::error, odd});
            j.title = odd;
            j.clip.text = odd;
            j.clip.url = QString();
            j.socialPublishes.append(JobSocialPublishResult{SocialCrosspostPlatform::xArticle, odd, odd,
                                                            SocialCrosspostMode::direct, JobSocialPublishStatus::error,
                                                            odd, odd, odd});
        });
    }

    void jobWrittenStraight()
    {
        QFETCH(JobChange, change);
        JobRecord job = richJob(3, 500, 4);
        change(job);
        for (const int depth : {0, 2})
            QCOMPARE(PersistedStateEncoder::writeJob(job, depth),
                     json::writeSortedAt(job.toJson(JsonDates::iso8601()), depth));
    }

    // A long history is read by two threads, the second from about half
    // way: the same jobs in the same order, and a fault there named by its
    // place in the whole list.
    void longHistoryReadInTwo()
    {
        const PersistedState state = richState(48, 60000, 3);
        const QByteArray bytes = state.encode();
        QVERIFY(bytes.size() > 8 << 20);
        QCOMPARE(PersistedState::decode(bytes), state);
        QByteArray bad = bytes;
        const qsizetype at = bad.indexOf("\"acknowledged\"", bad.size() * 3 / 4);
        QVERIFY(at > 0);
        bad.replace(at, 15, "\"acknowledged\" : 7,\n      \"acknowledgedX\"");
        const qsizetype index = bad.left(at).count("\"acknowledged\"");
        QVERIFY(index > 20);
        try {
            (void)PersistedState::decode(bad);
            QFAIL("a wrong type was read");
        } catch (const DecodingError &e) {
            QVERIFY2(e.description().contains(QStringLiteral("jobs[%1].acknowledged").arg(index)),
                     qPrintable(e.description()));
        }
    }

    void packedTextsReadBackExactly()
    {
        QTemporaryDir folder;
        const PersistedState state = sample();
        PersistenceStore store(folder.path(), AppConfiguration::bundleIdentifier());
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        const PersistedState loaded =
            PersistenceStore(folder.path(), AppConfiguration::bundleIdentifier()).loadStateNow();
        QCOMPARE(loaded.jobs.size(), state.jobs.size());
        for (qsizetype i = 0; i < state.jobs.size(); ++i) {
            const JobRecord &was = state.jobs.at(i);
            const JobRecord &is = loaded.jobs.at(i);
            // Finished jobs keep theirs packed; a job still to run keeps them at hand.
            QCOMPARE(is.finalContent->isPacked(), !was.isWaiting());
            QCOMPARE(is.transformResult->transformedContent.isPacked(), !was.isWaiting());
            QCOMPARE(text(is.sourceText), text(was.sourceText));
            QCOMPARE(is.transformResult->transformedContent.toString(),
                     was.transformResult->transformedContent.toString());
            QCOMPARE(text(is.contentAfterIllustrations), text(was.contentAfterIllustrations));
            QCOMPARE(text(is.contentAfterHumanize), text(was.contentAfterHumanize));
            QCOMPARE(text(is.finalContent), text(was.finalContent));
        }
    }
};

QTEST_GUILESS_MAIN(StateFileBytes)
#include "tst_statefilebytes.moc"
