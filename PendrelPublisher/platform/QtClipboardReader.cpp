#include "platform/QtClipboardReader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace pendrel {

std::optional<QString> QtClipboardReader::plainText() const
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return std::nullopt;
    const QMimeData *data = clipboard->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

} // namespace pendrel
