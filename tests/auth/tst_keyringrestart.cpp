#include "auth/KeychainStore.h"
#include "platform/QtKeychainBackend.h"
#include "support/Tasks.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <memory>

#include <signal.h>

using namespace pendrel;

namespace {

const QString kSecretService = QStringLiteral("org.freedesktop.secrets");

uint secretServicePid()
{
    const QDBusReply<uint> pid = QDBusConnection::sessionBus().interface()->servicePid(kSecretService);
    return pid.isValid() ? pid.value() : 0;
}

UserSession session(const QString &token)
{
    return UserSession{token, QStringLiteral("refresh-") + token, 1767225600.5, QStringLiteral("user-1"), {}};
}

} // namespace

// The keyring daemon dies and a fresh one takes its place while the program
// runs: sign-ins keep working, with the real gnome-keyring.
class TestKeyringRestart : public QObject {
    Q_OBJECT

    const QString identifier = QStringLiteral("com.pendrel.publisher.restart-test");

    // A fresh daemon, unlocked as the test session starts its own, queued on
    // the bus behind the running one; killing that one hands it the name at
    // once, so the other tests on this bus never find the name without an
    // owner (which would start a locked keyring through D-Bus activation).
    // False when the replacement is not in place.
    bool restartDaemon(bool letEventsIn)
    {
        const uint old = secretServicePid();
        static int count = 0;
        const QString runtime = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
                                    .filePath(QStringLiteral("keyring-restart-%1-%2")
                                                  .arg(QCoreApplication::applicationPid())
                                                  .arg(++count));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess daemon;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime); // not to find the running one and defer to it
        daemon.setProcessEnvironment(env);
        daemon.start(QStringLiteral("gnome-keyring-daemon"),
                     {QStringLiteral("--unlock"), QStringLiteral("--components=secrets"), QStringLiteral("--daemonize")});
        daemon.write("pendrel-test");
        daemon.closeWriteChannel();
        if (!daemon.waitForFinished(30000) || daemon.exitCode() != 0)
            return false;
        QDBusServiceWatcher watcher(kSecretService, QDBusConnection::sessionBus(),
                                    QDBusServiceWatcher::WatchForOwnerChange);
        QSignalSpy handedOver(&watcher, &QDBusServiceWatcher::serviceOwnerChanged);
        ::kill(pid_t(old), SIGKILL);
        // Blocking bus calls only, so that nothing in this process hears of
        // the change before the next secret-store call when so asked.
        for (int i = 0; i < 300 && (secretServicePid() == old || secretServicePid() == 0); ++i)
            QThread::msleep(50);
        if (secretServicePid() == old || secretServicePid() == 0)
            return false;
        if (letEventsIn)
            return handedOver.wait(10000) || !handedOver.isEmpty();
        return true;
    }

    // Saves a session, reads it back through a store that has kept nothing
    // for this run, and removes it; what went wrong, or nothing.
    QString saveAndLoad(SecretBackend &backend, const QString &token)
    {
        try {
            KeychainStore store(backend, identifier);
            blockingWait(store.save(session(token)));
            KeychainStore fresh(backend, identifier);
            const std::optional<UserSession> loaded = blockingWait(fresh.loadSession());
            blockingWait(fresh.clearSession());
            return loaded == session(token) ? QString() : QStringLiteral("the saved session did not load back");
        } catch (const Error &e) {
            return e.description();
        }
    }

private slots:
    void initTestCase()
    {
        if (secretServicePid() == 0 || QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty())
            QSKIP("no gnome-keyring Secret Service on this bus (run inside scripts/with-test-session)");
    }

    void savesAndLoadsAfterARestart_data()
    {
        QTest::addColumn<bool>("letEventsIn");
        QTest::addColumn<bool>("backendAfterRestart");
        // The bus's notice of the new owner has been handled before the call…
        QTest::newRow("notice first") << true << false;
        // … or not yet.
        QTest::newRow("call first") << false << false;
        // libsecret's connection outlives every backend: one made after the
        // restart never hears of it, and recovers when the call fails.
        QTest::newRow("backend made after the restart") << true << true;
    }

    void savesAndLoadsAfterARestart()
    {
        QFETCH(bool, letEventsIn);
        QFETCH(bool, backendAfterRestart);
        auto desktop = std::make_unique<QtKeychainBackend>();
        // Opens libsecret's connection and session with the running daemon.
        const QString before = saveAndLoad(*desktop, QStringLiteral("before"));
        QVERIFY2(before.isEmpty(), qPrintable(before));
        if (backendAfterRestart)
            desktop.reset();

        QVERIFY2(restartDaemon(letEventsIn), "the replacement keyring daemon did not take over");

        if (!desktop)
            desktop = std::make_unique<QtKeychainBackend>();
        const QString after = saveAndLoad(*desktop, QStringLiteral("after"));
        QVERIFY2(after.isEmpty(), qPrintable(after));
    }
};

QTEST_GUILESS_MAIN(TestKeyringRestart)
#include "tst_keyringrestart.moc"
