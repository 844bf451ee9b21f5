// A termination signal ends the program through its normal shutdown: the
// state file's waiting save is written; where it cannot be, the state goes
// to the fallback file, and where that cannot be written either, stderr
// names the jobs whose finished stages will be requested again.
// The real signal is sent to a child process (quit-saver).

#include "state/PersistedState.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace pendrel;

class TestTermination : public QObject {
    Q_OBJECT

private slots:
    void signalRunsTheShutdown_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("fallbackWritable");
        for (const auto &[name, signal] :
             {std::pair{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}}) {
            QTest::addRow("%s, saved", name) << signal << true << true;
            QTest::addRow("%s, cannot save, kept aside", name) << signal << false << true;
            QTest::addRow("%s, cannot save nor keep", name) << signal << false << false;
        }
    }

    void signalRunsTheShutdown()
    {
        QFETCH(int, signal);
        QFETCH(bool, writable);
        QFETCH(bool, fallbackWritable);
        QTemporaryDir dir;
        const QString base = dir.filePath(QStringLiteral("PendrelPublisher"));
        const QString stateFolder = base + QStringLiteral("/com-pendrel-publisher-dev");
        // A store on a base folder of its own keeps its fallback beside it.
        const QString fallbackFolder = base + QStringLiteral("-cache/com-pendrel-publisher-dev");
        QVERIFY(QDir().mkpath(base));
        QVERIFY(QDir().mkpath(base + QStringLiteral("-cache")));
        // A plain file where a folder belongs: even root cannot write there.
        for (const auto &[folder, blocked] : {std::pair{stateFolder, !writable}, {fallbackFolder, !fallbackWritable}}) {
            QFile occupied(folder);
            QVERIFY(!blocked || occupied.open(QIODevice::WriteOnly));
        }
        QProcess saver;
        saver.start(QStringLiteral(PENDREL_QUIT_SAVER_PATH), {base, QStringLiteral("Ada")});
        QVERIFY(saver.waitForStarted());
        QVERIFY(saver.waitForReadyRead());
        QCOMPARE(saver.readAllStandardOutput(), QByteArray("ready\n"));
        ::kill(pid_t(saver.processId()), signal);
        QVERIFY(saver.waitForFinished());
        QCOMPARE(saver.exitStatus(), QProcess::NormalExit);
        QCOMPARE(saver.exitCode(), 0);
        const QByteArray stderrText = saver.readAllStandardError();
        if (writable) {
            QFile file(stateFolder + QStringLiteral("/clipper-state.json"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(PersistedState::decode(file.readAll()).settings.authorName, QStringLiteral("Ada"));
            QVERIFY2(stderrText.isEmpty(), stderrText.constData());
        } else {
            const QByteArray quitLine = "PersistenceStore could not save the latest changes before quitting (";
            const qsizetype at = stderrText.indexOf(quitLine);
            QVERIFY2(at >= 0 && stderrText.indexOf("Not a directory", at) > at, stderrText.constData());
            const QString fallback = fallbackFolder + QStringLiteral("/clipper-state.json");
            if (fallbackWritable) {
                QVERIFY2(stderrText.indexOf("they are kept in " + QFile::encodeName(fallback)) > at,
                         stderrText.constData());
                QFile file(fallback);
                QVERIFY(file.open(QIODevice::ReadOnly));
                const PersistedState kept = PersistedState::decode(file.readAll());
                QCOMPARE(kept.settings.authorName, QStringLiteral("Ada"));
                QCOMPARE(kept.jobs.size(), 1);
            } else {
                QVERIFY2(stderrText.indexOf("will be requested again at the next start: \"Article by Ada\"") > at,
                         stderrText.constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestTermination)
#include "tst_termination.moc"
