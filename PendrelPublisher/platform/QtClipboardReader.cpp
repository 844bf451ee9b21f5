#include "platform/QtClipboardReader.h"

#include "platform/DesktopSession.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>

namespace pendrel {

namespace {

// "text/plain" and its charset variants; QMimeData::hasText() and text()
// would also take a file manager's text/uri-list, which is not text the user
// copied.
std::optional<QString> plainTextFormat(const QStringList &formats)
{
    std::optional<QString> chosen;
    for (const QString &format : formats) {
        const QString type = format.section(u';', 0, 0).trimmed();
        if (type.compare(QLatin1StringView("text/plain"), Qt::CaseInsensitive) != 0)
            continue;
        if (format.contains(QLatin1StringView("utf-8"), Qt::CaseInsensitive))
            return format;
        if (!chosen || format.size() < chosen->size())
            chosen = format; // the plain "text/plain" over a named charset
    }
    return chosen;
}

QString decoded(const QString &format, const QByteArray &bytes)
{
    const qsizetype at = format.indexOf(QLatin1StringView("charset="), 0, Qt::CaseInsensitive);
    if (at >= 0) {
        const QString charset = format.mid(at + 8).section(u';', 0, 0).remove(u'"').trimmed();
        QStringDecoder decoder(charset.toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    // Without a charset, Qt and the desktops hand text/plain over as UTF-8.
    return QString::fromUtf8(bytes);
}

// wl-paste's output, or nothing when it failed or took too long.
std::optional<QByteArray> wlPaste(const QString &program, const QStringList &arguments)
{
    QProcess paste;
    paste.start(program, arguments, QIODevice::ReadOnly);
    if (!paste.waitForFinished(3000)) {
        paste.kill();
        paste.waitForFinished(1000);
        return std::nullopt;
    }
    if (paste.exitStatus() != QProcess::NormalExit || paste.exitCode() != 0)
        return std::nullopt;
    return paste.readAllStandardOutput();
}

// On Wayland a client reads the clipboard only while one of its windows has
// the keyboard focus, which a global shortcut never gives us. wl-paste
// reads it through the compositor's data-control protocol (wlroots
// compositors, KWin) without any focus. Nothing when it cannot; Qt's own
// read then stands (right whenever our panel has the focus).
std::optional<QString> readThroughWlPaste()
{
    // By the session, not Qt's platform: under Xwayland (QT_QPA_PLATFORM=xcb)
    // an X11 client sees a Wayland program's copy only while it has the focus.
    if (sessionKind() != SessionKind::Wayland)
        return std::nullopt;
    // With the focus (the panel's capture button) Qt's own read is right,
    // and wl-paste would, without data-control (GNOME), take the focus.
    if (QGuiApplication::focusWindow())
        return std::nullopt;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("wl-paste"));
    if (program.isEmpty())
        return std::nullopt;
    // Without data-control (GNOME) every wl-paste run takes the focus from
    // the user's window for a moment: one run reads the text in the type
    // nearly every program offers. Only where that type is missing (or the
    // clipboard is empty) does a second run ask for plain text.
    for (const QString &format : {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("text/plain")}) {
        if (const std::optional<QByteArray> bytes =
                wlPaste(program, {QStringLiteral("--no-newline"), QStringLiteral("--type"), format}))
            return decoded(format, *bytes);
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> QtClipboardReader::plainText() const
{
    if (std::optional<QString> read = readThroughWlPaste())
        return read;
    const QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return std::nullopt;
    const QMimeData *data = clipboard->mimeData(QClipboard::Clipboard);
    if (!data)
        return std::nullopt;
    const std::optional<QString> format = plainTextFormat(data->formats());
    if (!format)
        return std::nullopt;
    return decoded(*format, data->data(*format));
}

} // namespace pendrel
