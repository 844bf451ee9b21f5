// Pendrel Publisher: a tray application that turns captured text into
// published articles.

#include "shell/PendrelPublisherApp.h"
#include "shell/SingleInstance.h"
#include "state/AppConfiguration.h"

#include "state/AppResources.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QImage>

#include <cstdio>

namespace {

// For packagers: the resource bundle is found and its images decode.
int checkInstallation()
{
    const QDir &bundle = pendrel::AppResources::bundle(); // ends the process when missing
    int broken = 0;
    for (const char *folder : {"Brand", "AuthProviders"}) {
        const QDir images(bundle.filePath(QLatin1String(folder)));
        const QStringList files = images.entryList({QStringLiteral("*.png")}, QDir::Files);
        if (files.isEmpty()) {
            std::fprintf(stderr, "no images in %s\n", qPrintable(images.path()));
            ++broken;
        }
        for (const QString &file : files) {
            if (QImage(images.filePath(file)).isNull()) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(images.filePath(file)));
                ++broken;
            }
        }
    }
    std::printf("%s %s (%s), resources in %s\n", qPrintable(QApplication::applicationName()),
                qPrintable(QApplication::applicationVersion()),
                qPrintable(pendrel::AppConfiguration::bundleIdentifier()), qPrintable(bundle.absolutePath()));
    return broken == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pendrel Publisher"));
    QApplication::setApplicationVersion(pendrel::AppConfiguration::shortVersion());
    QApplication::setDesktopFileName(QStringLiteral("com.pendrel.publisher"));
    // A tray application: closing the panel window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Turns captured text or a web address into a published blog article."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption check(QStringLiteral("check-installation"),
                                   QStringLiteral("Check that the application's resources are installed, then exit."));
    options.addOption(check);
    options.process(app);
    if (options.isSet(check))
        return checkInstallation();

    const QString bundle = pendrel::AppConfiguration::bundleIdentifier();
    pendrel::SingleInstance instance(
        QDir(pendrel::PersistenceStore::defaultBaseFolder()).filePath(pendrel::AppConfiguration::bundleFolderName(bundle)),
        bundle);
    if (!instance.claim())
        return 0; // the running copy shows its panel

    pendrel::PendrelPublisherApp publisher;
    QObject::connect(&instance, &pendrel::SingleInstance::showPanelRequested, &publisher,
                     &pendrel::PendrelPublisherApp::showPanel);
    publisher.launch();
    return app.exec();
}
