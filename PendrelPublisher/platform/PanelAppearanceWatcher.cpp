#include "platform/PanelAppearanceWatcher.h"

#include <QCoreApplication>
#include <QEvent>

namespace pendrel {

PanelAppearanceWatcher::PanelAppearanceWatcher(QDBusConnection bus, QObject *parent) : QObject(parent)
{
    settle_.setSingleShot(true);
    settle_.setInterval(settleMs);
    connect(&settle_, &QTimer::timeout, this, &PanelAppearanceWatcher::changed);
    // Any sender: xfconfd and the portal may start after us, or again.
    bus.connect(QString(), QStringLiteral("/org/xfce/Xfconf"), QStringLiteral("org.xfce.Xfconf"),
                QStringLiteral("PropertyChanged"), this, SLOT(onXfconfChanged(QDBusMessage)));
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
    const QVariantList args = message.arguments();
    if (args.size() >= 2 && xfconfRecolours(args[0].toString(), args[1].toString()))
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
