#include "platform/DesktopSession.h"

namespace pendrel {

SessionKind sessionKind(const QProcessEnvironment &env)
{
    const QString type = env.value(QStringLiteral("XDG_SESSION_TYPE")).toLower();
    if (type == u"wayland" || !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
        return SessionKind::Wayland;
    if (type == u"x11" || !env.value(QStringLiteral("DISPLAY")).isEmpty())
        return SessionKind::X11;
    return SessionKind::None;
}

bool isKdeDesktop(const QProcessEnvironment &env)
{
    const QStringList desktops = env.value(QStringLiteral("XDG_CURRENT_DESKTOP")).split(u':');
    return desktops.contains(QStringLiteral("KDE"), Qt::CaseInsensitive);
}

QByteArray qtPlatformFor(SessionKind kind)
{
    // xcb second: without Qt's Wayland plug-in the panel still shows
    // (the shortcut still goes through the desktop, never an X11 grab).
    return kind == SessionKind::Wayland ? QByteArrayLiteral("wayland;xcb") : QByteArray();
}

} // namespace pendrel

namespace pendrel {

bool chooseQtPlatform()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return false;
    const QByteArray platform = qtPlatformFor(sessionKind());
    if (platform.isEmpty())
        return false;
    qputenv("QT_QPA_PLATFORM", platform);
    return true;
}

void forgetQtPlatformChoice()
{
    qunsetenv("QT_QPA_PLATFORM");
}

} // namespace pendrel
