#include "auth/KeychainStore.h"
#include "platform/FileSecretBackend.h"
#include "platform/QtKeychainBackend.h"
#include "support/Tasks.h"

#include <QTemporaryDir>
#include <QTest>

using namespace pendrel;

// Runs without any D-Bus session bus, as on a bare window manager or over
// ssh: the desktop's store cannot answer, so the session goes to the file.
class TestSecretFallback : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("DBUS_SESSION_BUS_ADDRESS"); }

    void noSessionBusUsesTheFile()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("secrets"));
        auto files = std::make_unique<FileSecretBackend>(folder);
        FileSecretBackend *fileStore = files.get();
        FallbackSecretBackend backend(std::make_unique<QtKeychainBackend>(), std::move(files));
        KeychainStore store(backend, QStringLiteral("com.pendrel.publisher.dev"));
        const UserSession session{QStringLiteral("a"), QStringLiteral("r"), 1.5, QStringLiteral("u"),
                                  std::nullopt};
        blockingWait(store.save(session));
        QVERIFY(backend.usingFallback());
        QVERIFY(QFileInfo::exists(fileStore->itemPath(store.service(), QStringLiteral("default"))));
        QCOMPARE(blockingWait(store.loadSession()), session);
    }
};

QTEST_GUILESS_MAIN(TestSecretFallback)
#include "tst_secretfallback.moc"
