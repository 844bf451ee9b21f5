#include "platform/DBusNotificationBackend.h"
#include "platform/XdgLoginItemBackend.h"
#include "support/Error.h"
#include "support/Tasks.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "PrivateBus.h"

using namespace pendrel;
using pendrel::test::PrivateBus;

Q_DECLARE_METATYPE(pendrel::LoginItemBackend::Status)

namespace {

// A notification server that records what it is asked to show.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString app;
        uint replaces = 0;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Shown> shown;
    QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body")};

public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int)
    {
        shown.append({app, replaces, icon, summary, body, actions, hints});
        return replaces ? replaces : uint(100 + shown.size());
    }
    QStringList GetCapabilities() { return capabilities; }
};

void emitSignal(QDBusConnection &bus, const QString &name, const QVariantList &args)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                     QStringLiteral("org.freedesktop.Notifications"), name);
    signal.setArguments(args);
    bus.send(signal);
}

NotificationRequest request(const char *identifier, const QVariantMap &info)
{
    return NotificationRequest{QString::fromLatin1(identifier), QStringLiteral("Title"),
                               QStringLiteral("Body"), info};
}

} // namespace

class TestDesktopBackends : public QObject {
    Q_OBJECT

private slots:
    void autostart_data()
    {
        using S = LoginItemBackend::Status;
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QByteArray>("entry"); // empty: no autostart file
        QTest::addColumn<S>("status");
        const QByteArray valid = "[Desktop Entry]\nType=Application\nExec=/usr/bin/pendrel-publisher\n";
        QTest::newRow("not installed") << false << QByteArray() << S::notFound;
        QTest::newRow("not installed, entry there all the same") << false << valid << S::enabled;
        QTest::newRow("no file") << true << QByteArray() << S::notRegistered;
        QTest::newRow("valid file") << true << valid << S::enabled;
        QTest::newRow("hidden") << true << valid + "Hidden=true\n" << S::requiresApproval;
        QTest::newRow("switched off in GNOME") << true << valid + "X-GNOME-Autostart-enabled=false\n"
                                               << S::requiresApproval;
        QTest::newRow("key in another group") << true << valid + "[Desktop Action x]\nHidden=true\n"
                                              << S::enabled;
        QTest::newRow("not a desktop entry") << true << QByteArray("garbage\n") << S::unavailable;
        QTest::newRow("no Exec") << true << QByteArray("[Desktop Entry]\nType=Application\n")
                                 << S::unavailable;
    }
    void autostart()
    {
        QFETCH(bool, installed);
        QFETCH(QByteArray, entry);
        QFETCH(LoginItemBackend::Status, status);
        QTemporaryDir dir;
        const QString autostart = dir.filePath(QStringLiteral("autostart"));
        const QString installedEntry = dir.filePath(QStringLiteral("com.pendrel.publisher.desktop"));
        if (installed)
            QFile(installedEntry).open(QIODevice::WriteOnly);
        XdgLoginItemBackend backend(autostart, installedEntry,
                                    QStringLiteral("/opt/pendrel/bin/pendrel-publisher"));
        if (!entry.isEmpty()) {
            QDir().mkpath(autostart);
            QFile f(backend.entryPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(entry);
        }
        QCOMPARE(backend.status(), status);
    }

    void autostartRegistration()
    {
        QTemporaryDir dir;
        const QString installedEntry = dir.filePath(QStringLiteral("com.pendrel.publisher.desktop"));
        QFile(installedEntry).open(QIODevice::WriteOnly);
        XdgLoginItemBackend backend(dir.filePath(QStringLiteral("config/autostart")), installedEntry,
                                    QStringLiteral("/opt/My Apps/pendrel-publisher"));
        backend.registerItem();
        QCOMPARE(backend.status(), LoginItemBackend::Status::enabled);
        QFile f(backend.entryPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("Exec=\"/opt/My Apps/pendrel-publisher\"\n"));
        backend.unregisterItem();
        QCOMPARE(backend.status(), LoginItemBackend::Status::notRegistered);
        backend.unregisterItem(); // nothing to remove: fine

        // A folder that is a file cannot take the entry.
        QFile(dir.filePath(QStringLiteral("blocked"))).open(QIODevice::WriteOnly);
        XdgLoginItemBackend blocked(dir.filePath(QStringLiteral("blocked")), installedEntry);
        QVERIFY_THROWS_EXCEPTION(pendrel::Error, blocked.registerItem());
    }

    void notifications()
    {
        PrivateBus bus;
        if (!bus.ok())
            QSKIP("dbus-daemon is not available");
        QDBusConnection serverBus = bus.connect(QStringLiteral("server"));
        FakeNotificationServer server;
        QVERIFY(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                         QDBusConnection::ExportAllSlots));
        QVERIFY(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

        DBusNotificationBackend backend(bus.connect(QStringLiteral("client")));
        int fallbacks = 0;
        backend.fallback = [&](const NotificationRequest &) { ++fallbacks; };
        QSignalSpy activated(&backend, &DBusNotificationBackend::activated);
        const QVariantMap info{{QStringLiteral("open_url"), QStringLiteral("https://blog.test/a")}};
        blockingWait(backend.add(request("pendrel.article.ready.A", info)));
        QCOMPARE(server.shown.size(), 1);
        const auto &first = server.shown.first();
        QCOMPARE(first.app, QStringLiteral("Pendrel Publisher"));
        QCOMPARE(first.replaces, 0u);
        QCOMPARE(first.icon, QStringLiteral("com.pendrel.publisher"));
        QCOMPARE(first.summary, QStringLiteral("Title"));
        QCOMPARE(first.body, QStringLiteral("Body"));
        QCOMPARE(first.actions, (QStringList{QStringLiteral("default"), QStringLiteral("Open")}));
        QCOMPARE(first.hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("com.pendrel.publisher"));

        // The same request again replaces the one on screen.
        blockingWait(backend.add(request("pendrel.article.ready.A", info)));
        QCOMPARE(server.shown.at(1).replaces, 101u);

        // Another application's notification is not ours; ours opens.
        emitSignal(serverBus, QStringLiteral("ActionInvoked"), {7u, QStringLiteral("default")});
        emitSignal(serverBus, QStringLiteral("ActionInvoked"), {101u, QStringLiteral("default")});
        QVERIFY(activated.wait(5000));
        QCOMPARE(activated.size(), 1);
        QCOMPARE(activated.first().first().toMap(), info);

        // Closed notifications are forgotten.
        emitSignal(serverBus, QStringLiteral("NotificationClosed"), {101u, 2u});
        QTest::qWait(100);
        emitSignal(serverBus, QStringLiteral("ActionInvoked"), {101u, QStringLiteral("default")});
        QTest::qWait(200);
        QCOMPARE(activated.size(), 1);
        QCOMPARE(fallbacks, 0);
    }

    void serverWithoutActionsOrNone()
    {
        PrivateBus bus;
        if (!bus.ok())
            QSKIP("dbus-daemon is not available");
        {
            QDBusConnection serverBus = bus.connect(QStringLiteral("plain-server"));
            FakeNotificationServer server;
            server.capabilities = {QStringLiteral("body")};
            QVERIFY(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                             QDBusConnection::ExportAllSlots));
            QVERIFY(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
            DBusNotificationBackend backend(bus.connect(QStringLiteral("plain-client")));
            blockingWait(backend.add(request("pendrel.article.failed.B", {})));
            QCOMPARE(server.shown.size(), 1);
            QVERIFY(server.shown.first().actions.isEmpty());
            serverBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        }
        DBusNotificationBackend lonely(bus.connect(QStringLiteral("lonely-client")));
        QList<NotificationRequest> shown;
        lonely.fallback = [&](const NotificationRequest &r) { shown.append(r); };
        blockingWait(lonely.add(request("pendrel.article.failed.C", {})));
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().identifier, QStringLiteral("pendrel.article.failed.C"));
    }
};

QTEST_GUILESS_MAIN(TestDesktopBackends)
#include "tst_desktopbackends.moc"
