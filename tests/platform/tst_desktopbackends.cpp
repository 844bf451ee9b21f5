#include "platform/ColorSchemePreference.h"
#include "platform/DBusNotificationBackend.h"
#include "platform/KGlobalAccelHotkeyBackend.h"
#include "platform/PanelAppearanceWatcher.h"
#include "platform/XdgLoginItemBackend.h"
#include "support/Error.h"
#include "support/Tasks.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
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
        const QByteArray written = f.readAll();
        QVERIFY(written.contains("\nExec=\"/opt/My Apps/pendrel-publisher\"\n"));
        // The same program, unquoted: the desktop skips the entry once it is gone.
        QVERIFY(written.contains("\nTryExec=/opt/My Apps/pendrel-publisher\n"));
        backend.unregisterItem();
        QCOMPARE(backend.status(), LoginItemBackend::Status::notRegistered);
        backend.unregisterItem(); // nothing to remove: fine

        // A folder that is a file cannot take the entry.
        QFile(dir.filePath(QStringLiteral("blocked"))).open(QIODevice::WriteOnly);
        XdgLoginItemBackend blocked(dir.filePath(QStringLiteral("blocked")), installedEntry);
        QVERIFY_THROWS_EXCEPTION(pendrel::Error, blocked.registerItem());
    }

    // Which desktop settings can recolour the panel the tray icon sits on.
    void panelRecolours_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("recolours");
        QTest::newRow("Xfce's dark mode") << "xfconf" << "xfce4-panel" << "/panels/dark-mode" << true;
        QTest::newRow("an Xfce panel's background")
            << "xfconf" << "xfce4-panel" << "/panels/panel-1/background-rgba" << true;
        QTest::newRow("Xfce's panel list") << "xfconf" << "xfce4-panel" << "/panels" << true;
        QTest::newRow("an Xfce plugin") << "xfconf" << "xfce4-panel" << "/plugins/plugin-2/square-icons" << false;
        QTest::newRow("panels of another channel") << "xfconf" << "xfwm4" << "/panels/dark-mode" << false;
        QTest::newRow("the GTK theme") << "xfconf" << "xsettings" << "/Net/ThemeName" << true;
        QTest::newRow("the icon theme") << "xfconf" << "xsettings" << "/Net/IconThemeName" << false;
        QTest::newRow("colour scheme") << "portal" << "org.freedesktop.appearance" << "color-scheme" << true;
        QTest::newRow("accent colour") << "portal" << "org.freedesktop.appearance" << "accent-color" << false;
        QTest::newRow("GNOME's colour scheme") << "portal" << "org.gnome.desktop.interface" << "color-scheme"
                                               << true;
        QTest::newRow("GNOME's theme") << "portal" << "org.gnome.desktop.interface" << "gtk-theme" << true;
        QTest::newRow("GNOME's font") << "portal" << "org.gnome.desktop.interface" << "font-name" << false;
        QTest::newRow("KDE's colour scheme") << "portal" << "org.kde.kdeglobals.General" << "ColorScheme" << true;
    }
    void panelRecolours()
    {
        QFETCH(QString, source);
        QFETCH(QString, group);
        QFETCH(QString, key);
        QFETCH(bool, recolours);
        QCOMPARE(source == u"xfconf" ? PanelAppearanceWatcher::xfconfRecolours(group, key)
                                     : PanelAppearanceWatcher::portalRecolours(group, key),
                 recolours);
    }

    // The signals as xfconfd and the settings portal send them: a burst
    // of changes is one change, a moment later; others are none.
    void panelChangesHeard()
    {
        PrivateBus bus;
        if (!bus.ok())
            QSKIP("dbus-daemon is not available");
        QDBusConnection desktop = bus.connect(QStringLiteral("desktop"));
        PanelAppearanceWatcher watcher(bus.connect(QStringLiteral("watcher")));
        QSignalSpy changed(&watcher, &PanelAppearanceWatcher::changed);
        QTest::qWait(200); // the match rules are in place
        const auto send = [&](const char *path, const char *interface, const char *member, const QString &group,
                              const QString &key, const QVariant &value) {
            QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(path), QString::fromLatin1(interface),
                                                             QString::fromLatin1(member));
            signal << group << key << QVariant::fromValue(QDBusVariant(value));
            QVERIFY(desktop.send(signal));
        };
        const auto xfconf = [&](const QString &channel, const QString &property, const QVariant &value) {
            send("/org/xfce/Xfconf", "org.xfce.Xfconf", "PropertyChanged", channel, property, value);
        };
        xfconf(QStringLiteral("xfce4-panel"), QStringLiteral("/panels/dark-mode"), false);
        xfconf(QStringLiteral("xfce4-panel"), QStringLiteral("/panels/panel-1/background-style"), 1u);
        QVERIFY(changed.wait(3000));
        QTest::qWait(PanelAppearanceWatcher::settleMs + 200);
        QCOMPARE(changed.size(), 1);

        xfconf(QStringLiteral("xfce4-panel"), QStringLiteral("/plugins/plugin-2/square-icons"), true);
        send("/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged",
             QStringLiteral("org.freedesktop.appearance"), QStringLiteral("accent-color"), 0.5);
        QVERIFY(!changed.wait(PanelAppearanceWatcher::settleMs + 400));

        send("/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged",
             QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), 1u);
        QVERIFY(changed.wait(3000));
        QCOMPARE(changed.size(), 2);
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    }

    // The desktop's colour-scheme preference as each source states it.
    void colorSchemeValues_data()
    {
        using S = ColorSchemePreference::Scheme;
        QTest::addColumn<QString>("source");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("scheme");
        const auto wrapped = [](const QVariant &v) { return QVariant::fromValue(QDBusVariant(v)); };
        QTest::newRow("portal: prefers dark") << "portal" << wrapped(1u) << int(S::dark);
        QTest::newRow("portal: prefers light") << "portal" << wrapped(2u) << int(S::light);
        QTest::newRow("portal: no preference") << "portal" << wrapped(0u) << int(S::noPreference);
        QTest::newRow("portal: a value of a later version") << "portal" << wrapped(3u) << int(S::noPreference);
        QTest::newRow("portal: not a number") << "portal" << wrapped(QStringLiteral("dark")) << int(S::noPreference);
        QTest::newRow("portal Read: dark in a variant in a variant")
            << "portal" << wrapped(wrapped(1u)) << int(S::dark);
        QTest::newRow("portal Read: light in a variant in a variant")
            << "portal" << wrapped(wrapped(2u)) << int(S::light);
        QTest::newRow("GNOME: as gsettings prints it") << "gnome" << QVariant(u"'prefer-dark'"_qs) << int(S::dark);
        QTest::newRow("GNOME: prefer-light") << "gnome" << QVariant(u"prefer-light"_qs) << int(S::light);
        QTest::newRow("GNOME: default") << "gnome" << QVariant(u"'default'"_qs) << int(S::noPreference);
        QTest::newRow("Xfce: Adwaita-dark") << "xfce" << QVariant(u"Adwaita-dark"_qs) << int(S::dark);
        QTest::newRow("Xfce: Arc-Dark") << "xfce" << QVariant(u"Arc-Dark"_qs) << int(S::dark);
        QTest::newRow("Xfce: dark inside the name") << "xfce" << QVariant(u"Orchis-Dark-Compact"_qs) << int(S::dark);
        QTest::newRow("Xfce: Greybird") << "xfce" << QVariant(u"Greybird"_qs) << int(S::light);
        QTest::newRow("Xfce: no theme set") << "xfce" << QVariant(u""_qs) << int(S::noPreference);
        QTest::newRow("KDE: Breeze Dark's window colour")
            << "kde" << QVariant(u"[Colors:Window]\nBackgroundNormal=32,35,38\n"_qs) << int(S::dark);
        QTest::newRow("KDE: Breeze's window colour")
            << "kde" << QVariant(u"[Colors:Window]\nBackgroundNormal=239,240,241\n"_qs) << int(S::light);
        QTest::newRow("KDE: a dark scheme by name only")
            << "kde" << QVariant(u"[General]\nColorScheme=BreezeDark\n"_qs) << int(S::dark);
        QTest::newRow("KDE: a light scheme by name only")
            << "kde" << QVariant(u"[General]\nColorScheme=BreezeClassic\n"_qs) << int(S::light);
        QTest::newRow("KDE: the colours win over the name")
            << "kde" << QVariant(u"[General]\nColorScheme=NotSoDark\n[Colors:Window]\nBackgroundNormal=239,240,241\n"_qs)
            << int(S::light);
        QTest::newRow("KDE: another group's background")
            << "kde" << QVariant(u"[Colors:View]\nBackgroundNormal=20,20,20\n"_qs) << int(S::noPreference);
        QTest::newRow("KDE: nothing about colours") << "kde" << QVariant(u"[KDE]\nSingleClick=false\n"_qs)
                                                    << int(S::noPreference);
    }
    void colorSchemeValues()
    {
        QFETCH(QString, source);
        QFETCH(QVariant, value);
        QFETCH(int, scheme);
        const ColorSchemePreference::Scheme seen =
            source == u"portal"  ? ColorSchemePreference::fromPortalValue(value)
            : source == u"gnome" ? ColorSchemePreference::fromGnomeValue(value.toString())
            : source == u"xfce"  ? ColorSchemePreference::fromXfceThemeName(value.toString())
                                 : ColorSchemePreference::fromKdeGlobals(value.toString());
        QCOMPARE(int(seen), scheme);
    }

    // Who holds Super+Shift+S on KDE, from the action id kglobalaccel gives.
    void kdeHolder_data()
    {
        QTest::addColumn<QStringList>("actionId");
        QTest::addColumn<QString>("holder");
        QTest::newRow("friendly names") << QStringList{"org.kde.spectacle.desktop", "RectangularRegionScreenShot",
                                                       "Spectacle", "Capture Rectangular Region"}
                                        << "\u201CCapture Rectangular Region\u201D (Spectacle)";
        QTest::newRow("unique names only") << QStringList{"my-tool", "grab", "", ""} << "\u201Cgrab\u201D (my-tool)";
        QTest::newRow("nobody") << QStringList{} << "";
        QTest::newRow("empty component") << QStringList{"", "", "", ""} << "";
    }
    void kdeHolder()
    {
        QFETCH(QStringList, actionId);
        QFETCH(QString, holder);
        QCOMPARE(KGlobalAccelHotkeyBackend::holderName(actionId), holder);
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
