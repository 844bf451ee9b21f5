#include "platform/PanelAppearanceWatcher.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QEvent>

namespace pendrel {

namespace xfconf {

namespace {
const QString service = QStringLiteral("org.xfce.Xfconf");
const QString path = QStringLiteral("/org/xfce/Xfconf");
const QString interface = QStringLiteral("org.xfce.Xfconf");
} // namespace

bool watch(QDBusConnection bus, QObject *receiver, const char *slot)
{
    return bus.connect(QString(), path, interface, QStringLiteral("PropertyChanged"), receiver, slot);
}

std::optional<Change> change(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (message.member() != u"PropertyChanged" || args.size() < 3)
        return std::nullopt;
    return Change{args[0].toString(), args[1].toString(), value(args[2])};
}

QDBusMessage getProperty(const QString &channel, const QString &property)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetProperty"));
    call << channel << property;
    return call;
}

QVariant value(const QVariant &argument)
{
    // A variant arrives as QDBusVariant, or as a QDBusArgument holding one.
    if (argument.userType() == qMetaTypeId<QDBusVariant>())
        return argument.value<QDBusVariant>().variant();
    if (argument.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument arg = argument.value<QDBusArgument>();
        if (arg.currentType() == QDBusArgument::VariantType) {
            QDBusVariant inner;
            arg >> inner;
            return inner.variant();
        }
    }
    return argument;
}

} // namespace xfconf

PanelAppearanceWatcher::PanelAppearanceWatcher(QDBusConnection bus, QObject *parent) : QObject(parent)
{
    settle_.setSingleShot(true);
    settle_.setInterval(settleMs);
    connect(&settle_, &QTimer::timeout, this, &PanelAppearanceWatcher::changed);
    // Any sender: xfconfd and the portal may start after us, or again.
    xfconf::watch(bus, this, SLOT(onXfconfChanged(QDBusMessage)));
    bus.connect(QString(), QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"), this,
                SLOT(onPortalSettingChanged(QDBusMessage)));
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool PanelAppearanceWatcher::xfconfRecolours(const QString &channel, const QString &property)
{
    // The panel's dark mode, colours and background live under /panels; the
    // GTK theme it is drawn with comes from xsettings.
    if (channel == u"xfce4-panel")
        return property == u"/panels" || property.startsWith(u"/panels/");
    if (channel == u"xsettings")
        return property == u"/Net/ThemeName";
    return false;
}

bool PanelAppearanceWatcher::portalRecolours(const QString &group, const QString &key)
{
    if (group == u"org.freedesktop.appearance")
        return key == u"color-scheme";
    if (group == u"org.gnome.desktop.interface")
        return key == u"color-scheme" || key == u"gtk-theme";
    // KDE's colour scheme (its panel follows it).
    if (group == u"org.kde.kdeglobals.General")
        return key == u"ColorScheme";
    return false;
}

void PanelAppearanceWatcher::onXfconfChanged(const QDBusMessage &message)
{
    if (const std::optional<xfconf::Change> change = xfconf::change(message);
        change && xfconfRecolours(change->channel, change->property))
        settle_.start();
}

void PanelAppearanceWatcher::onPortalSettingChanged(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (args.size() >= 2 && portalRecolours(args[0].toString(), args[1].toString()))
        settle_.start();
}

bool PanelAppearanceWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange)
        settle_.start();
    return QObject::eventFilter(watched, event);
}

} // namespace pendrel
