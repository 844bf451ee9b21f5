#include "platform/QtClipboardReader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QStringDecoder>

namespace pendrel {

namespace {

// "text/plain" and its charset variants; QMimeData::hasText() and text()
// would also take a file manager's text/uri-list, which is not text the user
// copied.
std::optional<QString> plainTextFormat(const QMimeData &data)
{
    std::optional<QString> chosen;
    for (const QString &format : data.formats()) {
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

} // namespace

std::optional<QString> QtClipboardReader::plainText() const
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return std::nullopt;
    const QMimeData *data = clipboard->mimeData(QClipboard::Clipboard);
    if (!data)
        return std::nullopt;
    const std::optional<QString> format = plainTextFormat(*data);
    if (!format)
        return std::nullopt;
    return decoded(*format, data->data(*format));
}

} // namespace pendrel
