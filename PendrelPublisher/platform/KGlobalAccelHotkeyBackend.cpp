#include "platform/KGlobalAccelHotkeyBackend.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QKeySequence>
#include <QPointer>

#include <algorithm>

#include "support/Tasks.h"

#include <QCoroDBus>

namespace pendrel {

namespace {

const QString kService = QStringLiteral("org.kde.kglobalaccel");
const QString kPath = QStringLiteral("/kglobalaccel");
const QString kInterface = QStringLiteral("org.kde.KGlobalAccel");
const QString kComponentInterface = QStringLiteral("org.kde.kglobalaccel.Component");

// kglobalaccel's setShortcut flags (KGlobalAccel::SetShortcutFlag):
// without NoAutoloading, keys the user picked earlier win over the ones
// asked for; IsDefault sets the default. SetPresent marks the action as
// served by a running program: without it the daemon finds the keys on a
// press but drops it as inactive (invokeShortcut still works).
// NoAutoloading makes the keys asked for win: what the user just chose in
// our settings replaces what the daemon kept.
constexpr uint kSetPresent = 2;
constexpr uint kNoAutoloading = 4;
constexpr uint kAutoload = kSetPresent;
constexpr uint kIsDefault = 8;

QStringList actionId()
{
    return {KGlobalAccelHotkeyBackend::component.toString(), KGlobalAccelHotkeyBackend::action.toString(),
            QStringLiteral("Pendrel Publisher"),
            QStringLiteral("Capture the clipboard into Pendrel Publisher")};
}

QList<int> keyCodes(const ShortcutKeys &keys)
{
    return {keys.combination().toCombined()};
}

QDBusPendingCall call(const QDBusConnection &bus, const QString &method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    return bus.asyncCall(message, 5000);
}

QVariantList setShortcutArguments(const ShortcutKeys &keys, uint flags)
{
    return {actionId(), QVariant::fromValue(keyCodes(keys)), flags};
}

} // namespace

KGlobalAccelHotkeyBackend::KGlobalAccelHotkeyBackend(QDBusConnection bus, QObject *parent)
    : QObject(parent), bus_(std::move(bus)),
      watcher_(kService, bus_, QDBusServiceWatcher::WatchForRegistration)
{
    qDBusRegisterMetaType<QList<int>>();
    // KWin restarted (or its daemon did): the registration went with it.
    connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (pressed_)
            startDetached(bind(), QStringLiteral("Binding the global shortcut again"));
    });
}

KGlobalAccelHotkeyBackend::~KGlobalAccelHotkeyBackend()
{
    unregisterHotkey();
}

bool KGlobalAccelHotkeyBackend::isAvailable(const QDBusConnection &bus)
{
    const QDBusConnectionInterface *names = bus.interface();
    return names && names->isServiceRegistered(kService);
}

bool KGlobalAccelHotkeyBackend::registerHotkey(std::function<void()> pressed)
{
    if (!isAvailable(bus_))
        return false;
    pressed_ = std::move(pressed);
    bus_.connect(kService, kPath, kInterface, QStringLiteral("yourShortcutsChanged"), this,
                 SLOT(onShortcutsChanged(QDBusMessage)));
    report(HotkeyState::Pending);
    startDetached(bind(), QStringLiteral("Binding the global shortcut"));
    return true;
}

QCoro::Task<void> KGlobalAccelHotkeyBackend::bind()
{
    const int generation = ++generation_;
    const QPointer<KGlobalAccelHotkeyBackend> self(this);
    const auto over = [&] { return !self || generation != generation_; };
    // Each call named, and its arguments built outside the awaits: GCC 12.
    const QVariantList id{actionId()};
    const QDBusPendingCall registering = call(bus_, QStringLiteral("doRegister"), id);
    const QDBusMessage registered = co_await registering;
    if (over())
        co_return;
    if (registered.type() != QDBusMessage::ReplyMessage) {
        report(HotkeyState::Unavailable);
        co_return;
    }
    // The default first, so that "reset to default" in System Settings
    // gives the chosen keys back. The daemon answers in order. Keys chosen
    // in our settings (or changed there since the last bind) replace the
    // daemon's; with Super+Shift+S a change made in System Settings stays.
    const ShortcutKeys chosen = keys_;
    const bool ours = !chosen.isDefault() || (lastAsked_ && *lastAsked_ != chosen);
    const uint flags = ours ? kSetPresent | kNoAutoloading : kAutoload;
    lastAsked_ = chosen;
    call(bus_, QStringLiteral("setShortcut"), setShortcutArguments(chosen, kIsDefault));
    const QDBusPendingCall assigning = call(bus_, QStringLiteral("setShortcut"), setShortcutArguments(chosen, flags));
    const QDBusMessage assigned = co_await assigning;
    if (over())
        co_return;
    if (assigned.type() != QDBusMessage::ReplyMessage || assigned.arguments().isEmpty()) {
        report(HotkeyState::Unavailable);
        co_return;
    }

    const QVariantList name{component.toString()};
    const QDBusPendingCall finding = call(bus_, QStringLiteral("getComponent"), name);
    const QDBusMessage path = co_await finding;
    if (over())
        co_return;
    const QString newPath = path.arguments().isEmpty()
                                ? QString()
                                : qvariant_cast<QDBusObjectPath>(path.arguments().first()).path();
    if (newPath != componentPath_) {
        if (!componentPath_.isEmpty())
            bus_.disconnect(kService, componentPath_, kComponentInterface,
                            QStringLiteral("globalShortcutPressed"), this,
                            SLOT(onPressed(QString, QString, qlonglong)));
        componentPath_ = newPath;
        if (!componentPath_.isEmpty())
            bus_.connect(kService, componentPath_, kComponentInterface,
                         QStringLiteral("globalShortcutPressed"), this,
                         SLOT(onPressed(QString, QString, qlonglong)));
    }
    QList<QKeySequence> keys;
    for (const int key : qdbus_cast<QList<int>>(assigned.arguments().first()))
        keys << QKeySequence(key);
    holder_.clear();
    if (std::none_of(keys.cbegin(), keys.cend(), [](const QKeySequence &k) { return !k.isEmpty(); })) {
        // Not ours: the daemon knows whose they are.
        const QVariantList key{keyCodes(chosen).first()};
        const QDBusPendingCall asking = call(bus_, QStringLiteral("action"), key);
        const QDBusMessage owner = co_await asking;
        if (over())
            co_return;
        if (owner.type() == QDBusMessage::ReplyMessage && !owner.arguments().isEmpty())
            holder_ = holderName(owner.arguments().first().toStringList());
    }
    setTrigger(keys);
}

QString KGlobalAccelHotkeyBackend::holderName(const QStringList &actionId)
{
    // component, action, component's friendly name, action's friendly name
    if (actionId.size() < 2 || actionId[0].isEmpty())
        return {};
    const QString action = actionId.value(3).isEmpty() ? actionId[1] : actionId[3];
    const QString component = actionId.value(2).isEmpty() ? actionId[0] : actionId[2];
    return QStringLiteral("\u201C%1\u201D (%2)").arg(action, component);
}

void KGlobalAccelHotkeyBackend::setTrigger(const QList<QKeySequence> &keys)
{
    QStringList names;
    for (const QKeySequence &key : keys) {
        if (!key.isEmpty())
            names << key.toString(QKeySequence::PortableText);
    }
    trigger_ = names.join(QStringLiteral(", "));
    // No keys: another component holds the chosen ones; the user can pick
    // others in our settings or in System Settings.
    report(trigger_.isEmpty() ? HotkeyState::Declined : HotkeyState::Active, trigger_);
}

void KGlobalAccelHotkeyBackend::unregisterHotkey()
{
    if (!pressed_)
        return;
    pressed_ = nullptr;
    ++generation_;
    // Inactive, not removed: the keys the user chose stay theirs.
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("setInactive"));
    message << actionId();
    bus_.call(message, QDBus::NoBlock);
}

void KGlobalAccelHotkeyBackend::onPressed(const QString &componentUnique, const QString &actionUnique,
                                          qlonglong)
{
    if (componentUnique == component && actionUnique == action && pressed_)
        pressed_();
}

// yourShortcutsChanged(as actionId, a(ai) keys): each key sequence as a
// structure of up to four Qt key codes.
void KGlobalAccelHotkeyBackend::onShortcutsChanged(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (args.size() < 2 || !pressed_)
        return;
    const QStringList id = args[0].toStringList();
    if (id.size() < 2 || id[0] != component || id[1] != action)
        return;
    const auto keys = args[1].value<QDBusArgument>();
    if (keys.currentSignature() != u"a(ai)")
        return;
    QList<QKeySequence> sequences;
    keys.beginArray();
    while (!keys.atEnd()) {
        QList<int> codes;
        keys.beginStructure();
        keys >> codes;
        keys.endStructure();
        codes.resize(4, 0);
        sequences << QKeySequence(codes[0], codes[1], codes[2], codes[3]);
    }
    keys.endArray();
    setTrigger(sequences);
}

} // namespace pendrel
