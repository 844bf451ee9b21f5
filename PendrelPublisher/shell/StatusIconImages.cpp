#include "shell/StatusIconImages.h"

#include "state/AppResources.h"
#include "ui/PanelPieces.h"

#include <QImage>
#include <QPainter>

namespace pendrel::StatusIconImages {

namespace {

std::optional<QImage> brandImage()
{
    const std::optional<QString> path = AppResources::imagePath(u"Brand", u"pendrel-symbol", u"png");
    if (!path)
        return std::nullopt;
    QImage image(*path);
    if (image.isNull())
        return std::nullopt;
    return image;
}

QIcon fallback()
{
    return QIcon::fromTheme(QStringLiteral("text-x-generic"), QIcon::fromTheme(QStringLiteral("document")));
}

QImage draw(const QImage &source, int size, const std::optional<QColor> &tint)
{
    if (tint)
        return tintedImage(source, QSize(size, size), *tint);
    return source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QIcon render(const std::optional<QColor> &tint)
{
    const std::optional<QImage> source = brandImage();
    if (!source)
        return fallback();
    QIcon icon;
    for (const int size : {18, 36})
        icon.addPixmap(QPixmap::fromImage(draw(*source, size, tint)));
    return icon;
}

} // namespace

bool hasBrandImage()
{
    return brandImage().has_value();
}

QIcon plain()
{
    return render(std::nullopt);
}

QIcon tinted(const QColor &color)
{
    return render(color);
}

} // namespace pendrel::StatusIconImages
