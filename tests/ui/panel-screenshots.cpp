// Renders the panel in each scene to <folder>/panel-<scene>.png, and for the
// main scenes the whole scrolling content as panel-<scene>-full.png; then
// the same under a dark desktop theme as panel-<scene>-on-dark(-full).png
// (the light look must not take anything from it), and in the dark look on
// that dark desktop as panel-<scene>-dark(-full).png.
// Usage: panel-screenshots <folder> [scene ...]

#include <QApplication>
#include <QDir>
#include <QTextStream>

#include "PanelScenes.h"
#include "shell/StatusIconImages.h"
#include "shell/StatusIconPresenter.h"

#include <QPainter>

using namespace pendrel;
using namespace pendrel::test;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        QTextStream(stderr) << "usage: panel-screenshots <folder> [scene ...]\n";
        return 2;
    }
    const QString folder = args.first();
    const QStringList only = args.mid(1);
    QDir().mkpath(folder);
    int failures = 0;
    if (only.isEmpty()) {
        // The tray icon, chosen automatically, on a light, an Adwaita-dark and
        // an Xfce-dark panel: idle, working, success, error.
        const QList<IconLook> looks = {
            IconLook{}, IconLook{StatusIconPresenter::processingColors[0], IconBadge::working, 1},
            IconLook{StatusIconPresenter::successTint, IconBadge::success},
            IconLook{StatusIconPresenter::errorTint, IconBadge::error}};
        const QStringList panels = {QStringLiteral("#f6f5f4"), QStringLiteral("#241f31"), QStringLiteral("#2b2b2b")};
        QImage strip(int(looks.size()) * 56 + 8, int(panels.size()) * 48, QImage::Format_RGB32);
        QPainter p(&strip);
        for (int row = 0; row < panels.size(); ++row) {
            const QColor panel(panels[row]);
            p.fillRect(0, row * 48, strip.width(), 48, panel);
            const TrayIconVariant variant = StatusIconImages::resolve(TrayIconStyle::automatic, panel);
            for (int i = 0; i < looks.size(); ++i)
                p.drawImage(QPoint(14 + i * 56, row * 48 + 6), StatusIconImages::image(looks[i], variant, 36));
        }
        p.end();
        const QString path = folder + QStringLiteral("/tray-icons.png");
        const bool saved = strip.save(path);
        QTextStream(stdout) << (saved ? "wrote " : "FAILED ") << path << '\n';
        failures += saved ? 0 : 1;
    }
    const std::tuple<DesktopTheme, PanelLook, const char *> runs[] = {
        {DesktopTheme::light, PanelLook::light, ""},
        {DesktopTheme::dark, PanelLook::light, "-on-dark"},
        {DesktopTheme::dark, PanelLook::dark, "-dark"}};
    for (const auto &[theme, look, suffixText] : runs) {
        useDesktopTheme(theme);
        const QString suffix = QString::fromLatin1(suffixText);
        for (const PanelScene &scene : panelScenes()) {
            const QString name = QString::fromLatin1(scene.name);
            if (!only.isEmpty() && !only.contains(name))
                continue;
            ShownScene shown = showScene(scene, look);
            const QString path = folder + QStringLiteral("/panel-") + name + suffix + QStringLiteral(".png");
            QWidget *content = shown.panel->scrollArea()->widget();
            const QString full = folder + QStringLiteral("/panel-") + name + suffix + QStringLiteral("-full.png");
            // The content alone has no background of its own: draw it on the panel's.
            QPixmap whole(content->size());
            whole.fill(panelColors(look).window);
            content->render(&whole);
            const bool saved = shown.panel->grab().save(path) && (!scene.fullLength || whole.save(full));
            QTextStream(stdout) << (saved ? "wrote " : "FAILED ") << path << '\n';
            failures += saved ? 0 : 1;
        }
    }
    return failures == 0 ? 0 : 1;
}
