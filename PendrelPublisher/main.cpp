// Pendrel Publisher: a tray application that turns captured text into
// published articles.

#include "platform/DesktopSession.h"
#include "shell/AccessibleTree.h"
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
#include <QTimer>

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
    pendrel::installAccessibleTree();
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
    const QCommandLineOption capture(
        QStringLiteral("capture"),
        QStringLiteral("Capture the clipboard into a new article, as Super+Shift+S does (in the running copy; "
                       "starts the application first when it is not running)."));
    options.addOption(capture);
    const QCommandLineOption show(
        QStringLiteral("show"),
        QStringLiteral("Open the panel (of the running copy; starts the application first when it is not running)."));
    options.addOption(show);
    options.process(app);
    if (options.isSet(check))
        return checkInstallation();

    const QString bundle = pendrel::AppConfiguration::bundleIdentifier();
    pendrel::SingleInstance instance(
        QDir(pendrel::PersistenceStore::defaultBaseFolder()).filePath(pendrel::AppConfiguration::bundleFolderName(bundle)),
        bundle);
    // A plain second launch opens the running copy's panel too.
    switch (instance.claim(options.isSet(capture) ? pendrel::SingleInstance::Request::capture
                                                   : pendrel::SingleInstance::Request::showPanel)) {
    case pendrel::SingleInstance::Claim::claimed:
        break;
    case pendrel::SingleInstance::Claim::anotherRuns:
        if (!instance.handOverProblem().isEmpty()) {
            std::fprintf(stderr, "pendrel-publisher: %s\n", qPrintable(instance.handOverProblem()));
            return 1;
        }
        return 0; // the running copy does it
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
    QObject::connect(&instance, &pendrel::SingleInstance::captureRequested, &publisher,
                     &pendrel::PendrelPublisherApp::capture);
    publisher.launch();
    // Nothing ran yet: the action is what this first copy does once it is up.
    if (options.isSet(capture))
        publisher.capture();
    else if (options.isSet(show))
        QTimer::singleShot(350, &publisher, &pendrel::PendrelPublisherApp::showPanel); // as the launch's own
    return app.exec();
}
