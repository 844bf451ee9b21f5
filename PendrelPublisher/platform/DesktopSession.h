#pragma once

#include <QProcessEnvironment>

namespace pendrel {

enum class SessionKind { X11, Wayland, None };

// What the user logged into, from the session's environment, not from
// whatever display happens to accept a connection: a Wayland session also
// offers Xwayland, where an X11 key grab fires only while another X11
// window has the focus.
SessionKind sessionKind(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

// Whether the desktop is KDE Plasma (XDG_CURRENT_DESKTOP lists KDE). Its
// shortcut daemon can run elsewhere too (started by a KDE program on GNOME),
// but grabs keys on Wayland only inside KWin.
bool isKdeDesktop(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

// The Qt platform plugin(s) to ask for in that session, or empty to leave
// Qt's own choice (Qt 6.4 ignores a Wayland session on GNOME and would run
// under Xwayland).
QByteArray qtPlatformFor(SessionKind kind);

} // namespace pendrel

namespace pendrel {

// Before the QApplication: asks for qtPlatformFor(sessionKind()) unless the
// user chose a platform. True when it did; call forgetQtPlatformChoice()
// once the application exists, so that programs we start choose for themselves.
bool chooseQtPlatform();
void forgetQtPlatformChoice();

} // namespace pendrel
