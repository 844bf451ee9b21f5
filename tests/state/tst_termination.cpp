// A termination signal ends the program through its normal shutdown: the
// state file's waiting save is written, or stderr says it could not be.
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
        for (const auto &[name, signal] :
             {std::pair{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}}) {
            QTest::addRow("%s, saved", name) << signal << true;
            QTest::addRow("%s, cannot save", name) << signal << false;
        }
    }

    void signalRunsTheShutdown()
    {
        QFETCH(int, signal);
        QFETCH(bool, writable);
        QTemporaryDir dir;
        const QString base = dir.filePath(QStringLiteral("PendrelPublisher"));
        const QString stateFolder = base + QStringLiteral("/com-pendrel-publisher-dev");
        QVERIFY(QDir().mkpath(base));
        if (!writable) { // a plain file where the state's folder belongs: even root cannot write there
            QFile occupied(stateFolder);
            QVERIFY(occupied.open(QIODevice::WriteOnly));
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
            const QByteArray quitLine =
                "PersistenceStore could not save the latest changes before quitting: ";
            const qsizetype at = stderrText.indexOf(quitLine);
            QVERIFY2(at >= 0 && stderrText.indexOf("Not a directory", at) > at, stderrText.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestTermination)
#include "tst_termination.moc"
