#include "platform/PortalHotkeyBackend.h"

#include "support/Tasks.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
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
QVariantList bindArguments(const QString &session, const QString &token)
{
    QVariantMap properties;
    properties.insert(QStringLiteral("description"),
                      QStringLiteral("Capture the clipboard into Pendrel Publisher"));
    properties.insert(QStringLiteral("preferred_trigger"), QStringLiteral("LOGO+SHIFT+s"));
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

PortalHotkeyBackend::PortalHotkeyBackend(QDBusConnection bus, QObject *parent)
    : QObject(parent), bus_(std::move(bus))
{
    registerTypes();
    // Any sender: the session handle tells our presses apart, and a portal
    // that (re)starts later is still heard. The slot reads the message
    // itself (QtDBus would not bind the typed arguments of this signal).
    bus_.connect(QString(), kPath, kInterface, QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusMessage)));
}

bool PortalHotkeyBackend::isAvailable(const QDBusConnection &bus)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::BlockWithGui, 2000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool PortalHotkeyBackend::registerHotkey(std::function<void()> pressed)
{
    if (!isAvailable(bus_))
        return false;
    pressed_ = std::move(pressed);
    startDetached(bind(), QStringLiteral("Binding the global shortcut"));
    return true;
}

void PortalHotkeyBackend::unregisterHotkey()
{
    pressed_ = nullptr;
    if (session_.isEmpty())
        return;
    // Closing the session drops its shortcuts.
    bus_.call(QDBusMessage::createMethodCall(kService, session_,
                                             QStringLiteral("org.freedesktop.portal.Session"),
                                             QStringLiteral("Close")),
              QDBus::NoBlock);
    session_.clear();
}

QCoro::Task<std::optional<QVariantMap>> PortalHotkeyBackend::request(const QString &method,
                                                                     QVariantList arguments, QString token)
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
    const QDBusMessage reply = co_await pending;
    std::optional<QVariantMap> results;
    if (reply.type() == QDBusMessage::ReplyMessage) {
        // The desktop may ask the user first; give them time.
        if (!response_) {
            auto responded =
                qCoro(this, &PortalHotkeyBackend::responded, std::chrono::minutes(5)); // named: GCC 12
            co_await responded;
        }
        if (response_ && response_->first == 0)
            results = response_->second;
    }
    bus_.disconnect(kService, requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                    QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    co_return results;
}

QCoro::Task<void> PortalHotkeyBackend::bind()
{
    const QString requestToken = newToken();
    const QVariantList createArguments{createOptions(requestToken, newToken())};
    const QString createSession = QStringLiteral("CreateSession");
    const std::optional<QVariantMap> created = co_await request(createSession, createArguments, requestToken);
    if (!created)
        co_return;
    const QString session = created->value(QStringLiteral("session_handle")).toString();
    if (session.isEmpty())
        co_return;
    session_ = session;

    const QString bindToken = newToken();
    const QVariantList arguments = bindArguments(session, bindToken);
    const QString bindShortcuts = QStringLiteral("BindShortcuts");
    co_await request(bindShortcuts, arguments, bindToken);
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
    if (session.path() == session_ && id == shortcutID && pressed_)
        pressed_();
}

} // namespace pendrel
