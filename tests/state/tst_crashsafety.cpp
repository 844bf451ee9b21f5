#include "state/PersistenceStore.h"
#include "support/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "CrashSnapshots.h"

#include <signal.h>

using namespace pendrel;
using namespace pendrel::test;

namespace {

const QString kDev = QStringLiteral("com.pendrel.publisher.dev");

// What a write killed between creating its temporary file and renaming it
// leaves beside the state file.
const QRegularExpression kTemporary(QStringLiteral("^clipper-state\\.(json|index)\\.[A-Za-z0-9]{6}$"));

struct SaverRun {
    int loaded = -1;
    QList<int> handed;
    QList<int> durable;
};

// Takes the whole lines of the helper's report that have arrived.
void readReport(QProcess &process, SaverRun &run, QByteArray &pending)
{
    pending += process.readAllStandardOutput();
    qsizetype end;
    while ((end = pending.indexOf('\n')) >= 0) {
        const QList<QByteArray> words = pending.left(end).split(' ');
        pending.remove(0, end + 1);
        if (words.size() != 2)
            continue;
        const int k = words.at(1).toInt();
        if (words.at(0) == "loaded")
            run.loaded = k;
        else if (words.at(0) == "handed")
            run.handed.append(k);
        else if (words.at(0) == "durable")
            run.durable.append(k);
    }
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System
                                  | QDir::NoDotAndDotDot);
}

quint32 crashSeed()
{
    const QByteArray fixed = qgetenv("PENDREL_CRASH_SEED");
    return fixed.isEmpty() ? QRandomGenerator::global()->generate() : fixed.toUInt();
}

} // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT

    const CrashSnapshots snapshots;

private slots:
    // The helper saves snapshot after snapshot into one folder and is killed
    // at a random moment, again and again. Whatever the moment, the file in
    // place is one whole snapshot, no older than the last save reported
    // finished, and every start reads what the last kill left.
    void killedWhileSaving_data()
    {
        QTest::addColumn<int>("kills");
        QTest::addColumn<bool>("namedTemporaries");
        QTest::newRow("unnamed temporary files") << 200 << false;
        QTest::newRow("named temporary files (no O_TMPFILE, as on NFS)") << 60 << true;
    }
    void killedWhileSaving()
    {
        QFETCH(int, kills);
        QFETCH(bool, namedTemporaries);
        const quint32 seed = crashSeed();
        qInfo("seed %u (PENDREL_CRASH_SEED=%u repeats this run)", seed, seed);
        QRandomGenerator random(seed);

        QTemporaryDir dir;
        const QString base = dir.filePath(QStringLiteral("share/PendrelPublisher"));
        const PersistenceStore paths(base, kDev);
        const QString file = paths.currentFilePath();
        const QString folder = QFileInfo(file).absolutePath();

        int inPlace = 0; // the k the file holds; 0 while there is none
        int killedInFlight = 0;
        for (int run = 0; run < kills; ++run) {
            const QString where = QStringLiteral("seed %1, run %2").arg(seed).arg(run);
            const int first = run * 100000 + 1;
            QStringList arguments{base, QString::number(first)};
            if (namedTemporaries)
                arguments << QStringLiteral("--named-temporaries");
            QProcess saver;
            saver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            saver.start(QStringLiteral(PENDREL_CRASH_SAVER_PATH), arguments);
            QVERIFY2(saver.waitForStarted(), qPrintable(saver.errorString()));

            SaverRun report;
            QByteArray pending;
            while (report.loaded < 0 && saver.state() == QProcess::Running) {
                saver.waitForReadyRead(30000);
                readReport(saver, report, pending);
            }
            QVERIFY2(report.loaded >= 0, qPrintable(where + QStringLiteral(": the helper did not start")));
            QVERIFY2(report.loaded == inPlace,
                     qPrintable(where
                                + QStringLiteral(": read %1 at start, the file held %2")
                                      .arg(report.loaded)
                                      .arg(inPlace)));

            QThread::usleep(random.bounded(60000u)); // a few saves' time
            ::kill(pid_t(saver.processId()), SIGKILL);
            QVERIFY(saver.waitForFinished(30000));
            QCOMPARE(saver.exitStatus(), QProcess::CrashExit); // still saving when killed
            readReport(saver, report, pending);
            if (!report.handed.isEmpty()
                && (report.durable.isEmpty() || report.durable.last() < report.handed.last()))
                ++killedInFlight;

            QStringList entries = folderEntries(folder);
            entries.removeOne(QStringLiteral("clipper-state.index"));
            if (!entries.removeOne(QStringLiteral("clipper-state.json"))) {
                QVERIFY2(inPlace == 0 && report.durable.isEmpty(),
                         qPrintable(where + QStringLiteral(": the state file is gone")));
            } else {
                QFile in(file);
                QVERIFY(in.open(QIODevice::ReadOnly));
                PersistedState state;
                try {
                    state = PersistedState::decode(in.readAll());
                } catch (const DecodingError &e) {
                    QFAIL(
                        qPrintable(where + QStringLiteral(": the file does not decode: ") + e.description()));
                }
                const int k = CrashSnapshots::carried(state);
                QVERIFY2(state == snapshots.at(k),
                         qPrintable(where + QStringLiteral(": the file is not snapshot %1").arg(k)));
                if (k >= first) {
                    QVERIFY2(
                        !report.handed.isEmpty() && k <= report.handed.last(),
                        qPrintable(where + QStringLiteral(": snapshot %1 was never handed over").arg(k)));
                    if (!report.durable.isEmpty())
                        QVERIFY2(k >= report.durable.last(),
                                 qPrintable(where
                                            + QStringLiteral(": holds %1, %2 was on disk")
                                                  .arg(k)
                                                  .arg(report.durable.last())));
                } else {
                    QVERIFY2(k == inPlace && report.durable.isEmpty(),
                             qPrintable(where + QStringLiteral(": holds %1 of an earlier run").arg(k)));
                }
                inPlace = k;
            }
            // At most the one temporary file of the write this kill interrupted.
            QVERIFY2(entries.size() <= 1, qPrintable(where + QStringLiteral(": left ") + entries.join(u' ')));
            for (const QString &name : std::as_const(entries))
                QVERIFY2(kTemporary.match(name).hasMatch(),
                         qPrintable(where + QStringLiteral(": left ") + name));
        }
        qInfo("%d of %d kills came while a save was under way", killedInFlight, kills);
        // Kills that never meet a save would prove nothing.
        QVERIFY(killedInFlight >= kills / 4);
    }

    // What a killed write leaves is removed at the next start, and nothing else is.
    void abandonedWritesGoAtStart_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("removed");
        QTest::newRow("temporary of the state file") << "clipper-state.json.nFyiXL" << true;
        QTest::newRow("temporary with digits") << "clipper-state.json.Ab12Cd" << true;
        QTest::newRow("unreadable file kept aside")
            << "clipper-state.json.unreadable-20260301T090000Z" << false;
        QTest::newRow("five characters") << "clipper-state.json.AbCdE" << false;
        QTest::newRow("seven characters") << "clipper-state.json.AbCdEfG" << false;
        QTest::newRow("other punctuation") << "clipper-state.json.Ab-CdE" << false;
        QTest::newRow("another file's temporary") << "secrets.json.AbCdEf" << false;
        QTest::newRow("the instance lock") << "instance.lock" << false;
    }
    void abandonedWritesGoAtStart()
    {
        QFETCH(QString, name);
        QFETCH(bool, removed);
        QTemporaryDir dir;
        PersistenceStore store(dir.filePath(QStringLiteral("share/PendrelPublisher")), kDev);
        const PersistedState state = snapshots.at(3);
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        const QString other = QFileInfo(store.currentFilePath()).absoluteDir().filePath(name);
        QFile planted(other);
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write("{\"half\" : ");
        planted.close();
        QCOMPARE(store.loadStateNow(), state);
        QCOMPARE(QFileInfo::exists(other), !removed);
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
