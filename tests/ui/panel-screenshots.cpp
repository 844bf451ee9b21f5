// Renders the panel in each scene to <folder>/panel-<scene>.png, and for the
// main scenes the whole scrolling content as panel-<scene>-full.png.
// Usage: panel-screenshots <folder> [scene ...]

#include <QApplication>
#include <QDir>
#include <QTextStream>

#include "PanelScenes.h"

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
    for (const PanelScene &scene : panelScenes()) {
        const QString name = QString::fromLatin1(scene.name);
        if (!only.isEmpty() && !only.contains(name))
            continue;
        ShownScene shown = showScene(scene);
        const QString path = folder + QStringLiteral("/panel-") + name + QStringLiteral(".png");
        QWidget *content = shown.panel->scrollArea()->widget();
        const QString full = folder + QStringLiteral("/panel-") + name + QStringLiteral("-full.png");
        const bool saved = shown.panel->grab().save(path) && (!scene.fullLength || content->grab().save(full));
        QTextStream(stdout) << (saved ? "wrote " : "FAILED ") << path << '\n';
        failures += saved ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
