#include "platform/PortalHotkeyBackend.h"
#include "support/Tasks.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusVirtualObject>
#include <QTest>
#include <QTimer>

#include "PrivateBus.h"

#include <csignal>

using namespace pendrel;

namespace {

// A fake of the desktop portal's GlobalShortcuts (the real one runs in
// tests/shell/wayland-kde.sh): same signatures, and like xdg-desktop-portal
// it answers a bind with the shortcuts it bound and the trigger assigned.
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
    // How the next bind is answered: the Response code, and whether the
    // results list the shortcuts (Plasma 5.27's back end lists none).
    uint bindResponse = 0;
    bool listBound = true;
    QString assignedTrigger = QStringLiteral("Meta+Shift+S");

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
        QList<PortalShortcut> answer;
        if (listBound) {
            for (PortalShortcut s : shortcuts) {
                s.properties = {
                    {QStringLiteral("description"), s.properties.value(QStringLiteral("description"))},
                    {QStringLiteral("trigger_description"), assignedTrigger}};
                answer << s;
            }
        }
        return respond(options, {{QStringLiteral("shortcuts"), QVariant::fromValue(answer)}}, bindResponse);
    }

private:
    QString senderPart() const
    {
        QString sender = message().service().mid(1);
        return sender.replace(u'.', u'_');
    }
    // Answers with the request handle, then sends the Response on it.
    QDBusObjectPath respond(const QVariantMap &options, const QVariantMap &results, uint code = 0)
    {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/") + senderPart() + u'/'
                             + options.value(QStringLiteral("handle_token")).toString();
        QTimer::singleShot(10, this, [this, path, results, code] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            signal << code << results;
            bus_.send(signal);
        });
        return QDBusObjectPath(path);
    }
    QDBusConnection bus_;
};

// A portal that takes its time to say whether it offers global shortcuts,
// as one the bus has to start first does: the Properties.Get of the
// interface's version is answered (or refused) 300 ms late, on the same
// thread as the program's side. Every other call is refused.
class LatePortal : public QDBusVirtualObject {
public:
    bool present = true;
    bool answered = false;
    QStringList calls;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        calls << message.interface() + u'.' + message.member();
        QDBusConnection bus = connection;
        if (message.member() != u"Get") {
            bus.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("not here")));
            return true;
        }
        QTimer::singleShot(300, this, [this, bus, message]() mutable {
            answered = true;
            bus.send(present ? message.createReply(QVariant::fromValue(QDBusVariant(1u)))
                             : message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such interface")));
        });
        return true;
    }
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
        QVERIFY(!blockingWait(PortalHotkeyBackend::isAvailable(client))); // no portal yet

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
        QVERIFY(QTest::qWaitFor([&] { return backend.isBound(); }, 5000));

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

        // Other keys chosen: a new session asks for them as the preferred
        // trigger, and what the desktop assigned is what it reports.
        QList<QString> triggers;
        backend.stateChanged = [&](HotkeyState state, const QString &trigger) {
            if (state == HotkeyState::Active)
                triggers << trigger;
        };
        backend.unregisterHotkey();
        backend.setKeys(*ShortcutKeys::fromText(u"Ctrl+Alt+P"));
        portal.assignedTrigger = QStringLiteral("Ctrl+Alt+Q");
        QVERIFY(backend.registerHotkey([&] { ++presses; }));
        QVERIFY(QTest::qWaitFor([&] { return portal.calls.size() == 4; }, 5000));
        QCOMPARE(portal.bound.first().properties.value(QStringLiteral("preferred_trigger")).toString(),
                 QStringLiteral("CTRL+ALT+p"));
        QVERIFY(QTest::qWaitFor([&] { return !triggers.isEmpty(); }, 5000));
        QCOMPARE(triggers, QList<QString>{QStringLiteral("Ctrl+Alt+Q")});
        QCOMPARE(backend.trigger(), QStringLiteral("Ctrl+Alt+Q"));
    }

    // Whether the portal is there is not waited for: registering returns
    // before the portal has answered (the program's start-up goes on), and
    // the answer comes as a state.
    void answerComesLate_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QList<int>>("states");
        // There: the desktop is asked, and the bind goes on (this portal
        // refuses it). Without one nothing is asked, and nothing said to
        // be waited for.
        QTest::newRow("there") << true << QList<int>{int(HotkeyState::Pending), int(HotkeyState::Declined)};
        QTest::newRow("without GlobalShortcuts") << false << QList<int>{int(HotkeyState::Unavailable)};
    }
    void answerComesLate()
    {
        QFETCH(bool, present);
        QFETCH(QList<int>, states);
        test::PrivateBus bus;
        if (!bus.ok())
            QSKIP("dbus-daemon is not available");
        const QString n = QString::number(present);
        QDBusConnection portalBus = bus.connect(QStringLiteral("late-portal-") + n);
        LatePortal portal;
        portal.present = present;
        QVERIFY(portalBus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal));
        QVERIFY(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        {
            PortalHotkeyBackend backend(bus.connect(QStringLiteral("late-client-") + n));
            QList<int> said;
            backend.stateChanged = [&](HotkeyState s, const QString &) { said << int(s); };
            QVERIFY(backend.registerHotkey([] {}));
            QVERIFY(backend.answersLater());
            QVERIFY(!portal.answered);
            QVERIFY(said.isEmpty());
            QVERIFY(QTest::qWaitFor([&] { return said.size() >= states.size(); }, 5000));
            QTest::qWait(100); // and nothing more
            QVERIFY(portal.answered);
            QCOMPARE(said, states);
            QCOMPARE(portal.calls.contains(u"org.freedesktop.portal.GlobalShortcuts.CreateSession"), present);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("late-client-") + n);
        QDBusConnection::disconnectFromBus(QStringLiteral("late-portal-") + n);
    }

    void outcome_data()
    {
        QTest::addColumn<uint>("response");
        QTest::addColumn<bool>("listBound");
        QTest::addColumn<QString>("assigned");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("trigger");
        const int active = int(HotkeyState::Active), declined = int(HotkeyState::Declined);
        QTest::newRow("bound as asked") << 0u << true << "Meta+Shift+S" << active << "Meta+Shift+S";
        QTest::newRow("bound to other keys") << 0u << true << "Ctrl+Alt+P" << active << "Ctrl+Alt+P";
        QTest::newRow("success listing nothing") << 0u << false << "" << declined << "";
        QTest::newRow("user cancelled") << 1u << true << "Meta+Shift+S" << declined << "";
        QTest::newRow("desktop refused") << 2u << true << "Meta+Shift+S" << declined << "";
    }
    void outcome()
    {
        QFETCH(uint, response);
        QFETCH(bool, listBound);
        QFETCH(QString, assigned);
        QFETCH(int, state);
        QFETCH(QString, trigger);
        Stack stack;
        if (!stack.ok())
            QSKIP("dbus-daemon is not available");
        stack.portal->bindResponse = response;
        stack.portal->listBound = listBound;
        stack.portal->assignedTrigger = assigned;
        QVERIFY(stack.backend->registerHotkey([] {}));
        QVERIFY(QTest::qWaitFor([&] { return stack.states.size() >= 2; }, 5000));
        QCOMPARE(stack.states.first(), int(HotkeyState::Pending));
        QCOMPARE(stack.states.last(), state);
        QCOMPARE(stack.backend->isBound(), state == int(HotkeyState::Active));
        QCOMPARE(stack.backend->trigger(), trigger);
    }

    // The user changes the keys in the desktop's settings; the portal
    // restarts and forgets every session.
    void followsChangesAndRestarts()
    {
        Stack stack;
        if (!stack.ok())
            QSKIP("dbus-daemon is not available");
        QVERIFY(stack.backend->registerHotkey([] {}));
        QVERIFY(QTest::qWaitFor([&] { return stack.backend->isBound(); }, 5000));

        const auto changed = [&](const QString &session, const QString &trigger) {
            QDBusMessage signal = QDBusMessage::createSignal(
                QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("ShortcutsChanged"));
            const QList<PortalShortcut> list{
                {QStringLiteral("capture-clipboard"), {{QStringLiteral("trigger_description"), trigger}}}};
            signal << QVariant::fromValue(QDBusObjectPath(session)) << QVariant::fromValue(list);
            stack.portalBus.send(signal);
        };
        changed(QStringLiteral("/org/freedesktop/portal/desktop/session/other/x"), QStringLiteral("F1"));
        changed(stack.portal->sessionPath, QStringLiteral("Ctrl+F9"));
        QVERIFY(QTest::qWaitFor([&] { return stack.backend->trigger() == u"Ctrl+F9"; }, 5000));

        // A new portal process: a new owner of the name, no sessions.
        const QString before = stack.portal->sessionPath;
        QVERIFY(stack.portalBus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop")));
        QDBusConnection again = stack.bus.connect(QStringLiteral("portal2"));
        FakePortal restarted(again);
        restarted.assignedTrigger = QStringLiteral("Meta+Shift+S");
        QVERIFY(again.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &restarted,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(again.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        QVERIFY(
            QTest::qWaitFor([&] { return restarted.calls.size() == 2 && stack.backend->isBound(); }, 5000));
        QVERIFY(restarted.sessionPath != before);
        QCOMPARE(stack.backend->trigger(), QStringLiteral("Meta+Shift+S"));
        QDBusConnection::disconnectFromBus(QStringLiteral("portal2"));
    }

    // Against the session's real portal, when tests/shell/wayland-kde.sh
    // runs one: what the backend reports bound must be what the desktop's
    // shortcut daemon (kglobalaccel) holds.
    void realPortal()
    {
        if (qEnvironmentVariableIsEmpty("PENDREL_REAL_PORTAL"))
            QSKIP("no real portal (run by tests/shell/wayland-kde.sh)");
        QDBusConnection session = QDBusConnection::sessionBus();
        QVERIFY(blockingWait(PortalHotkeyBackend::isAvailable(session)));
        PortalHotkeyBackend backend(session);
        QList<int> states;
        backend.stateChanged = [&](HotkeyState s, const QString &) { states << int(s); };
        QVERIFY(backend.registerHotkey([] {}));
        QVERIFY(QTest::qWaitFor(
            [&] { return !states.isEmpty() && states.last() != int(HotkeyState::Pending); }, 30000));

        bool held = false;
        QDBusMessage list = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.kglobalaccel"), QStringLiteral("/kglobalaccel"),
            QStringLiteral("org.kde.KGlobalAccel"), QStringLiteral("allComponents"));
        const QDBusMessage components = session.call(list);
        QCOMPARE(components.type(), QDBusMessage::ReplyMessage);
        for (const QDBusObjectPath &path :
             qdbus_cast<QList<QDBusObjectPath>>(components.arguments().value(0))) {
            const QDBusMessage names = session.call(QDBusMessage::createMethodCall(
                QStringLiteral("org.kde.kglobalaccel"), path.path(),
                QStringLiteral("org.kde.kglobalaccel.Component"), QStringLiteral("shortcutNames")));
            held = held || names.arguments().value(0).toStringList().contains(u"capture-clipboard");
        }
        qInfo("The real portal %s the shortcut (trigger \"%s\"); kglobalaccel %s it.",
              backend.isBound() ? "bound" : "did not bind", qPrintable(backend.trigger()),
              held ? "holds" : "lacks");
        QCOMPARE(backend.isBound(), held);
        const int outcome = held ? int(HotkeyState::Active) : int(HotkeyState::Declined);
        QCOMPARE(states.last(), outcome);

        // The portal process ends (a crash, an update): the backend starts
        // it again by asking, and binds anew.
        const QDBusReply<uint> pid =
            session.interface()->servicePid(QStringLiteral("org.freedesktop.portal.Desktop"));
        QVERIFY(pid.isValid());
        states.clear();
        QVERIFY(::kill(pid_t(pid.value()), SIGTERM) == 0);
        QVERIFY(QTest::qWaitFor([&] { return states.size() >= 2 && states.last() == outcome; }, 30000));
        QCOMPARE(states.first(), int(HotkeyState::Pending));
    }

private:
    struct Stack {
        Stack()
        {
            if (!bus.ok())
                return;
            qDBusRegisterMetaType<PortalShortcut>();
            qDBusRegisterMetaType<QList<PortalShortcut>>();
            static int stacks = 0; // connection names are process-wide
            const QString n = QString::number(++stacks);
            clientName = QStringLiteral("stack-client-") + n;
            portalName = QStringLiteral("stack-portal-") + n;
            portalBus = bus.connect(portalName);
            portal = std::make_unique<FakePortal>(portalBus);
            portalBus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), portal.get(),
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
            portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
            backend = std::make_unique<PortalHotkeyBackend>(bus.connect(clientName));
            backend->stateChanged = [this](HotkeyState s, const QString &) { states << int(s); };
        }
        ~Stack()
        {
            backend.reset();
            QDBusConnection::disconnectFromBus(clientName);
            QDBusConnection::disconnectFromBus(portalName);
        }
        bool ok() const { return bus.ok(); }
        QString clientName, portalName;
        test::PrivateBus bus;
        QDBusConnection portalBus{QString()};
        std::unique_ptr<FakePortal> portal;
        std::unique_ptr<PortalHotkeyBackend> backend;
        QList<int> states;
    };
};

QTEST_GUILESS_MAIN(TestPortalHotkey)
#include "tst_portalhotkey.moc"
