// Pendrel Publisher: a tray application that turns captured text into
// published articles.

#include "platform/DesktopSession.h"
#include "shell/PendrelPublisherApp.h"
#include "shell/SingleInstance.h"
#include "state/AppConfiguration.h"
#include "state/AppResources.h"
#include "support/TerminationSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QImage>
#include <QMessageBox>

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

// Said on stderr, and in a window as well when there is a screen to show
// it on: launched from a menu, nobody reads stderr.
int reportUnusableFolder(const pendrel::SingleInstance &instance)
{
    const QString text = QStringLiteral("Pendrel Publisher cannot start: its data folder %1 cannot be used (%2).")
                             .arg(QDir::toNativeSeparators(instance.lockFolder()), instance.folderProblem());
    std::fprintf(stderr, "%s\n", qPrintable(text));
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::critical(nullptr, QApplication::applicationName(), text);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    const bool platformChosen = pendrel::chooseQtPlatform(); // natively on Wayland
    QApplication app(argc, argv);
    if (platformChosen)
        pendrel::forgetQtPlatformChoice();
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
    switch (instance.claim()) {
    case pendrel::SingleInstance::Claim::claimed:
        break;
    case pendrel::SingleInstance::Claim::anotherRuns:
        return 0; // the running copy shows its panel
    case pendrel::SingleInstance::Claim::folderUnusable:
        return reportUnusableFolder(instance);
    }

    // A logout or `kill` ends the program through its normal shutdown, which
    // writes the state file's waiting save.
    if (!pendrel::quitOnTerminationSignals())
        std::fprintf(stderr, "pendrel-publisher: termination signals will end the program without saving\n");

    pendrel::PendrelPublisherApp publisher;
    QObject::connect(&instance, &pendrel::SingleInstance::showPanelRequested, &publisher,
                     &pendrel::PendrelPublisherApp::showPanel);
    publisher.launch();
    return app.exec();
}
