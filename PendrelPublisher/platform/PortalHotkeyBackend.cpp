#include "platform/PortalHotkeyBackend.h"

#include "support/Tasks.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <QCoroDBus>
#include <QCoroSignal>

namespace pendrel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

QString newToken()
{
    return QStringLiteral("pendrel_") + QUuid::createUuid().toString(QUuid::Id128);
}

// Built outside the coroutine: GCC 12 cannot keep these literals in its frame.
QVariantList bindArguments(const QString &session, const QString &token, const ShortcutKeys &keys)
{
    QVariantMap properties;
    properties.insert(QStringLiteral("description"),
                      QStringLiteral("Capture the clipboard into Pendrel Publisher"));
    properties.insert(QStringLiteral("preferred_trigger"), keys.portalTrigger());
    const QList<PortalShortcut> shortcuts{
        PortalShortcut{PortalHotkeyBackend::shortcutID.toString(), properties}};
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    return {QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(shortcuts), QString(),
            options};
}

QVariantMap createOptions(const QString &requestToken, const QString &sessionToken)
{
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), requestToken);
    options.insert(QStringLiteral("session_handle_token"), sessionToken);
    return options;
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

QList<PortalShortcut> portalShortcuts(const QVariant &value)
{
    registerTypes();
    if (value.canConvert<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() == u"a(sa{sv})")
            return qdbus_cast<QList<PortalShortcut>>(argument);
        return {};
    }
    return value.value<QList<PortalShortcut>>();
}

PortalHotkeyBackend::PortalHotkeyBackend(QDBusConnection bus, QObject *parent)
    : QObject(parent), bus_(std::move(bus)),
      watcher_(kService, bus_, QDBusServiceWatcher::WatchForOwnerChange)
{
    registerTypes();
    // The portal restarted: its sessions, and our shortcut, went with it.
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                ++generation_;
                session_.clear();
                bound_ = false;
                trigger_.clear();
                if (!pressed_)
                    return;
                if (newOwner.isEmpty()) {
                    // Started on demand: nobody may ask for it again soon, so
                    // we do, once it has had a moment to go.
                    report(HotkeyState::Pending);
                    const int generation = generation_;
                    QTimer::singleShot(std::chrono::seconds(1), this, [this, generation] {
                        if (pressed_ && generation == generation_)
                            startDetached(start(), QStringLiteral("Binding the global shortcut again"));
                    });
                    return;
                }
                // Also where our own question started it: a portal without
                // GlobalShortcuts (GNOME 43's) is no reason to try binding.
                startDetached(start(), QStringLiteral("Binding the global shortcut again"));
            });
    // Any sender: the session handle tells our presses apart, and a portal
    // that (re)starts later is still heard. The slot reads the message
    // itself (QtDBus would not bind the typed arguments of this signal).
    bus_.connect(QString(), kPath, kInterface, QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusMessage)));
    bus_.connect(QString(), kPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
                 SLOT(onShortcutsChanged(QDBusMessage)));
}

QCoro::Task<bool> PortalHotkeyBackend::isAvailable(QDBusConnection bus)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    const QDBusPendingCall asking = bus.asyncCall(get, 2000); // named: GCC 12
    const QDBusMessage reply = co_await asking;
    co_return reply.type() == QDBusMessage::ReplyMessage;
}

bool PortalHotkeyBackend::registerHotkey(std::function<void()> pressed)
{
    pressed_ = std::move(pressed);
    startDetached(start(), QStringLiteral("Binding the global shortcut"));
    return true;
}

QCoro::Task<void> PortalHotkeyBackend::start()
{
    const int generation = generation_;
    const QPointer<PortalHotkeyBackend> self(this);
    const bool available = co_await isAvailable(bus_);
    // Gone, unbound, or the portal (re)started meanwhile, which binds on its own.
    if (!self || generation != generation_ || !pressed_)
        co_return;
    if (!available) {
        pressed_ = nullptr;
        report(HotkeyState::Unavailable);
        co_return;
    }
    // Only a portal that is there asks the desktop (and maybe the user).
    report(HotkeyState::Pending);
    co_await bind();
}

void PortalHotkeyBackend::unregisterHotkey()
{
    pressed_ = nullptr;
    ++generation_;
    bound_ = false;
    if (session_.isEmpty())
        return;
    // Closing the session drops its shortcuts.
    bus_.call(QDBusMessage::createMethodCall(kService, session_,
                                             QStringLiteral("org.freedesktop.portal.Session"),
                                             QStringLiteral("Close")),
              QDBus::NoBlock);
    session_.clear();
}

QCoro::Task<std::optional<std::pair<uint, QVariantMap>>>
PortalHotkeyBackend::request(const QString &method, QVariantList arguments, QString token)
{
    // The answer comes as a Response signal on a request object whose path
    // is known in advance; listen there before calling so that it cannot be missed.
    QString sender = bus_.baseService().mid(1);
    sender.replace(u'.', u'_');
    const QString requestPath = kPath + QStringLiteral("/request/") + sender + u'/' + token;
    bus_.connect(kService, requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                 QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    response_.reset();
    const QDBusPendingCall pending = bus_.asyncCall(call);
    // The answer may come after we are gone (the program quitting).
    const QPointer<PortalHotkeyBackend> self(this);
    const QDBusMessage reply = co_await pending;
    if (!self)
        co_return std::nullopt;
    std::optional<std::pair<uint, QVariantMap>> results;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning("The desktop portal refused %s: %s", qPrintable(method), qPrintable(reply.errorMessage()));
    } else {
        // The desktop may ask the user first; give them time.
        if (!response_) {
            auto responded =
                qCoro(this, &PortalHotkeyBackend::responded, std::chrono::minutes(5)); // named: GCC 12
            co_await responded;
            if (!self)
                co_return std::nullopt;
        }
        results = response_;
    }
    bus_.disconnect(kService, requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                    QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    co_return results;
}

QCoro::Task<void> PortalHotkeyBackend::bind()
{
    const int generation = ++generation_;
    const QPointer<PortalHotkeyBackend> self(this);
    // Gone, unbound, or the portal restarted meanwhile: this bind is over.
    const auto over = [&] { return !self || generation != generation_; };
    // Newer portals learn a host application's id from this call; 1.16
    // knows no Registry and takes it from the systemd scope the desktop
    // launched us in (app-com.pendrel.publisher-*.scope and the like).
    QDBusMessage registration = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.host.portal.Registry"), QStringLiteral("Register"));
    registration << appID.toString() << QVariantMap();
    const QDBusPendingCall registering = bus_.asyncCall(registration); // named: GCC 12
    const QDBusMessage registered = co_await registering;
    if (over())
        co_return;
    if (registered.type() == QDBusMessage::ErrorMessage)
        qDebug("No host registry in this portal: %s", qPrintable(registered.errorMessage()));

    const QString requestToken = newToken();
    const QVariantList createArguments{createOptions(requestToken, newToken())};
    const QString createSession = QStringLiteral("CreateSession");
    const auto created = co_await request(createSession, createArguments, requestToken);
    if (over())
        co_return;
    const QString session = created && created->first == 0
                                ? created->second.value(QStringLiteral("session_handle")).toString()
                                : QString();
    if (session.isEmpty()) {
        report(HotkeyState::Declined);
        co_return;
    }
    session_ = session;

    const QString bindToken = newToken();
    const QVariantList arguments = bindArguments(session, bindToken, keys_);
    const QString bindShortcuts = QStringLiteral("BindShortcuts");
    const auto answer = co_await request(bindShortcuts, arguments, bindToken);
    if (over())
        co_return;
    // 1: the user said no in the desktop's dialog; 2: the desktop did.
    if (!answer || answer->first != 0) {
        qInfo("The desktop declined the shortcut (portal response %u).", answer ? answer->first : 2u);
        report(HotkeyState::Declined);
        co_return;
    }
    takeShortcuts(portalShortcuts(answer->second.value(QStringLiteral("shortcuts"))));
}

void PortalHotkeyBackend::takeShortcuts(const QList<PortalShortcut> &shortcuts)
{
    bound_ = false;
    trigger_.clear();
    for (const PortalShortcut &shortcut : shortcuts) {
        if (shortcut.id == shortcutID) {
            bound_ = true;
            trigger_ = shortcut.properties.value(QStringLiteral("trigger_description")).toString();
        }
    }
    // A success that lists nothing binds nothing (Plasma 5.27's portal
    // answers so, having opened System Settings instead).
    report(bound_ ? HotkeyState::Active : HotkeyState::Declined, trigger_);
}

void PortalHotkeyBackend::onShortcutsChanged(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (args.size() < 2 || session_.isEmpty() || qvariant_cast<QDBusObjectPath>(args[0]).path() != session_)
        return;
    takeShortcuts(portalShortcuts(args[1]));
}

void PortalHotkeyBackend::onResponse(uint response, const QVariantMap &results)
{
    response_.emplace(response, results);
    emit responded(response, results);
}

void PortalHotkeyBackend::onActivated(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (args.size() < 2)
        return;
    const QDBusObjectPath session = qvariant_cast<QDBusObjectPath>(args[0]);
    const QString id = args[1].toString();
    if (!session_.isEmpty() && session.path() == session_ && id == shortcutID && pressed_)
        pressed_();
}

} // namespace pendrel
