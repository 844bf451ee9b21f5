#include "auth/KeychainStore.h"
#include "platform/FileSecretBackend.h"
#include "platform/QtKeychainBackend.h"
#include "support/Tasks.h"

#include <QCoroTask>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include "JsonTestUtil.h"

using namespace pendrel;
using pendrel::test::q;

namespace {

UserSession session(const QString &token, std::optional<QString> email = QStringLiteral("ann@pendrel.test"))
{
    return UserSession{token, QStringLiteral("refresh-") + token, 1767225600.123456, QStringLiteral("user-1"),
                       std::move(email)};
}

// A store that answers every call with one fixed outcome.
class ScriptedBackend final : public SecretBackend {
public:
    explicit ScriptedBackend(SecretResult::Status status) : status_(status) {}
    int calls = 0;
    QCoro::Task<SecretResult> read(QString, QString) override { co_return answer(); }
    QCoro::Task<SecretResult> write(QString, QString, QByteArray) override { co_return answer(); }
    QCoro::Task<SecretResult> remove(QString, QString) override { co_return answer(); }

private:
    SecretResult answer()
    {
        ++calls;
        return SecretResult{status_, {}, 7, message_};
    }
    SecretResult::Status status_;
    // Shared with every answer, as a real store's error text is: a result
    // destroyed once too often frees it under its owner.
    QString message_ = QString::fromLatin1("scripted");
};

} // namespace

class TestKeychain : public QObject {
    Q_OBJECT

    QtKeychainBackend desktop;
    const QString identifier = QStringLiteral("com.pendrel.publisher.test");

private slots:
    void init()
    {
        KeychainStore store(desktop, identifier);
        blockingWait(store.clearSession());
    }

    void authStateForm()
    {
        const auto dates = JsonDates::iso8601();
        QCOMPARE(AuthState::unauthenticated().toJson(dates),
                 (QJsonObject{{QStringLiteral("status"), QStringLiteral("unauthenticated")}}));
        AuthState state;
        state.status = AuthStatus::authenticated;
        state.tenantID = QStringLiteral("t1");
        state.balanceCredits = 120;
        state.lastCheckedAt = QDateTime(QDate(2026, 12, 7), QTime(8, 0), Qt::UTC);
        state.session = session(QStringLiteral("x"));
        QCOMPARE(AuthState::fromJson(state.toJson(dates), dates), state);
        QJsonObject unknown = state.toJson(dates);
        unknown.insert(QStringLiteral("status"), QStringLiteral("signedIn"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, AuthState::fromJson(unknown, dates));
    }

    void serviceName()
    {
        QCOMPARE(KeychainStore(desktop, QStringLiteral("com.pendrel.publisher")).service(),
                 QStringLiteral("com.pendrel.publisher.session"));
    }

    void nothingStored()
    {
        KeychainStore store(desktop, identifier);
        QCOMPARE(blockingWait(store.loadSession()), std::nullopt);
        blockingWait(store.clearSession()); // clearing nothing is fine
    }

    void saveTwiceKeepsTheSecond()
    {
        KeychainStore store(desktop, identifier);
        blockingWait(store.save(session(QStringLiteral("first"))));
        blockingWait(store.save(session(QStringLiteral("second"))));
        // A fresh store, as after a restart, reads the one item back.
        KeychainStore later(desktop, identifier);
        QCOMPARE(blockingWait(later.loadSession()), session(QStringLiteral("second")));
        blockingWait(later.clearSession());
        QCOMPARE(blockingWait(store.loadSession()), std::nullopt);
    }

    void itemForm()
    {
        KeychainStore store(desktop, identifier);
        blockingWait(store.save(session(QStringLiteral("t"), std::nullopt)));
        const SecretResult raw = blockingWait(desktop.read(store.service(), QStringLiteral("default")));
        QCOMPARE(raw.status, SecretResult::Status::ok);
        const QJsonObject o = QJsonDocument::fromJson(raw.data).object();
        QCOMPARE(o.keys(), (QStringList{"accessToken", "expiresAt", "refreshToken", "userID"}));
        QCOMPARE(o.value(QStringLiteral("expiresAt")).toDouble(), 1767225600.123456);
        const auto loaded = blockingWait(store.loadSession());
        QVERIFY(loaded);
        QCOMPARE(loaded->email, std::nullopt);
        QCOMPARE(loaded->expiresAt, 1767225600.123456);
    }

    void unreadableItemThenClear_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("not json") << QByteArray("not json");
        QTest::newRow("missing userID") << q("{'accessToken':'a','refreshToken':'r','expiresAt':1}");
        QTest::newRow("expiresAt as text")
            << q("{'accessToken':'a','refreshToken':'r','expiresAt':'1','userID':'u'}");
    }
    void unreadableItemThenClear()
    {
        QFETCH(QByteArray, data);
        KeychainStore store(desktop, identifier);
        blockingWait(desktop.write(store.service(), QStringLiteral("default"), data));
        QVERIFY_THROWS_EXCEPTION(DecodingError, blockingWait(store.loadSession()));
        blockingWait(store.clearSession());
        QCOMPARE(blockingWait(store.loadSession()), std::nullopt);
    }

    void operationsRunInOrder()
    {
        KeychainStore store(desktop, identifier);
        // Started together: the load waits for the save ahead of it, the
        // clear waits for the load.
        auto saved = store.save(session(QStringLiteral("queued")));
        auto loaded = store.loadSession();
        auto cleared = store.clearSession();
        auto after = store.loadSession();
        QCOMPARE(blockingWait(std::move(loaded)), session(QStringLiteral("queued")));
        blockingWait(std::move(saved));
        blockingWait(std::move(cleared));
        QCOMPARE(blockingWait(std::move(after)), std::nullopt);
    }

    void storeFailuresAreKeychainErrors()
    {
        ScriptedBackend failing(SecretResult::Status::failure);
        KeychainStore store(failing, identifier);
        try {
            blockingWait(store.loadSession());
            QFAIL("no error");
        } catch (const KeychainError &e) {
            QCOMPARE(e.code(), 7);
            QCOMPARE(e.description(), QStringLiteral("scripted"));
        }
        QVERIFY_THROWS_EXCEPTION(KeychainError, blockingWait(store.save(session(QStringLiteral("x")))));
        // Not stored, but held for this run without asking the store again.
        QCOMPARE(blockingWait(store.loadSession()), session(QStringLiteral("x")));
        blockingWait(store.clearSession()); // never fails
        QCOMPARE(failing.calls, 4);         // load; delete + add; delete
        QVERIFY_THROWS_EXCEPTION(KeychainError, blockingWait(store.loadSession()));
    }

    void fileBackend()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("secrets"));
        FileSecretBackend files(folder);
        KeychainStore store(files, identifier);
        QCOMPARE(blockingWait(store.loadSession()), std::nullopt);
        blockingWait(store.save(session(QStringLiteral("one"))));
        blockingWait(store.save(session(QStringLiteral("two"))));
        QCOMPARE(blockingWait(store.loadSession()), session(QStringLiteral("two")));
        const QFileInfo item(files.itemPath(store.service(), QStringLiteral("default")));
        QCOMPARE(item.permissions() & 0x00FF, QFile::Permissions()); // nothing for group or others
        QCOMPARE(QFileInfo(folder).permissions() & 0x00FF,
                 QFile::Permissions()); // nothing for group or others
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
        blockingWait(store.clearSession());
        QVERIFY(!QFileInfo::exists(item.filePath()));
        QCOMPARE(blockingWait(store.loadSession()), std::nullopt);
    }

    void fallbackOnlyWhenNoStoreAnswers_data()
    {
        QTest::addColumn<SecretResult::Status>("primary");
        QTest::addColumn<bool>("fallsBack");
        QTest::newRow("no backend") << SecretResult::Status::noBackend << true;
        QTest::newRow("store failure") << SecretResult::Status::failure << false;
        QTest::newRow("not found") << SecretResult::Status::notFound << false;
    }
    void fallbackOnlyWhenNoStoreAnswers()
    {
        QFETCH(SecretResult::Status, primary);
        QFETCH(bool, fallsBack);
        QTemporaryDir dir;
        auto scripted = std::make_unique<ScriptedBackend>(primary);
        ScriptedBackend *desktopStore = scripted.get();
        FallbackSecretBackend backend(std::move(scripted),
                                      std::make_unique<FileSecretBackend>(dir.filePath(QStringLiteral("s"))));
        KeychainStore store(backend, identifier);
        if (fallsBack) {
            blockingWait(store.save(session(QStringLiteral("kept"))));
            QCOMPARE(blockingWait(store.loadSession()), session(QStringLiteral("kept")));
            QCOMPARE(desktopStore->calls, 1); // asked once, then never again
        } else if (primary == SecretResult::Status::failure) {
            QVERIFY_THROWS_EXCEPTION(KeychainError, blockingWait(store.loadSession()));
        } else {
            QCOMPARE(blockingWait(store.loadSession()), std::nullopt);
        }
        QCOMPARE(backend.usingFallback(), fallsBack);
    }

    // A run without a secret store kept the session in the file; signing
    // out in a later run, with the desktop's store answering, must not leave
    // that copy for a third run without the store to bring back.
    void signOutRemovesTheFileCopyToo()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("s"));
        {
            FallbackSecretBackend earlier(std::make_unique<ScriptedBackend>(SecretResult::Status::noBackend),
                                          std::make_unique<FileSecretBackend>(folder));
            blockingWait(KeychainStore(earlier, identifier).save(session(QStringLiteral("old"))));
        }
        {
            FallbackSecretBackend withStore(std::make_unique<QtKeychainBackend>(),
                                            std::make_unique<FileSecretBackend>(folder));
            KeychainStore store(withStore, identifier);
            blockingWait(store.save(session(QStringLiteral("new"))));
            QCOMPARE(blockingWait(store.loadSession()), session(QStringLiteral("new")));
            blockingWait(store.clearSession());
            QVERIFY(!withStore.usingFallback());
            QCOMPARE(blockingWait(store.loadSession()), std::nullopt);
        }
        FallbackSecretBackend later(std::make_unique<ScriptedBackend>(SecretResult::Status::noBackend),
                                    std::make_unique<FileSecretBackend>(folder));
        QCOMPARE(blockingWait(KeychainStore(later, identifier).loadSession()), std::nullopt);
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
