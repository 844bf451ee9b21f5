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
#include <optional>

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
    std::printf("%s %s (%s), resources in %s\n", qPrintable(QCoreApplication::applicationName()),
                qPrintable(QCoreApplication::applicationVersion()),
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

// The program's options, described for --help.
struct Options {
    QCommandLineParser parser;
    QCommandLineOption check{QStringLiteral("check-installation"),
                             QStringLiteral("Check that the application's resources are installed, then exit.")};
    QCommandLineOption capture{
        QStringLiteral("capture"),
        QStringLiteral("Capture the clipboard into a new article, as the keyboard shortcut does (in the running copy; "
                       "starts the application first when it is not running).")};
    QCommandLineOption show{
        QStringLiteral("show"),
        QStringLiteral("Open the panel (of the running copy; starts the application first when it is not running).")};
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();

    Options()
    {
        parser.setApplicationDescription(
            QStringLiteral("Turns captured text or a web address into a published blog article."));
        parser.addOption(check);
        parser.addOption(capture);
        parser.addOption(show);
    }

    // Answered without a display: over ssh there is none, and a GUI
    // application object would end the program before it could answer.
    [[nodiscard]] bool answeredWithoutDisplay() const
    {
        return parser.isSet(help) || parser.isSet(version) || parser.isSet(check)
               || parser.isSet(QStringLiteral("help-all"));
    }
};

QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// The running copy has been asked (or could not be): this one ends.
int handedOver(const pendrel::SingleInstance &instance)
{
    if (!instance.handOverProblem().isEmpty()) {
        std::fprintf(stderr, "pendrel-publisher: %s\n", qPrintable(instance.handOverProblem()));
        return 1;
    }
    return 0; // the running copy does it
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Pendrel Publisher"));
    QCoreApplication::setApplicationVersion(pendrel::AppConfiguration::shortVersion());
    Options options;
    // Read before any application object: what needs no display is answered
    // by a core application, and a launch that only hands its request to the
    // running copy makes nothing of a GUI either (a desktop's shortcut runs
    // `--capture` at every press). Arguments this cannot read (Qt's own,
    // such as -platform) are left to the full application below.
    const QStringList arguments = argumentsOf(argc, argv);
    const bool understood = options.parser.parse(arguments);
    // Nothing to show a window on, and no platform asked for: a mistyped
    // option is said here, not by Qt failing to find a display.
    const bool displayless = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                             && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
                             && !arguments.contains(QStringLiteral("-platform"));
    if (options.answeredWithoutDisplay() || (!understood && displayless)) {
        QCoreApplication core(argc, argv);
        options.parser.process(core); // --help and --version print and end here
        return checkInstallation();
    }

    const QString bundle = pendrel::AppConfiguration::bundleIdentifier();
    pendrel::SingleInstance instance(
        QDir(pendrel::PersistenceStore::defaultBaseFolder()).filePath(pendrel::AppConfiguration::bundleFolderName(bundle)),
        bundle);
    // A plain second launch opens the running copy's panel too.
    const auto request = [&options] {
        return options.parser.isSet(options.capture) ? pendrel::SingleInstance::Request::capture
                                                     : pendrel::SingleInstance::Request::showPanel;
    };
    std::optional<pendrel::SingleInstance::Claim> claim;
    if (understood) {
        claim = instance.lock();
        if (*claim == pendrel::SingleInstance::Claim::anotherRuns) {
            QCoreApplication core(argc, argv); // for the session bus
            instance.handOver(request());
            return handedOver(instance);
        }
        // This copy is the one: its state file is read while the rest of
        // it starts (a preview replaces the stored state, so there it is not).
        if (*claim == pendrel::SingleInstance::Claim::claimed && qEnvironmentVariableIsEmpty("PENDREL_DEBUG_PREVIEW_STATE"))
            pendrel::PersistenceStore::startEarlyLoad(pendrel::PersistenceStore::defaultBaseFolder(), bundle);
    }

    const bool platformChosen = pendrel::chooseQtPlatform(); // natively on Wayland
    const bool gtkAccessibilityHeld = pendrel::holdGtkAccessibilityOut();
    QApplication app(argc, argv);
    if (gtkAccessibilityHeld)
        pendrel::releaseGtkAccessibility();
    pendrel::installAccessibleTree();
    if (platformChosen)
        pendrel::forgetQtPlatformChoice();
    QApplication::setDesktopFileName(QStringLiteral("com.pendrel.publisher"));
    // A tray application: closing the panel window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    options.parser.process(app); // what Qt's own options left, with its errors
    if (options.answeredWithoutDisplay())
        return checkInstallation();

    switch (claim ? instance.publish(*claim) : instance.claim(request())) {
    case pendrel::SingleInstance::Claim::claimed:
        break;
    case pendrel::SingleInstance::Claim::anotherRuns:
        return handedOver(instance);
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
    QObject::connect(&instance, &pendrel::SingleInstance::captureRequested, &publisher, [&publisher] {
        pendrel::StartupReport::captureRequested();
        publisher.capture();
    });
    publisher.launch();
    // Nothing ran yet: the action is what this first copy does once it is up.
    if (options.parser.isSet(options.capture))
        publisher.capture();
    else if (options.parser.isSet(options.show))
        QTimer::singleShot(350, &publisher, &pendrel::PendrelPublisherApp::showPanel); // as the launch's own
    return app.exec();
}
