#include "platform/PortalHotkeyBackend.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTest>
#include <QTimer>

#include "PrivateBus.h"

using namespace pendrel;

namespace {

// The desktop portal's GlobalShortcuts, as xdg-desktop-portal answers it.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    explicit FakePortal(QDBusConnection bus) : bus_(std::move(bus)) {}
    uint version() const { return 1; }

    QStringList calls;
    QList<PortalShortcut> bound;
    QString sessionPath;

public slots:
    QDBusObjectPath CreateSession(const QVariantMap &options)
    {
        calls << QStringLiteral("CreateSession");
        const QString sender = senderPart();
        sessionPath = QStringLiteral("/org/freedesktop/portal/desktop/session/") + sender + u'/'
                      + options.value(QStringLiteral("session_handle_token")).toString();
        return respond(options, {{QStringLiteral("session_handle"), sessionPath}});
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath &session,
                                  const QList<pendrel::PortalShortcut> &shortcuts, const QString &,
                                  const QVariantMap &options)
    {
        calls << QStringLiteral("BindShortcuts ") + session.path();
        bound = shortcuts;
        return respond(options, {});
    }

private:
    QString senderPart() const
    {
        QString sender = message().service().mid(1);
        return sender.replace(u'.', u'_');
    }
    // Answers with the request handle, then sends the Response on it.
    QDBusObjectPath respond(const QVariantMap &options, const QVariantMap &results)
    {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/") + senderPart() + u'/'
                             + options.value(QStringLiteral("handle_token")).toString();
        QTimer::singleShot(10, this, [this, path, results] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            signal << 0u << results;
            bus_.send(signal);
        });
        return QDBusObjectPath(path);
    }
    QDBusConnection bus_;
};

} // namespace

class TestPortalHotkey : public QObject {
    Q_OBJECT

private slots:
    void bindsAndReceivesPresses()
    {
        test::PrivateBus bus;
        if (!bus.ok())
            QSKIP("dbus-daemon is not available");
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        QDBusConnection client = bus.connect(QStringLiteral("client"));
        QVERIFY(!PortalHotkeyBackend::isAvailable(client)); // no portal yet

        QDBusConnection portalBus = bus.connect(QStringLiteral("portal"));
        FakePortal portal(portalBus);
        QVERIFY(
            portalBus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));

        PortalHotkeyBackend backend(client);
        int presses = 0;
        QVERIFY(backend.registerHotkey([&] { ++presses; }));
        QVERIFY(QTest::qWaitFor([&] { return portal.calls.size() == 2; }, 5000));
        QCOMPARE(portal.calls.last(), QStringLiteral("BindShortcuts ") + portal.sessionPath);
        QCOMPARE(portal.bound.size(), 1);
        QCOMPARE(portal.bound.first().id, QStringLiteral("capture-clipboard"));
        QCOMPARE(portal.bound.first().properties.value(QStringLiteral("preferred_trigger")).toString(),
                 QStringLiteral("LOGO+SHIFT+s"));
        QVERIFY(backend.isBound());

        const auto activate = [&](const QString &session, const QString &id) {
            QDBusMessage signal = QDBusMessage::createSignal(
                QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
            signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1) << QVariantMap();
            portalBus.send(signal);
        };
        activate(QStringLiteral("/org/freedesktop/portal/desktop/session/other/x"),
                 QStringLiteral("capture-clipboard"));
        activate(portal.sessionPath, QStringLiteral("something-else"));
        activate(portal.sessionPath, QStringLiteral("capture-clipboard"));
        QVERIFY(QTest::qWaitFor([&] { return presses == 1; }, 5000));
        QTest::qWait(100);
        QCOMPARE(presses, 1);
    }
};

QTEST_GUILESS_MAIN(TestPortalHotkey)
#include "tst_portalhotkey.moc"
