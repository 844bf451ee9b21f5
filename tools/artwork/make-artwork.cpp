// Draws the images of the resource bundle: our own artwork, kept as code so
// it can be changed and regenerated. Usage: make-artwork <bundle folder>
// (run with QT_QPA_PLATFORM=offscreen). Images are black on transparent so
// the tray can tint them; the panel draws them in its own colours.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The brand symbol: a page with a folded corner and a pen stroke across it.
void drawSymbol(QPainter &p, const QRectF &box, const QColor &ink = Qt::black)
{
    const qreal s = box.width();
    QPainterPath page;
    page.moveTo(box.left() + 0.18 * s, box.top() + 0.08 * s);
    page.lineTo(box.left() + 0.62 * s, box.top() + 0.08 * s);
    page.lineTo(box.left() + 0.84 * s, box.top() + 0.30 * s);
    page.lineTo(box.left() + 0.84 * s, box.top() + 0.92 * s);
    page.lineTo(box.left() + 0.18 * s, box.top() + 0.92 * s);
    page.closeSubpath();
    QPainterPath fold;
    fold.moveTo(box.left() + 0.62 * s, box.top() + 0.08 * s);
    fold.lineTo(box.left() + 0.62 * s, box.top() + 0.30 * s);
    fold.lineTo(box.left() + 0.84 * s, box.top() + 0.30 * s);
    QPainterPath nib;
    nib.moveTo(box.left() + 0.30 * s, box.top() + 0.78 * s);
    nib.lineTo(box.left() + 0.36 * s, box.top() + 0.62 * s);
    nib.lineTo(box.left() + 0.66 * s, box.top() + 0.36 * s);
    nib.lineTo(box.left() + 0.74 * s, box.top() + 0.44 * s);
    nib.lineTo(box.left() + 0.44 * s, box.top() + 0.70 * s);
    nib.closeSubpath();

    p.setPen(QPen(ink, 0.07 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(page);
    p.drawPath(fold);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(nib);
}

QImage symbol(int size)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawSymbol(p, QRectF(0, 0, size, size));
    return image;
}

// The application icon for launchers: the symbol in white on a rounded
// tile in the brand's reds.
QImage appIcon(int size)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(size * 0.04, size * 0.04, size * 0.92, size * 0.92);
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, QColor::fromRgbF(0.95f, 0.30f, 0.16f));
    fill.setColorAt(1, QColor::fromRgbF(0.80f, 0.08f, 0.16f));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(tile, size * 0.2, size * 0.2);
    drawSymbol(p, tile.adjusted(size * 0.16, size * 0.16, -size * 0.16, -size * 0.16), Qt::white);
    return image;
}

QImage wordmark(int width, int height, bool withSymbol)
{
    QImage image = canvas(width, height);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    qreal x = 0;
    if (withSymbol) {
        drawSymbol(p, QRectF(0, 0, height, height));
        x = height * 1.15;
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(int(height * 0.72));
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRectF(x, 0, width - x, height), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Pendrel"));
    return image;
}

// A provider mark: a rounded tile with the provider's initials cut out.
QImage letterTile(int size, const QString &letters)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(1, 1, size - 2, size - 2), size * 0.22, size * 0.22);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(int(size * (letters.size() > 1 ? 0.42 : 0.62)));
    QPainterPath text;
    const QFontMetricsF metrics(font);
    const qreal w = metrics.horizontalAdvance(letters);
    text.addText((size - w) / 2, (size + metrics.capHeight()) / 2, font, letters);
    p.fillPath(tile.subtracted(text), Qt::black);
    return image;
}

bool save(const QImage &image, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make-artwork <bundle folder> [<icon theme folder>]\n");
        return 2;
    }
    const QDir bundle(QString::fromLocal8Bit(argv[1]));
    if (!bundle.mkpath(QStringLiteral("Brand")) || !bundle.mkpath(QStringLiteral("AuthProviders")))
        return 1;
    const QDir brand(bundle.filePath(QStringLiteral("Brand")));
    const QDir providers(bundle.filePath(QStringLiteral("AuthProviders")));
    bool ok = save(symbol(64), brand, QStringLiteral("pendrel-symbol.png"));
    ok &= save(wordmark(280, 56, true), brand, QStringLiteral("pd_flat_logo_280.png"));
    ok &= save(wordmark(240, 56, false), brand, QStringLiteral("pendrel-wordmark.png"));
    ok &= save(wordmark(320, 64, true), brand, QStringLiteral("logo-email.png"));
    ok &= save(letterTile(64, QStringLiteral("G")), providers, QStringLiteral("google-mark.png"));
    ok &= save(letterTile(64, QStringLiteral("GH")), providers, QStringLiteral("github-mark.png"));
    ok &= save(letterTile(64, QStringLiteral("in")), providers, QStringLiteral("linkedin-mark.png"));
    ok &= save(letterTile(64, QStringLiteral("f")), providers, QStringLiteral("facebook-mark.png"));
    if (argc == 3) {
        const QDir theme(QString::fromLocal8Bit(argv[2]));
        for (const int size : {32, 48, 64, 128, 256}) {
            const QString folder = QStringLiteral("%1x%1/apps").arg(size);
            ok &= theme.mkpath(folder)
                  && save(appIcon(size), QDir(theme.filePath(folder)), QStringLiteral("com.pendrel.publisher.png"));
        }
    }
    return ok ? 0 : 1;
}
