#include "shell/StatusIconImages.h"

#include "state/AppResources.h"

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
    QImage out(size, size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(0, 0, size, size), source);
    if (tint) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        painter.fillRect(QRect(0, 0, size, size), *tint);
    }
    return out;
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
