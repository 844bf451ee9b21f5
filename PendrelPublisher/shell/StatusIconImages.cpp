#include "shell/StatusIconImages.h"

#include "state/AppResources.h"
#include "ui/PanelPieces.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

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

// Strokes that hold 3:1 against any usual panel of their side: Adwaita's
// light and dark headers, Xfce's and Breeze's dark panels.
const QColor lightStroke(0xf6, 0xf5, 0xf4);
const QColor darkStroke(0x24, 0x1f, 0x31);

// The badge: a disc in the bottom trailing corner, cut off from the symbol by
// a clear ring, with its mark cut out of it, so the shape alone tells the
// states apart (and survives monochrome).
void drawBadge(QImage &image, const IconLook &look, const QColor &fill)
{
    const double s = image.width() / 18.0;
    const QRectF disc(8.5 * s, 8.5 * s, 9.5 * s, 9.5 * s);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(disc.adjusted(-1.5 * s, -1.5 * s, 1.5 * s, 1.5 * s));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setBrush(fill);
    p.drawEllipse(disc);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    const QPointF c = disc.center();
    switch (look.badge) {
    case IconBadge::success: {
        QPainterPath check;
        check.moveTo(c + QPointF(-2.4 * s, 0.1 * s));
        check.lineTo(c + QPointF(-0.6 * s, 1.9 * s));
        check.lineTo(c + QPointF(2.5 * s, -1.8 * s));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::black, 1.6 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(check);
        break;
    }
    case IconBadge::error:
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(c.x() - 0.8 * s, c.y() - 3.2 * s, 1.6 * s, 4.0 * s), 0.7 * s, 0.7 * s);
        p.drawEllipse(QPointF(c.x(), c.y() + 2.5 * s), 0.95 * s, 0.95 * s);
        break;
    case IconBadge::working:
        // Three dots; the large one moves with the frame.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        for (int i = 0; i < 3; ++i) {
            const double r = (i == look.frame % 3 ? 1.3 : 0.75) * s;
            p.drawEllipse(QPointF(c.x() + (i - 1) * 2.8 * s, c.y()), r, r);
        }
        break;
    case IconBadge::none:
        break;
    }
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

TrayIconVariant resolve(TrayIconStyle style, const QColor &panel)
{
    switch (style) {
    case TrayIconStyle::light:
        return TrayIconVariant::light;
    case TrayIconStyle::dark:
        return TrayIconVariant::dark;
    case TrayIconStyle::colour:
        return TrayIconVariant::colour;
    case TrayIconStyle::automatic:
        break;
    }
    return contrastRatio(lightStroke, panel) > contrastRatio(darkStroke, panel) ? TrayIconVariant::light
                                                                               : TrayIconVariant::dark;
}

QColor strokeColor(TrayIconVariant variant)
{
    return variant == TrayIconVariant::light ? lightStroke : darkStroke;
}

QImage image(const IconLook &look, TrayIconVariant variant, int size)
{
    const std::optional<QImage> source = brandImage();
    QImage out;
    if (!source) {
        out = fallback().pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (out.isNull()) {
            out = QImage(size, size, QImage::Format_ARGB32_Premultiplied);
            out.fill(Qt::transparent);
        }
    } else if (variant == TrayIconVariant::colour) {
        out = draw(*source, size, look.tint);
    } else {
        out = draw(*source, size, strokeColor(variant));
    }
    if (look.badge != IconBadge::none) {
        const QColor fill = variant == TrayIconVariant::colour ? look.tint.value_or(QColor(0x14, 0x5c, 0xbd))
                                                               : strokeColor(variant);
        drawBadge(out, look, fill);
    }
    return out;
}

QIcon icon(const IconLook &look, TrayIconVariant variant)
{
    QIcon result;
    for (const int size : {18, 36})
        result.addPixmap(QPixmap::fromImage(image(look, variant, size)));
    return result;
}

QString styleName(TrayIconStyle style)
{
    switch (style) {
    case TrayIconStyle::light:
        return QStringLiteral("light");
    case TrayIconStyle::dark:
        return QStringLiteral("dark");
    case TrayIconStyle::colour:
        return QStringLiteral("colour");
    case TrayIconStyle::automatic:
        break;
    }
    return QStringLiteral("automatic");
}

std::optional<TrayIconStyle> styleFromName(const QString &name)
{
    for (const TrayIconStyle style :
         {TrayIconStyle::automatic, TrayIconStyle::light, TrayIconStyle::dark, TrayIconStyle::colour})
        if (styleName(style) == name)
            return style;
    return std::nullopt;
}

QIcon applicationIcon()
{
    QIcon bundled;
    for (const int size : {32, 48, 64, 128, 256})
        bundled.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/com.pendrel.publisher.png").arg(size));
    return QIcon::fromTheme(QStringLiteral("com.pendrel.publisher"), bundled);
}

} // namespace pendrel::StatusIconImages
